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
#include <optional>
#include <span>
#include <string_view>
#include <vector>

// The comment line by which a reader knows a show file.
constexpr std::string_view show_format_line = "# Format: delay_ms,universe,channel1,channel2,channel3,...";

// One row, written in one go: the delay, the universe, a comma and the level
// of each channel (none for a packet without data), LF. False when the write
// failed; does not flush.
bool write_show_row(std::FILE* file, std::uint32_t delay, std::uint16_t universe, std::span<const std::uint8_t> levels);

enum class show_line {
    nothing,      // a comment, an empty line or one of white space only
    frame,        // `levels` holds the row's `count` channels
    delay_only,   // a delay and a universe without levels: the delay passes
    bad_universe, // the universe field is missing or out of range: reported, and the delay passes
    unreadable,   // not even a delay: reported
};

struct show_row {
    std::uint32_t delay = 0; // 0..4294967295; larger numbers read as the largest
    std::uint16_t universe = 0;
    std::size_t count = 0; // 1..512 for a frame
};

// Reads one line as a row of a show file. Fields are split and the delay and
// levels are read as in the frame sequence CSV (atoi's reading, levels
// clamped to 0..255, at most 512); the universe, the field right after the
// delay, must be decimal digits only, 0..32767, or under `sacn` 1..63999. The
// line, possibly still ending in LF, is not modified.
show_line parse_show_line(
    const char* line, show_row& row, std::span<std::uint8_t, channels_per_universe> levels, bool sacn = false);

// A delay from this on ends a moment.
constexpr std::uint32_t moment_gap_ms = 10;

// Where the moments of a show begin and end. A moment is a run of rows in
// which no universe repeats and every delay after the first is below
// moment_gap_ms: the universes of one frame leave a sender, and reach a
// recorder, a few milliseconds apart, and so are written with small delays
// between them. A sync packet belongs after each moment, never inside one.
class show_moments {
public:
    show_moments();

    // Whether the row of `delay_ms` that sends to `universe` (none for a row
    // that sends nothing) begins a moment, the moment before it, if any, then
    // being complete. The row is counted in the moment it belongs to.
    bool begins_moment(std::uint32_t delay_ms, std::optional<std::uint16_t> universe);

private:
    std::vector<std::uint32_t> moment_of_; // per universe: the last moment it was sent in
    std::uint32_t current_ = 0;            // 0 before the first row
};
