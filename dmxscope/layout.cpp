#include "layout.hpp"

#include "artdmx.hpp"

#include <algorithm>

namespace {

// The lines around the rows: title, separator, header, separator; separator,
// controls, maker line; and the line the cursor ends on. Below the shortest
// bar worth drawing, a row holds fewer channels instead.
constexpr int frame_lines = 8;
constexpr int shortest_good_bar = 8;

int lines_per_row(screen_mode mode)
{
    return mode == screen_mode::numbers ? 1 : 2;
}

// A partial last row is drawn too.
std::size_t row_count(std::size_t count, std::size_t per_row)
{
    return (count + per_row - 1) / per_row;
}

bool full_screen_fits(screen_mode mode, std::size_t count, terminal_size size)
{
    const int cell = mode == screen_mode::numbers ? number_cell_width : full_bar_positions + bar_cell_frame;
    const int width = count == 0 ? separator_width : label_width + static_cast<int>(channels_per_row) * cell;
    const std::size_t lines = row_count(count, channels_per_row) * lines_per_row(mode) + frame_lines;
    return size.columns >= width && static_cast<std::size_t>(size.rows) >= lines;
}

// The smallest terminal that holds the title, one row of one channel (a bar
// of one position) and the footer.
bool too_small(screen_mode mode, terminal_size size)
{
    const int cell = mode == screen_mode::numbers ? number_cell_width : 1 + bar_cell_frame;
    return size.columns < label_width + cell || size.rows < frame_lines + lines_per_row(mode);
}

} // namespace

screen_layout choose_layout(screen_mode mode, std::size_t count, terminal_size size)
{
    screen_layout layout;
    count = std::min(count, channels_per_universe);
    layout.total_rows = layout.visible_rows = row_count(count, channels_per_row);
    if (!size.known() || full_screen_fits(mode, count, size))
        return layout;
    layout.fitted = true;
    layout.too_small = too_small(mode, size);
    layout.columns = size.columns;
    layout.rows = size.rows;
    const int room = std::max(size.columns - label_width, 1);
    const int lines = std::max(size.rows - frame_lines, 1);
    std::size_t capacity = 0;
    if (mode == screen_mode::numbers) {
        layout.per_row = static_cast<std::size_t>(std::max(room / number_cell_width, 1));
        capacity = static_cast<std::size_t>(lines);
    } else {
        const int per_row = std::clamp(room / (shortest_good_bar + bar_cell_frame), 1, int{channels_per_row});
        layout.per_row = static_cast<std::size_t>(per_row);
        layout.bar_positions = std::clamp(room / per_row - bar_cell_frame, 1, full_bar_positions);
        capacity = static_cast<std::size_t>(std::max(lines / 2, 1));
    }
    layout.total_rows = row_count(count, layout.per_row);
    layout.visible_rows = std::min(capacity, layout.total_rows);
    return layout;
}

screen_layout choose_sources_layout(std::size_t count, terminal_size size)
{
    screen_layout layout;
    layout.per_row = 1;
    layout.total_rows = layout.visible_rows = count;
    if (!size.known())
        return layout;
    layout.fitted = true;
    layout.too_small = too_small(screen_mode::numbers, size);
    layout.columns = size.columns;
    layout.rows = size.rows;
    layout.visible_rows = std::min(count, static_cast<std::size_t>(std::max(size.rows - frame_lines, 1)));
    return layout;
}

std::size_t scroll_rows(const screen_layout& layout, std::size_t first_row, long delta)
{
    const auto last_first = static_cast<long>(layout.total_rows - layout.visible_rows);
    return static_cast<std::size_t>(std::clamp(static_cast<long>(first_row) + delta, 0L, last_first));
}
