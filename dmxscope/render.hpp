#pragma once
// dmxscope's screens and the CSV text of its clipboard export. Everything
// here writes to the stream it is given and reads only what it is handed, so
// the screens can be checked byte for byte on a memory stream.

#include "artdmx.hpp"
#include "e131.hpp"
#include "layout.hpp"
#include "source_table.hpp"

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
    // Art-Net: the sources that sent the universe shown within the last
    // second, told in the title when there are two or more, and whether
    // their last levels differ.
    std::size_t senders = 0;
    bool levels_differ = false;
    bool sources_screen = false; // 's': who sends instead of the levels
};

// What the sources screen shows: its rows in order, the table their sACN
// states come from, the time that ages them, and the sources counted beyond
// the table's bound.
struct sources_view {
    std::span<const source_row* const> rows;
    const source_table* table = nullptr;
    std::int64_t now = 0;
    bool all = true; // every universe, or only `universe`
    std::uint16_t universe = 0;
    std::size_t beyond = 0;
    bool beyond_more = false; // more than could be counted
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

// The sources screen as `layout` says (from choose_sources_layout), flushed
// at its end: a line per row from `first_row` on, with the universe, the
// protocol, the address and port, under sACN the source's name and
// priority, the rate, the seconds since the last packet, the gaps, the
// channels and under sACN the state, each column as wide as its widest
// entry; fitted to a terminal, the names are cut so that the lines fit
// where they can.
void display_sources(std::FILE* out, const monitor_state& state, const sources_view& view, const screen_layout& layout,
    std::size_t first_row);

// The clipboard text: "Universe,Channel,Value" and one line per channel from
// 1 to `count`. False when a write failed.
bool write_clipboard_csv(std::FILE* out, std::uint16_t universe, dmx_levels levels, std::size_t count);
