#pragma once
// The last frame of each universe, for as many universes as a show has, up
// to every universe a packet can name: the recorder's change test per
// universe and the player's keep-alive of every universe both need it. Room
// for a universe is made the first time it comes, never per packet.

#include "artdmx.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct universe_frame {
    std::uint16_t universe = 0;
    std::size_t length = 0;
    std::array<std::uint8_t, channels_per_universe> levels{};
};

class universe_frames {
public:
    universe_frames();

    // The frame kept for `universe`, or null before its first.
    const universe_frame* find(std::uint16_t universe) const;
    // The frame kept for `universe`, made empty (length 0) the first time.
    // Adding a universe may move the frames: a reference lasts until then.
    universe_frame& find_or_add(std::uint16_t universe);
    // Every universe kept, in the order they first came.
    std::span<const universe_frame> all() const { return frames_; }

private:
    std::vector<std::uint32_t> slot_of_; // per universe: its index + 1, 0 for none
    std::vector<universe_frame> frames_;
};
