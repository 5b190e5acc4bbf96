#include "show_recording.hpp"

#include <algorithm>
#include <cstring>

void start_show_recording(show_recording& show, const recorder_settings& settings)
{
    show.all = settings.record_all;
    for (const std::uint16_t universe : listed_universes(settings.listed))
        show.wanted.set(universe);
}

bool is_recorded(const show_recording& show, std::uint16_t universe)
{
    return show.all || show.wanted.test(universe);
}

bool is_universe_change(const show_recording& show, std::uint16_t universe, std::span<const std::uint8_t> levels)
{
    const universe_frame* last = show.last.find(universe);
    return last == nullptr || last->length != levels.size()
        || std::memcmp(last->levels.data(), levels.data(), levels.size()) != 0;
}

std::uint32_t show_row_delay(const show_recording& show, std::int64_t now_ms)
{
    if (!show.have_row)
        return 0;
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(now_ms - show.last_row_time, 0, 0xffffffff));
}

void remember_universe_row(show_recording& show, recording_state& state, std::uint16_t universe,
    std::span<const std::uint8_t> levels, std::int64_t now_ms)
{
    universe_frame& last = show.last.find_or_add(universe);
    std::ranges::copy(levels, last.levels.begin());
    last.length = levels.size();
    show.have_row = true;
    show.last_row_time = now_ms;
    ++state.frames_recorded;
    state.universes_recorded = show.last.all().size();
}
