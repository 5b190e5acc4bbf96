#pragma once
// dmxscope's screens and the CSV text of its clipboard export. Everything
// here writes to the stream it is given and reads only what it is handed, so
// the screens can be checked byte for byte on a memory stream.

#include "artdmx.hpp"
#include "terminal.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

// What the monitor shows. The loop owns it; the renderers and the export
// only read it.
struct monitor_state {
    // The levels on screen, index 0 holding channel 1. One array for every
    // universe: a shorter packet leaves the channels beyond it as they were.
    std::array<std::uint8_t, channels_per_universe> dmx_data{};
    bool use_color = true;
    int display_mode = 0; // 0 numbers, anything else bar graph
    bool data_received = false;
    std::uint16_t current_universe = 0; // of the last accepted packet
    std::uint32_t packet_count = 0;     // accepted packets; wraps
};

using dmx_levels = std::span<const std::uint8_t, channels_per_universe>;

// Foreground colours of the rows, row r taking entry r mod 6.
extern const std::array<const char*, 6> row_colors;
extern const char* const color_reset;

// Erases the display and puts the cursor in the top left corner; no flush.
void clear_screen(std::FILE* out);
void print_separator(std::FILE* out, int width);

// One whole screen of the first `count` levels (at most 512) in the mode the
// state chooses, flushed at its end.
void display_dmx(
    std::FILE* out, const monitor_state& state, std::uint16_t universe, dmx_levels levels, std::size_t count);
void display_dmx_numbers(
    std::FILE* out, const monitor_state& state, std::uint16_t universe, dmx_levels levels, std::size_t count);
void display_dmx_bargraph(
    std::FILE* out, const monitor_state& state, std::uint16_t universe, dmx_levels levels, std::size_t count);

// How a screen is laid out: the full screen of 16 channels a row, when it
// fits the terminal or the size is unknown, or one fitted to the terminal's
// width with a window of the rows that fit its height.
struct screen_layout {
    bool fitted = false;
    int columns = 0;              // the terminal's width (fitted only)
    std::size_t per_row = 16;     // channels on a row
    int bar_positions = 12;       // bar graph mode: the length of a full bar
    std::size_t total_rows = 0;   // rows of channels for the count
    std::size_t visible_rows = 0; // rows on the screen at once
    bool scrolls() const { return visible_rows < total_rows; }
};

screen_layout choose_layout(int display_mode, std::size_t count, terminal_size size);
// The window's first row, moved by `delta` rows and kept within the rows
// there are (the last row at the bottom at most).
std::size_t scroll_rows(const screen_layout& layout, std::size_t first_row, long delta);

// One whole screen as `layout` says: the full screen of display_dmx, or the
// fitted one showing the rows from `first_row` on, with the visible channel
// range in its title and the quit and scroll keys in its footer.
void display_screen(std::FILE* out, const monitor_state& state, std::uint16_t universe, dmx_levels levels,
    std::size_t count, const screen_layout& layout, std::size_t first_row);

// The clipboard text: "Universe,Channel,Value" and one line per channel from
// 1 to `count`. False when a write failed.
bool write_clipboard_csv(std::FILE* out, std::uint16_t universe, dmx_levels levels, std::size_t count);
