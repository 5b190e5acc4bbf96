#include "universe_frames.hpp"

namespace {

// A whole rig of 256 universes is kept without moving a frame.
constexpr std::size_t usual_universes = 256;

} // namespace

universe_frames::universe_frames() : slot_of_(universe_field_values, 0)
{
    frames_.reserve(usual_universes);
}

const universe_frame* universe_frames::find(std::uint16_t universe) const
{
    const std::uint32_t slot = slot_of_[universe];
    return slot == 0 ? nullptr : &frames_[slot - 1];
}

universe_frame& universe_frames::find_or_add(std::uint16_t universe)
{
    std::uint32_t& slot = slot_of_[universe];
    if (slot == 0) {
        frames_.push_back({universe, 0, {}});
        slot = static_cast<std::uint32_t>(frames_.size());
    }
    return frames_[slot - 1];
}
