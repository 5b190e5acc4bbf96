#pragma once
// dmxscope's screens and the CSV text of its clipboard export. Everything
// here writes to the stream it is given and reads only what it is handed, so
// the screens can be checked byte for byte on a memory stream.

#include "artdmx.hpp"
#include "e131.hpp"
#include "layout.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

// Under sACN, what the title tells of the sources of the universe shown.
struct sacn_sources {
    bool shown = false;                        // -E
    std::size_t merged = 0;                    // live sources of the highest priority; 0: none
    std::uint8_t priority = 0;                 // theirs
    std::array<char, e131_name_size> winner{}; // the one merged alone, fit to show
    std::size_t ignored = 0;                   // beyond the bound of sources
};

// What the monitor shows. The loop owns it; the renderers and the export
// only read it.
struct monitor_state {
    // The levels on screen, index 0 holding channel 1. One array for every
    // universe: a shorter packet leaves the channels beyond it as they were.
    std::array<std::uint8_t, channels_per_universe> dmx_data{};
    bool use_color = true;
    screen_mode display_mode = screen_mode::numbers;
    bool data_received = false;
    std::uint16_t current_universe = 0; // of the last accepted packet
    std::uint32_t packet_count = 0;     // accepted packets; wraps
    // Datagrams the kernel dropped because the socket's queue was full, as
    // the receive side counts them; the title shows them once there are any.
    unsigned long long datagrams_lost = 0;
    sacn_sources sacn;
};

using dmx_levels = std::span<const std::uint8_t, channels_per_universe>;

// Foreground colours of the rows, row r taking entry r mod 6.
extern const std::array<const char*, 6> row_colors;
extern const char* const color_reset;

// Erases the display and puts the cursor in the top left corner; no flush.
void clear_screen(std::FILE* out);

// One whole screen as `layout` says, flushed at its end: the full screen of
// the first `count` levels (at most 512) in the mode the state chooses; or the
// fitted one showing the rows from `first_row` on, with the visible channel
// range in its title and the quit and scroll keys in its footer; or the one
// line that says the terminal is too small.
void display_screen(std::FILE* out, const monitor_state& state, std::uint16_t universe, dmx_levels levels,
    std::size_t count, const screen_layout& layout, std::size_t first_row);

// The clipboard text: "Universe,Channel,Value" and one line per channel from
// 1 to `count`. False when a write failed.
bool write_clipboard_csv(std::FILE* out, std::uint16_t universe, dmx_levels levels, std::size_t count);
