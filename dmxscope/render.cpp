#include "render.hpp"

#include "notices.hpp"

#include <algorithm>
#include <limits>
#include <string_view>

#include <arpa/inet.h>

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

// The bytes of `text` that make its first `width` characters.
std::size_t character_bytes(std::string_view text, int width)
{
    std::size_t end = 0;
    for (int shown = 0; end < text.size(); ++end) {
        const bool starts_character = (static_cast<unsigned char>(text[end]) & 0xc0) != 0x80;
        if (starts_character && shown++ == width)
            break;
    }
    return end;
}

int character_count(std::string_view text)
{
    return static_cast<int>(
        std::ranges::count_if(text, [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
}

// The one line of a terminal too small for a screen, cut to the width in
// characters (the multiplication sign is two bytes) and without a newline,
// which would scroll it off a terminal of one row.
void print_too_small(std::FILE* out, const screen_layout& layout)
{
    std::array<char, 64> text{};
    const int length = std::snprintf(text.data(), text.size(), "Terminal too small (%d\xc3\x97%d)", layout.columns,
        layout.rows); // U+00D7 in UTF-8
    std::fwrite(text.data(), 1,
        character_bytes(std::string_view(text.data(), static_cast<std::size_t>(length)), layout.columns), out);
}

// A title cut to the width by characters; narrow terminals lose the
// program's name (its first `name_size` bytes) before anything that changes.
void print_title_text(std::FILE* out, std::string_view text, std::size_t name_size, int width)
{
    if (text.size() > static_cast<std::size_t>(width))
        text.remove_prefix(name_size);
    std::fprintf(out, "%.*s\n", static_cast<int>(character_bytes(text, width)), text.data());
}

// "- " and who sends an sACN universe: the one source and its priority, or
// how many are merged.
int print_sources(std::span<char> out, const sacn_sources& sources)
{
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

// The title's packets, and the datagrams lost once there are any.
std::array<char, 48> packets_text(const monitor_state& state)
{
    std::array<char, 48> packets{};
    if (state.datagrams_lost == 0)
        std::snprintf(packets.data(), packets.size(), "%u", static_cast<unsigned>(state.packet_count));
    else
        std::snprintf(packets.data(), packets.size(), "%u, lost: %llu", static_cast<unsigned>(state.packet_count),
            state.datagrams_lost);
    return packets;
}

// The fitted title adds the channels in view, and narrow terminals lose the
// program's name before anything that changes. Cut by characters: a source's
// name may hold any.
void print_title(std::FILE* out, const monitor_state& state, std::uint16_t universe, std::size_t count,
    const screen_layout& layout, std::size_t first_row, int width)
{
    const std::array<char, 48> packets = packets_text(state);
    std::array<char, 160> sources{};
    if (state.sacn.shown)
        print_sources(sources, state.sacn);
    else if (state.senders >= 2)
        std::snprintf(sources.data(), sources.size(), " - %zu sources%s", state.senders,
            state.levels_differ ? ", levels differ" : "");
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
    print_title_text(out, std::string_view(title.data(), static_cast<std::size_t>(length)), name.size(), width);
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

// The keys in the longest wording that fits the terminal with, when the
// rows scroll, the scroll keys; the shortest of each, cut, where none fits.
void print_fitting(std::FILE* out, const screen_layout& layout, std::span<const std::string_view> wordings)
{
    constexpr std::array<std::string_view, 3> scroll_texts = {" | arrows, j/k, PgUp/PgDn, Home/End to scroll",
        " | arrows j k PgUp PgDn Home End: scroll", " | arrows PgUp PgDn Home End: scroll"};
    const auto fits = [&layout](std::string_view keys, std::string_view scroll) {
        return keys.size() + (layout.scrolls() ? scroll.size() : 0) <= static_cast<std::size_t>(layout.columns);
    };
    std::string_view keys = wordings.back();
    std::string_view scroll = scroll_texts.back();
    for (const std::string_view s : scroll_texts) {
        const auto wording = std::ranges::find_if(wordings, [&](std::string_view w) { return fits(w, s); });
        if (wording != wordings.end()) {
            keys = *wording;
            scroll = s;
            break;
        }
    }
    std::array<char, 256> line{};
    std::snprintf(line.data(), line.size(), "%.*s%.*s", static_cast<int>(keys.size()), keys.data(),
        layout.scrolls() ? static_cast<int>(scroll.size()) : 0, scroll.data());
    print_cut(out, line.data(), layout.columns);
}

// The full screen names the keys of the specified monitor and 's'; the
// fitted one adds 'q' and, when the rows scroll, the scroll keys.
void print_controls(std::FILE* out, screen_mode mode, const screen_layout& layout)
{
    const char* other_mode = mode == screen_mode::numbers ? "bar graph" : "numbers";
    if (!layout.fitted) {
        std::fprintf(out, "Press 'b' to toggle %s | 'c' to copy CSV | 's' for sources | Ctrl+C to exit\n", other_mode);
        return;
    }
    std::array<std::array<char, 100>, 3> texts{};
    std::array<std::string_view, 3> wordings;
    const char* const formats[] = {"Press 'b' to toggle %s | 'c' to copy CSV | 's' for sources | 'q' or Ctrl+C to exit",
        "b: %s | c: copy CSV | s: sources | q: quit", "b: %s | c: CSV | s: sources | q: quit"};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const int length = std::snprintf(texts[i].data(), texts[i].size(), formats[i], other_mode);
        wordings[i] = std::string_view(texts[i].data(), static_cast<std::size_t>(length));
    }
    print_fitting(out, layout, wordings);
}

void print_sources_controls(std::FILE* out, const screen_layout& layout)
{
    if (!layout.fitted) {
        std::fprintf(out, "Press 's' for levels | 'n' numbers | 'b' bar graph | 'c' to copy CSV | Ctrl+C to exit\n");
        return;
    }
    constexpr std::array<std::string_view, 3> wordings
        = {"Press 's' for levels | 'n' numbers | 'b' bar graph | 'c' to copy CSV | 'q' or Ctrl+C to exit",
            "s: levels | n: numbers | b: bar graph | c: copy CSV | q: quit", "s n b: levels | c: CSV | q: quit"};
    print_fitting(out, layout, wordings);
}

void print_footer(std::FILE* out, const monitor_state& state, int width)
{
    // The reset follows the maker line's newline: the screen's last bytes.
    if (state.use_color)
        std::fprintf(out, "%s", maker_color);
    print_cut(out, maker_address, width);
    if (state.use_color)
        std::fprintf(out, "%s", color_reset);
    std::fflush(out);
}

// The columns of the sources screen; the name, priority and state only
// under sACN. Short names, so that a row of sACN fits 80 columns.
enum source_column : std::uint8_t {
    universe_column,
    protocol_column,
    address_column,
    name_column,
    priority_column,
    rate_column,
    last_column,
    gaps_column,
    channels_column,
    state_column,
    column_count
};
constexpr std::array<std::string_view, column_count> column_names
    = {"Univ", "Proto", "Address:port", "Source", "Prio", "Rate", "Last", "Gaps", "Ch", "State"};
constexpr std::array<bool, column_count> right_aligned
    = {true, false, false, false, true, true, true, false, true, false};
// The shortest a name is cut to, in characters.
constexpr int shortest_cut_name = 4;
constexpr std::string_view ellipsis = "\xe2\x80\xa6"; // U+2026 in UTF-8

using source_cells = std::array<std::array<char, 96>, column_count>;

bool column_shown(int column, bool sacn)
{
    return sacn || (column != name_column && column != priority_column && column != state_column);
}

// The entries of one row, with the source's name cut to `name_width`
// characters (the last of them an ellipsis) when it is longer.
void fill_cells(const sources_view& view, const source_row& row, int name_width, source_cells& cells)
{
    std::array<char, INET_ADDRSTRLEN> address{};
    ::inet_ntop(AF_INET, &row.from.address, address.data(), address.size());
    const double since = static_cast<double>(std::max<std::int64_t>(view.now - row.last_ns, 0)) / 1e9;
    const std::string_view name(row.name.data());
    const std::size_t kept = character_count(name) > name_width ? character_bytes(name, name_width - 1) : name.size();
    const std::size_t size = cells[0].size();
    std::snprintf(cells[universe_column].data(), size, "%u", static_cast<unsigned>(row.universe));
    std::snprintf(
        cells[protocol_column].data(), size, "%s", row.from.protocol == source_protocol::sacn ? "sACN" : "Art-Net");
    std::snprintf(cells[address_column].data(), size, "%s:%u", address.data(), static_cast<unsigned>(row.from.port));
    std::snprintf(cells[name_column].data(), size, "\"%.*s%s\"", static_cast<int>(kept), name.data(),
        kept < name.size() ? ellipsis.data() : "");
    std::snprintf(cells[priority_column].data(), size, "%u", static_cast<unsigned>(row.from.priority));
    std::snprintf(cells[rate_column].data(), size, "%u/s", packet_rate(row, view.now));
    std::snprintf(cells[last_column].data(), size, "%.1f s", since);
    std::snprintf(cells[gaps_column].data(), size, "gaps %llu", row.gaps);
    std::snprintf(cells[channels_column].data(), size, "%zu", row.length);
    std::snprintf(cells[state_column].data(), size, "%s", state_name(state_of(*view.table, row, view.now)));
}

std::array<int, column_count> column_widths(const sources_view& view, int name_width)
{
    std::array<int, column_count> widths{};
    for (int column = 0; column < column_count; ++column)
        widths[column] = character_count(column_names[column]);
    source_cells cells{};
    for (const source_row* row : view.rows) {
        fill_cells(view, *row, name_width, cells);
        for (int column = 0; column < column_count; ++column)
            widths[column] = std::max(widths[column], character_count(cells[column].data()));
    }
    return widths;
}

// Two spaces between columns.
int line_width(const std::array<int, column_count>& widths, bool sacn)
{
    int total = -2;
    for (int column = 0; column < column_count; ++column)
        total += column_shown(column, sacn) ? widths[column] + 2 : 0;
    return total;
}

// One line of cells, each padded to its column's width, cut to `width`.
template <typename Cell>
void print_cells(std::FILE* out, const std::array<int, column_count>& widths, bool sacn, int width, Cell cell)
{
    std::array<char, 1024> line{};
    std::size_t length = 0;
    for (int column = 0; column < column_count; ++column) {
        if (!column_shown(column, sacn))
            continue;
        const std::string_view text = cell(column);
        const int padding = widths[column] - character_count(text);
        const int written = std::snprintf(line.data() + length, line.size() - length, "%s%*s%.*s%*s",
            length == 0 ? "" : "  ", right_aligned[column] ? padding : 0, "", static_cast<int>(text.size()),
            text.data(), right_aligned[column] ? 0 : padding, "");
        length = std::min(line.size() - 1, length + static_cast<std::size_t>(std::max(written, 0)));
    }
    // The last column is not padded: no line ends in spaces.
    while (length > 0 && line[length - 1] == ' ')
        --length;
    const std::string_view text(line.data(), length);
    std::fprintf(out, "%.*s", static_cast<int>(character_bytes(text, width)), text.data());
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
    print_footer(out, state, width);
}

void display_sources(std::FILE* out, const monitor_state& state, const sources_view& view, const screen_layout& layout,
    std::size_t first_row)
{
    clear_screen(out);
    if (layout.too_small) {
        print_too_small(out, layout);
        std::fflush(out);
        return;
    }
    const int width = layout.fitted ? layout.columns : unlimited_width;
    first_row = scroll_rows(layout, first_row, 0);
    const bool sacn = state.sacn.shown;

    const std::array<char, 48> packets = packets_text(state);
    const std::string_view name = sacn ? "sACN Monitor - " : "Art-Net Monitor - ";
    std::array<char, 256> title{};
    int length = std::snprintf(title.data(), title.size(), "%.*s", static_cast<int>(name.size()), name.data());
    if (!view.all)
        length += std::snprintf(title.data() + length, title.size() - static_cast<std::size_t>(length),
            "Universe %u - ", static_cast<unsigned>(view.universe));
    length += std::snprintf(
        title.data() + length, title.size() - static_cast<std::size_t>(length), "Sources: %zu", view.rows.size());
    if (view.beyond != 0 || view.beyond_more)
        length += std::snprintf(title.data() + length, title.size() - static_cast<std::size_t>(length),
            ", %zu%s more not kept", view.beyond, view.beyond_more ? " or" : "");
    length += std::snprintf(
        title.data() + length, title.size() - static_cast<std::size_t>(length), " (Packets: %s)", packets.data());
    if (layout.scrolls())
        length += std::snprintf(title.data() + length, title.size() - static_cast<std::size_t>(length),
            " Rows %zu-%zu of %zu", first_row + 1, first_row + layout.visible_rows, layout.total_rows);
    print_title_text(out, std::string_view(title.data(), static_cast<std::size_t>(length)), name.size(), width);

    // Each column as wide as its widest entry; fitted to a terminal, the
    // longest names are cut until the lines fit, down to the shortest cut.
    int name_width = static_cast<int>(e131_name_size);
    std::array<int, column_count> widths = column_widths(view, name_width);
    if (const int excess = line_width(widths, sacn) - width; sacn && layout.fitted && excess > 0) {
        int longest = 0;
        for (const source_row* row : view.rows)
            longest = std::max(longest, character_count(row->name.data()));
        name_width = std::max(shortest_cut_name, longest - excess);
        widths = column_widths(view, name_width);
    }

    source_cells cells{};
    print_separator(out, std::min(separator_width, width));
    print_cells(out, widths, sacn, width, [](int column) { return column_names[column]; });
    std::fprintf(out, "\n");
    print_separator(out, std::min(separator_width, width));
    for (std::size_t i = first_row; i < first_row + layout.visible_rows && i < view.rows.size(); ++i) {
        fill_cells(view, *view.rows[i], name_width, cells);
        start_line(out, state.use_color, i);
        print_cells(out, widths, sacn, width, [&cells](int column) { return std::string_view(cells[column].data()); });
        end_line(out, state.use_color);
    }
    print_separator(out, std::min(separator_width, width));
    print_sources_controls(out, layout);
    print_footer(out, state, width);
}

bool write_clipboard_csv(std::FILE* out, std::uint16_t universe, dmx_levels levels, std::size_t count)
{
    count = std::min(count, levels.size());
    bool written = std::fprintf(out, "Universe,Channel,Value\n") >= 0;
    for (std::size_t i = 0; i < count && written; ++i)
        written = std::fprintf(out, "%u,%zu,%d\n", static_cast<unsigned>(universe), i + 1, levels[i]) >= 0;
    return written && std::fflush(out) == 0;
}
