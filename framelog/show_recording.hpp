#pragma once
// framelog -U: every universe kept apart. A packet is a change when it
// differs from the last row written for its own universe, so a rig of many
// universes gives one row per changed frame of each; the rows share one
// timeline, each delay the time since the row before, of any universe.

#include "recorder.hpp"
#include "universe_frames.hpp"

#include <bitset>
#include <cstdint>
#include <span>

struct show_recording {
    bool all = true;
    std::bitset<0x10000> wanted; // when not all: the universes listed
    universe_frames last;        // the last row written, per universe
    bool have_row = false;
    std::int64_t last_row_time = 0; // ms
};

void start_show_recording(show_recording& show, const recorder_settings& settings);
bool is_recorded(const show_recording& show, std::uint16_t universe);
// The first packet of a universe, a new length or a differing level.
bool is_universe_change(const show_recording& show, std::uint16_t universe, std::span<const std::uint8_t> levels);
// 0 for the first row; otherwise the gap since the last row of any universe,
// whole (up to 4294967295 ms, not cut to 16 bits).
std::uint32_t show_row_delay(const show_recording& show, std::int64_t now_ms);
void remember_universe_row(show_recording& show, recording_state& state, std::uint16_t universe,
    std::span<const std::uint8_t> levels, std::int64_t now_ms);
