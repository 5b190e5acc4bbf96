#include "render.hpp"

#include "notices.hpp"

#include <algorithm>
#include <limits>
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

constexpr const char* maker_color = "\033[36m";
constexpr const char* longest_bar = "============";
// The width of the full screen's lines: nothing is cut.
constexpr int unlimited_width = std::numeric_limits<int>::max();

void print_separator(std::FILE* out, int width)
{
    for (int i = 0; i < width; ++i)
        std::fputc('-', out);
    std::fputc('\n', out);
}

// `text` cut to the width.
void print_cut(std::FILE* out, const char* text, int width)
{
    std::fprintf(out, "%.*s\n", width, text);
}

// The one line of a terminal too small for a screen, cut to the width in
// characters (the multiplication sign is two bytes) and without a newline,
// which would scroll it off a terminal of one row.
void print_too_small(std::FILE* out, const screen_layout& layout)
{
    std::array<char, 64> text{};
    const int length = std::snprintf(text.data(), text.size(), "Terminal too small (%d\xc3\x97%d)", layout.columns,
        layout.rows); // U+00D7 in UTF-8
    int end = 0;
    for (int shown = 0; end < length; ++end) {
        const bool starts_character = (static_cast<unsigned char>(text[end]) & 0xc0) != 0x80;
        if (starts_character && shown++ == layout.columns)
            break;
    }
    std::fwrite(text.data(), 1, static_cast<std::size_t>(end), out);
}

// "- " and who sends an sACN universe: the one source and its priority, or
// how many are merged; nothing under Art-Net.
int print_sources(std::span<char> out, const sacn_sources& sources)
{
    if (!sources.shown)
        return 0;
    int length = 0;
    if (sources.merged == 0)
        length = std::snprintf(out.data(), out.size(), " - no source");
    else if (sources.merged == 1)
        length = std::snprintf(
            out.data(), out.size(), " - \"%s\" priority %d", sources.winner.data(), static_cast<int>(sources.priority));
    else
        length = std::snprintf(out.data(), out.size(), " - %zu sources merged at priority %d", sources.merged,
            static_cast<int>(sources.priority));
    if (sources.ignored != 0)
        length += std::snprintf(
            out.data() + length, out.size() - static_cast<std::size_t>(length), ", %zu ignored", sources.ignored);
    return length;
}

// The fitted title adds the channels in view, and narrow terminals lose the
// program's name before anything that changes. Cut by characters: a source's
// name may hold any.
void print_title(std::FILE* out, const monitor_state& state, std::uint16_t universe, std::size_t count,
    const screen_layout& layout, std::size_t first_row, int width)
{
    std::array<char, 48> packets{};
    if (state.datagrams_lost == 0)
        std::snprintf(packets.data(), packets.size(), "%u", static_cast<unsigned>(state.packet_count));
    else
        std::snprintf(packets.data(), packets.size(), "%u, lost: %llu", static_cast<unsigned>(state.packet_count),
            state.datagrams_lost);
    std::array<char, 160> sources{};
    print_sources(sources, state.sacn);
    const bool numbers = state.display_mode == screen_mode::numbers;
    const std::string_view name = state.sacn.shown ? "sACN Monitor - " : "Art-Net Monitor - ";
    std::array<char, 384> title{};
    int length = std::snprintf(title.data(), title.size(), "%.*sUniverse %u%s (Packets: %s) [%s]",
        static_cast<int>(name.size()), name.data(), static_cast<unsigned>(universe), sources.data(), packets.data(),
        numbers ? "Numbers Mode" : "Bar Graph Mode");
    if (layout.fitted && count > 0) {
        const std::size_t first = first_row * layout.per_row;
        const std::size_t last = std::min(count, (first_row + layout.visible_rows) * layout.per_row) - 1;
        length += std::snprintf(title.data() + length, title.size() - static_cast<std::size_t>(length),
            " Ch %zu-%zu of %zu", first, last, count);
    }
    std::string_view text(title.data(), static_cast<std::size_t>(length));
    if (length > width)
        text.remove_prefix(name.size());
    std::size_t end = 0;
    for (int shown = 0; end < text.size(); ++end) {
        const bool starts_character = (static_cast<unsigned char>(text[end]) & 0xc0) != 0x80;
        if (starts_character && shown++ == width)
            break;
    }
    std::fprintf(out, "%.*s\n", static_cast<int>(end), text.data());
}

// The full screen keeps the numbers' pitch in both modes; the fitted bar
// graph stands each column number over the middle of its bar.
void print_header(std::FILE* out, const screen_layout& layout, bool numbers, std::size_t count)
{
    const int cell = layout.bar_positions + bar_cell_frame;
    const int before = (cell - level_width) / 2;
    std::fprintf(out, "Ch:  ");
    for (std::size_t i = 0; i < layout.per_row && i < count; ++i) {
        if (numbers || !layout.fitted)
            std::fprintf(out, "%4d ", static_cast<int>(i));
        else
            std::fprintf(out, "%*s%3d%*s", before, "", static_cast<int>(i), cell - level_width - before, "");
    }
    std::fprintf(out, "\n");
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

void print_number_row(std::FILE* out, const monitor_state& state, dmx_levels levels, std::size_t count,
    const screen_layout& layout, std::size_t row)
{
    const std::size_t first = row * layout.per_row;
    start_line(out, state.use_color, row);
    std::fprintf(out, "%4zu: ", first);
    for (std::size_t i = first; i < first + layout.per_row; ++i) {
        if (i < count)
            std::fprintf(out, "%4d ", levels[i]);
        else
            std::fprintf(out, "     ");
    }
    end_line(out, state.use_color);
}

// A line of bars and, one character further left, a line of levels, each
// centred under its bar.
void print_bar_rows(std::FILE* out, const monitor_state& state, dmx_levels levels, std::size_t count,
    const screen_layout& layout, std::size_t row)
{
    const std::size_t first = row * layout.per_row;
    const int positions = layout.bar_positions;
    const int cell = positions + bar_cell_frame;
    const int before = (cell - level_width) / 2;
    const int after = cell - level_width - before;
    start_line(out, state.use_color, row);
    std::fprintf(out, "%4zu: ", first);
    for (std::size_t i = first; i < first + layout.per_row; ++i) {
        if (i < count) {
            const int filled = levels[i] * positions / 255;
            std::fprintf(out, "[%.*s%*s] ", filled, longest_bar, positions - filled, "");
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

// The full screen names the keys of the specified monitor; the fitted one
// adds 'q' and, when the rows scroll, the scroll keys, in the longest wording
// that fits.
void print_controls(std::FILE* out, screen_mode mode, const screen_layout& layout)
{
    const char* other_mode = mode == screen_mode::numbers ? "bar graph" : "numbers";
    if (!layout.fitted) {
        std::fprintf(out, "Press 'b' to toggle %s | 'c' to copy CSV | Ctrl+C to exit\n", other_mode);
        return;
    }
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

} // namespace

void clear_screen(std::FILE* out)
{
    std::fprintf(out, "\033[2J\033[H");
}

void display_screen(std::FILE* out, const monitor_state& state, std::uint16_t universe, dmx_levels levels,
    std::size_t count, const screen_layout& layout, std::size_t first_row)
{
    clear_screen(out);
    if (layout.too_small) {
        print_too_small(out, layout);
        std::fflush(out);
        return;
    }
    count = std::min(count, levels.size());
    const bool numbers = state.display_mode == screen_mode::numbers;
    const int width = layout.fitted ? layout.columns : unlimited_width;
    first_row = scroll_rows(layout, first_row, 0);

    print_title(out, state, universe, count, layout, first_row, width);
    print_separator(out, std::min(separator_width, width));
    print_header(out, layout, numbers, count);
    print_separator(out, std::min(separator_width, width));
    for (std::size_t row = first_row; row < first_row + layout.visible_rows; ++row) {
        if (numbers)
            print_number_row(out, state, levels, count, layout, row);
        else
            print_bar_rows(out, state, levels, count, layout, row);
    }
    print_separator(out, std::min(separator_width, width));
    print_controls(out, state.display_mode, layout);
    // The reset follows the maker line's newline: the screen's last bytes.
    if (state.use_color)
        std::fprintf(out, "%s", maker_color);
    print_cut(out, maker_address, width);
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
