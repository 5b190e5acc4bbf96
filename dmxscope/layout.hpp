#pragma once
// How the monitor's screen meets the terminal: which layout a mode, a count of
// channels and a terminal size give, and the window of rows that scrolls when
// they do not all fit. Decided on sizes alone, apart from the drawing, so that
// every size can be checked without a terminal.

#include "terminal.hpp"

#include <cstddef>

enum class screen_mode { numbers, bar_graph };

// The geometry both the layouts and the renderer count with: the full
// screen's row and bar and its separator, the row label ("%4zu: "), a number
// cell ("%4d "), the brackets and space around a bar, and the width of a
// level under its bar.
constexpr std::size_t channels_per_row = 16;
constexpr int full_bar_positions = 12;
constexpr int separator_width = 80;
constexpr int label_width = 6;
constexpr int number_cell_width = 5;
constexpr int bar_cell_frame = 3; // "[", "] "
constexpr int level_width = 3;

// How a screen is laid out: the full screen of 16 channels a row, when it
// fits the terminal or the size is unknown; one fitted to the terminal's
// width with a window of the rows that fit its height; or, in a terminal too
// small for a title, one row of channels and the footer, a single line that
// says so.
struct screen_layout {
    bool fitted = false;
    bool too_small = false;                 // no screen, only "Terminal too small (W×H)"
    int columns = 0;                        // the terminal's width (fitted or too small)
    int rows = 0;                           // the terminal's height (fitted or too small)
    std::size_t per_row = channels_per_row; // channels on a row
    int bar_positions = full_bar_positions; // bar graph mode: the length of a full bar
    std::size_t total_rows = 0;             // rows of channels for the count
    std::size_t visible_rows = 0;           // rows on the screen at once
    // A terminal too small keeps the window it had, but nothing moves it.
    bool scrolls() const { return !too_small && visible_rows < total_rows; }
};

screen_layout choose_layout(screen_mode mode, std::size_t count, terminal_size size);
// The sources screen: a line per source, cut to the width and in a window
// of the lines that fit where the size is known, all of them otherwise; too
// small where the numbers screen would be.
screen_layout choose_sources_layout(std::size_t count, terminal_size size);
// The window's first row, moved by `delta` rows and kept within the rows
// there are (the last row at the bottom at most).
std::size_t scroll_rows(const screen_layout& layout, std::size_t first_row, long delta);
