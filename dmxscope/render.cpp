#include "render.hpp"

#include "notices.hpp"

#include <algorithm>
#include <string_view>

const std::array<const char*, 6> row_colors = {
    "\033[36m", // cyan
    "\033[33m", // yellow
    "\033[32m", // green
    "\033[35m", // magenta
    "\033[34m", // blue
    "\033[37m", // white
};
const char* const color_reset = "\033[0m";

namespace {

constexpr std::size_t channels_per_row = 16;
constexpr int separator_width = 80;
constexpr int bar_positions = 12;
constexpr int level_width = 3;
constexpr int bar_cell_width = 15;
// A level stands centred in its cell: 6 spaces, the 3 digits, 6 spaces.
constexpr int value_padding = (bar_cell_width - level_width) / 2;
constexpr const char* maker_color = "\033[36m";

// Title, separator, column header and separator: the same in both modes.
void print_top(
    std::FILE* out, std::uint16_t universe, std::uint32_t packet_count, const char* mode_name, std::size_t count)
{
    clear_screen(out);
    std::fprintf(out, "Art-Net Monitor - Universe %u (Packets: %u) [%s]\n", static_cast<unsigned>(universe),
        static_cast<unsigned>(packet_count), mode_name);
    print_separator(out, separator_width);
    std::fprintf(out, "Ch:  ");
    for (std::size_t i = 0; i < channels_per_row && i < count; ++i)
        std::fprintf(out, "%4d ", static_cast<int>(i));
    std::fprintf(out, "\n");
    print_separator(out, separator_width);
}

void print_bottom(std::FILE* out, bool use_color, const char* controls)
{
    print_separator(out, separator_width);
    std::fprintf(out, "%s", controls);
    // The reset follows the maker line's newline: the screen's last bytes.
    if (use_color)
        std::fprintf(out, "%s", maker_color);
    print_maker_line(out);
    if (use_color)
        std::fprintf(out, "%s", color_reset);
    std::fflush(out);
}

// A partial last row is drawn too.
std::size_t row_count(std::size_t count)
{
    return (count + channels_per_row - 1) / channels_per_row;
}

// The fitted screens' geometry: the row label ("%4zu: "), a number cell
// ("%4d "), the frame around the rows (title, separator, header, separator;
// separator, controls, maker line; and the line the cursor ends on), and the
// shortest bar worth drawing: below it, fewer channels to a row instead.
constexpr int label_width = 6;
constexpr int number_cell_width = 5;
constexpr int frame_lines = 8;
constexpr int shortest_good_bar = 8;
constexpr int bar_cell_frame = 3; // "[", "] "

bool full_screen_fits(int display_mode, std::size_t count, terminal_size size)
{
    const std::size_t rows = row_count(count);
    const int row_width = display_mode == 0 ? label_width + static_cast<int>(channels_per_row) * number_cell_width
                                            : label_width + static_cast<int>(channels_per_row) * bar_cell_width;
    const int width = count == 0 ? separator_width : row_width;
    const std::size_t lines = (display_mode == 0 ? rows : 2 * rows) + frame_lines;
    return size.columns >= width && static_cast<std::size_t>(size.rows) >= lines;
}

void start_line(std::FILE* out, bool use_color, std::size_t row)
{
    if (use_color)
        std::fprintf(out, "%s", row_colors[row % row_colors.size()]);
}

void end_line(std::FILE* out, bool use_color)
{
    if (use_color)
        std::fprintf(out, "%s", color_reset);
    std::fprintf(out, "\n");
}

} // namespace

void clear_screen(std::FILE* out)
{
    std::fprintf(out, "\033[2J\033[H");
}

void print_separator(std::FILE* out, int width)
{
    for (int i = 0; i < width; ++i)
        std::fputc('-', out);
    std::fputc('\n', out);
}

void display_dmx(
    std::FILE* out, const monitor_state& state, std::uint16_t universe, dmx_levels levels, std::size_t count)
{
    if (state.display_mode == 0)
        display_dmx_numbers(out, state, universe, levels, count);
    else
        display_dmx_bargraph(out, state, universe, levels, count);
}

void display_dmx_numbers(
    std::FILE* out, const monitor_state& state, std::uint16_t universe, dmx_levels levels, std::size_t count)
{
    count = std::min(count, levels.size());
    print_top(out, universe, state.packet_count, "Numbers Mode", count);
    for (std::size_t row = 0; row < row_count(count); ++row) {
        const std::size_t first = row * channels_per_row;
        start_line(out, state.use_color, row);
        std::fprintf(out, "%4zu: ", first);
        for (std::size_t i = first; i < first + channels_per_row; ++i) {
            if (i < count)
                std::fprintf(out, "%4d ", levels[i]);
            else
                std::fprintf(out, "     ");
        }
        end_line(out, state.use_color);
    }
    print_bottom(out, state.use_color, "Press 'b' to toggle bar graph | 'c' to copy CSV | Ctrl+C to exit\n");
}

void display_dmx_bargraph(
    std::FILE* out, const monitor_state& state, std::uint16_t universe, dmx_levels levels, std::size_t count)
{
    static constexpr const char* bar = "============";
    static constexpr const char* blank = "               ";
    count = std::min(count, levels.size());
    print_top(out, universe, state.packet_count, "Bar Graph Mode", count);
    for (std::size_t row = 0; row < row_count(count); ++row) {
        const std::size_t first = row * channels_per_row;
        start_line(out, state.use_color, row);
        std::fprintf(out, "%4zu: ", first);
        for (std::size_t i = first; i < first + channels_per_row; ++i) {
            if (i < count) {
                const int filled = levels[i] * bar_positions / 255;
                std::fprintf(out, "[%.*s%.*s] ", filled, bar, bar_positions - filled, blank);
            } else {
                std::fprintf(out, "%s", blank);
            }
        }
        end_line(out, state.use_color);

        // One character further left than the bar line, so each level stands
        // under the middle of its bar.
        start_line(out, state.use_color, row);
        std::fprintf(out, "     ");
        for (std::size_t i = first; i < first + channels_per_row; ++i) {
            if (i < count)
                std::fprintf(out, "%.*s%3d%.*s", value_padding, blank, levels[i], value_padding, blank);
            else
                std::fprintf(out, "%s", blank);
        }
        end_line(out, state.use_color);
    }
    print_bottom(out, state.use_color, "Press 'b' to toggle numbers | 'c' to copy CSV | Ctrl+C to exit\n");
}

screen_layout choose_layout(int display_mode, std::size_t count, terminal_size size)
{
    screen_layout layout;
    count = std::min(count, channels_per_universe);
    layout.total_rows = layout.visible_rows = row_count(count);
    if (!size.known() || full_screen_fits(display_mode, count, size))
        return layout;
    layout.fitted = true;
    layout.columns = size.columns;
    const int room = std::max(size.columns - label_width, 1);
    const int lines = std::max(size.rows - frame_lines, 1);
    std::size_t capacity = 0;
    if (display_mode == 0) {
        layout.per_row = static_cast<std::size_t>(std::max(room / number_cell_width, 1));
        capacity = static_cast<std::size_t>(lines);
    } else {
        const int per_row = std::clamp(room / (shortest_good_bar + bar_cell_frame), 1, int{channels_per_row});
        layout.per_row = static_cast<std::size_t>(per_row);
        layout.bar_positions = std::clamp(room / per_row - bar_cell_frame, 1, bar_positions);
        capacity = static_cast<std::size_t>(std::max(lines / 2, 1));
    }
    layout.total_rows = (count + layout.per_row - 1) / layout.per_row;
    layout.visible_rows = std::min(capacity, layout.total_rows);
    return layout;
}

std::size_t scroll_rows(const screen_layout& layout, std::size_t first_row, long delta)
{
    const auto last_first = static_cast<long>(layout.total_rows - layout.visible_rows);
    return static_cast<std::size_t>(std::clamp(static_cast<long>(first_row) + delta, 0L, last_first));
}

namespace {

// `text` cut to the width.
void print_cut(std::FILE* out, const char* text, int width)
{
    std::fprintf(out, "%.*s\n", width, text);
}

void print_fitted_title(std::FILE* out, const monitor_state& state, std::uint16_t universe, std::size_t count,
    const screen_layout& layout, std::size_t first_row, const char* mode_name)
{
    std::array<char, 160> title{};
    int length = std::snprintf(title.data(), title.size(), "Art-Net Monitor - Universe %u (Packets: %u) [%s]",
        static_cast<unsigned>(universe), static_cast<unsigned>(state.packet_count), mode_name);
    if (count > 0) {
        const std::size_t first = first_row * layout.per_row;
        const std::size_t last = std::min(count, (first_row + layout.visible_rows) * layout.per_row) - 1;
        length += std::snprintf(title.data() + length, title.size() - static_cast<std::size_t>(length),
            " Ch %zu-%zu of %zu", first, last, count);
    }
    // Narrow terminals lose the program's name before anything that changes.
    constexpr std::string_view name = "Art-Net Monitor - ";
    const char* text = title.data();
    if (length > layout.columns)
        text += name.size();
    print_cut(out, text, layout.columns);
}

void print_fitted_controls(std::FILE* out, int display_mode, const screen_layout& layout)
{
    const char* other_mode = display_mode == 0 ? "bar graph" : "numbers";
    std::array<char, 200> line{};
    const char* const scroll_texts[]
        = {" | arrows, j/k, PgUp/PgDn, Home/End to scroll", " | arrows j k PgUp PgDn Home End: scroll"};
    for (const char* scroll : scroll_texts) {
        for (const char* format :
            {"Press 'b' to toggle %s | 'c' to copy CSV | 'q' or Ctrl+C to exit%s", "b: %s | c: copy CSV | q: quit%s"}) {
            const int length
                = std::snprintf(line.data(), line.size(), format, other_mode, layout.scrolls() ? scroll : "");
            if (length <= layout.columns) {
                print_cut(out, line.data(), layout.columns);
                return;
            }
        }
    }
    print_cut(out, line.data(), layout.columns);
}

void print_number_cells(std::FILE* out, dmx_levels levels, std::size_t count, std::size_t first, std::size_t per_row)
{
    for (std::size_t i = first; i < first + per_row; ++i) {
        if (i < count)
            std::fprintf(out, "%4d ", levels[i]);
        else
            std::fprintf(out, "     ");
    }
}

} // namespace

void display_screen(std::FILE* out, const monitor_state& state, std::uint16_t universe, dmx_levels levels,
    std::size_t count, const screen_layout& layout, std::size_t first_row)
{
    if (!layout.fitted) {
        display_dmx(out, state, universe, levels, count);
        return;
    }
    static constexpr const char* bar = "============"; // the longest bar
    count = std::min(count, levels.size());
    const bool numbers = state.display_mode == 0;
    const int positions = layout.bar_positions;
    const int cell = positions + bar_cell_frame;
    const int before = (cell - level_width) / 2; // a level stands centred under its bar
    const int after = cell - level_width - before;
    const int separator = std::min(separator_width, layout.columns);
    first_row = scroll_rows(layout, first_row, 0);

    clear_screen(out);
    print_fitted_title(out, state, universe, count, layout, first_row, numbers ? "Numbers Mode" : "Bar Graph Mode");
    print_separator(out, separator);
    std::fprintf(out, "Ch:  ");
    for (std::size_t i = 0; i < layout.per_row && i < count; ++i) {
        if (numbers)
            std::fprintf(out, "%4d ", static_cast<int>(i));
        else
            std::fprintf(out, "%*s%3d%*s", before, "", static_cast<int>(i), after, "");
    }
    std::fprintf(out, "\n");
    print_separator(out, separator);

    for (std::size_t row = first_row; row < first_row + layout.visible_rows; ++row) {
        const std::size_t first = row * layout.per_row;
        start_line(out, state.use_color, row);
        std::fprintf(out, "%4zu: ", first);
        if (numbers) {
            print_number_cells(out, levels, count, first, layout.per_row);
            end_line(out, state.use_color);
            continue;
        }
        for (std::size_t i = first; i < first + layout.per_row; ++i) {
            if (i < count) {
                const int filled = levels[i] * positions / 255;
                std::fprintf(out, "[%.*s%*s] ", filled, bar, positions - filled, "");
            } else {
                std::fprintf(out, "%*s", cell, "");
            }
        }
        end_line(out, state.use_color);
        start_line(out, state.use_color, row);
        std::fprintf(out, "     ");
        for (std::size_t i = first; i < first + layout.per_row; ++i) {
            if (i < count)
                std::fprintf(out, "%*s%3d%*s", before, "", levels[i], after, "");
            else
                std::fprintf(out, "%*s", cell, "");
        }
        end_line(out, state.use_color);
    }

    print_separator(out, separator);
    print_fitted_controls(out, state.display_mode, layout);
    if (state.use_color)
        std::fprintf(out, "%s", maker_color);
    print_cut(out, maker_address, layout.columns);
    if (state.use_color)
        std::fprintf(out, "%s", color_reset);
    std::fflush(out);
}

bool write_clipboard_csv(std::FILE* out, std::uint16_t universe, dmx_levels levels, std::size_t count)
{
    count = std::min(count, levels.size());
    bool written = std::fprintf(out, "Universe,Channel,Value\n") >= 0;
    for (std::size_t i = 0; i < count && written; ++i)
        written = std::fprintf(out, "%u,%zu,%d\n", static_cast<unsigned>(universe), i + 1, levels[i]) >= 0;
    return written && std::fflush(out) == 0;
}
