// Any datagram as dmxscope takes it: parsed, then drawn in both modes, full
// and fitted to a terminal, and written as clipboard text. The screens must
// stay within their geometry (no line wider than a bar line, or than the
// terminal when fitted) and the text must have one line per channel. Under
// sACN the levels double as the winning source's name in the title, and on
// the sources screen.
#include "artdmx.hpp"
#include "e131_merge.hpp"
#include "render.hpp"
#include "source_table.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

namespace {

std::FILE* scratch()
{
    static std::FILE* file = std::tmpfile();
    std::rewind(file);
    return file;
}

// Longest line in characters (a UTF-8 sequence counts once) and the number of
// newlines of what was written since rewind; with `plain`, escape sequences
// (up to their final letter) are not counted.
void measure(std::FILE* file, std::size_t& widest, std::size_t& lines, bool plain = false)
{
    const long size = std::ftell(file);
    std::rewind(file);
    widest = lines = 0;
    std::size_t width = 0;
    bool in_sequence = false;
    for (long i = 0; i < size; ++i) {
        const int c = std::fgetc(file);
        if (plain && (in_sequence || c == '\033')) {
            in_sequence = c == '\033' || !((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
        } else if (c == '\n') {
            ++lines;
            width = 0;
        } else if ((c & 0xc0) != 0x80) {
            widest = std::max(widest, ++width);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    monitor_state state;
    std::uint16_t universe = 0;
    std::size_t length = 0;
    if (!parse_artdmx(std::span(data, size), universe, state.dmx_data, length))
        return 0;
    // The sequence byte picks colour and the longest count of lost datagrams.
    state.use_color = (data[12] & 1) != 0;
    state.datagrams_lost = (data[12] & 2) != 0 ? ~0ULL : 0;
    state.sacn.shown = (data[12] & 4) != 0;
    state.sacn.merged = (data[12] >> 3) % 3;
    state.sacn.priority = data[12];
    state.sacn.ignored = (data[12] & 0x20) != 0 ? most_ignored_sources_per_universe : 0;
    copy_shown_name(std::string_view(reinterpret_cast<const char*>(data) + artdmx_header_size,
                        std::min<std::size_t>(length, e131_name_size - 1)),
        state.sacn.winner);
    const std::size_t rows = (length + 15) / 16;
    std::size_t widest = 0, lines = 0;
    for (const screen_mode mode : {screen_mode::numbers, screen_mode::bar_graph}) {
        state.display_mode = mode;
        std::FILE* file = scratch();
        display_screen(file, state, universe, state.dmx_data, length, choose_layout(mode, length, {}), 0);
        measure(file, widest, lines);
        // Colour adds 5 bytes before and 4 after a row line; the clear
        // sequence stands before the title.
        if (lines != 7 + rows * (mode == screen_mode::numbers ? 1 : 2) || widest > 246 + 9)
            std::abort();
    }
    // The protocol version and physical bytes, which the parser ignores, pick
    // a terminal of 1 to 256 columns and 1 to 73 rows, and the window.
    const terminal_size terminal{1 + data[10] % 73, 1 + data[11]};
    for (const screen_mode mode : {screen_mode::numbers, screen_mode::bar_graph}) {
        state.display_mode = mode;
        const screen_layout layout = choose_layout(mode, length, terminal);
        if (!layout.fitted)
            continue;
        std::FILE* file = scratch();
        display_screen(file, state, universe, state.dmx_data, length, layout, data[13]);
        measure(file, widest, lines, true);
        if (widest > static_cast<std::size_t>(terminal.columns) || lines >= static_cast<std::size_t>(terminal.rows))
            std::abort();
    }
    std::FILE* file = scratch();
    if (!write_clipboard_csv(file, universe, state.dmx_data, length))
        std::abort();
    measure(file, widest, lines);
    if (lines != length + 1)
        std::abort();

    // The sources screen of a table that took the datagram as Art-Net and,
    // the levels being a name, as sACN, drawn full and fitted.
    source_table table;
    start_source_table(table);
    packet_source from;
    from.port = static_cast<std::uint16_t>(data[10] << 8 | data[11]);
    from.address.s_addr = static_cast<std::uint32_t>(data[13]) << 24 | data[12];
    const auto levels = std::span<const std::uint8_t>(state.dmx_data).first(length);
    note_artdmx(table, universe, from, data[12], levels, 0);
    from.protocol = source_protocol::sacn;
    from.priority = data[13];
    const e131_data packet{{},
        std::string_view(reinterpret_cast<const char*>(levels.data()), std::min<std::size_t>(length, 63)), data[13], 0,
        data[12], 0, static_cast<std::uint16_t>(1 + universe % highest_e131_universe), 0, levels};
    note_e131(table, packet, from, 1'000'000'000LL * data[11]);
    std::array<const source_row*, most_listed_sources> listed{};
    sources_view view;
    view.rows = std::span(listed).first(list_sources(table, 2'000'000'000, true, 0, listed));
    view.table = &table;
    view.now = 2'000'000'000;
    for (const bool sacn : {false, true}) {
        state.sacn.shown = sacn;
        for (const terminal_size screen : {terminal_size{}, terminal}) {
            const screen_layout layout = choose_sources_layout(view.rows.size(), screen);
            file = scratch();
            display_sources(file, state, view, layout, data[13]);
            measure(file, widest, lines, true);
            if (layout.too_small)
                continue;
            if (layout.fitted ? widest > static_cast<std::size_t>(terminal.columns)
                        || lines >= static_cast<std::size_t>(terminal.rows)
                              : lines != 7 + view.rows.size())
                std::abort();
        }
    }
    return 0;
}
