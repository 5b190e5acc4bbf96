#pragma once
// The show file: the frame sequence CSV of a whole rig. Each row is one frame
// of one universe, "delay_ms,universe,level,level,...", and the rows of every
// universe share one timeline: a row's delay is the time since the row before
// it, of whatever universe. Apart from the one-universe format because its
// delays are not cut to 16 bits and its rows say where they go.

#include "artdmx.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

// The comment line by which a reader knows a show file.
constexpr std::string_view show_format_line = "# Format: delay_ms,universe,channel1,channel2,channel3,...";

// One row, written in one go: the delay, the universe, a comma and the level
// of each channel (none for a packet without data), LF. False when the write
// failed; does not flush.
bool write_show_row(std::FILE* file, std::uint32_t delay, std::uint16_t universe, std::span<const std::uint8_t> levels);

enum class show_line {
    nothing,      // a comment or an empty line
    frame,        // `levels` holds the row's `count` channels
    delay_only,   // a delay and a universe without levels: the delay passes
    bad_universe, // the universe field is missing or not 0..32767: reported, and the delay passes
    unreadable,   // not even a delay: reported
};

struct show_row {
    std::uint32_t delay = 0; // 0..4294967295; larger numbers read as the largest
    std::uint16_t universe = 0;
    std::size_t count = 0; // 1..512 for a frame
};

// Reads one line as a row of a show file. Fields are split and the delay and
// levels are read as in the frame sequence CSV (atoi's reading, levels
// clamped to 0..255, at most 512); the universe must be decimal digits only.
// The line, possibly still ending in LF, is not modified.
show_line parse_show_line(const char* line, show_row& row, std::span<std::uint8_t, channels_per_universe> levels);
