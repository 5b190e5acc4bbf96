#include "render.hpp"

#include "runtime.hpp"

#include <algorithm>

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

bool write_clipboard_csv(std::FILE* out, std::uint16_t universe, dmx_levels levels, std::size_t count)
{
    count = std::min(count, levels.size());
    bool written = std::fprintf(out, "Universe,Channel,Value\n") >= 0;
    for (std::size_t i = 0; i < count && written; ++i)
        written = std::fprintf(out, "%u,%zu,%d\n", static_cast<unsigned>(universe), i + 1, levels[i]) >= 0;
    return written && std::fflush(out) == 0;
}
