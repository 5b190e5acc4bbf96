#include "clipboard.hpp"
#include "options.hpp"
#include "render.hpp"
#include "terminal.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include <arpa/inet.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string clear = "\033[2J\033[H";
const std::string reset = "\033[0m";
const std::string maker = "https://dmxkit.example.org\n";
const std::string dashes = std::string(80, '-') + "\n";

// Runs `draw` on a memory stream and returns what it wrote.
template <typename Draw> std::string captured(Draw draw)
{
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&text, &size);
    draw(stream);
    std::fclose(stream);
    std::string result(text, size);
    std::free(text);
    return result;
}

std::string screen(int mode, bool color, std::size_t count, const std::vector<std::uint8_t>& levels = {},
    std::uint16_t universe = 1, std::uint32_t packets = 1, unsigned long long lost = 0)
{
    monitor_state state;
    state.display_mode = screen_mode{mode};
    state.use_color = color;
    state.packet_count = packets;
    state.datagrams_lost = lost;
    std::copy(levels.begin(), levels.end(), state.dmx_data.begin());
    const screen_layout full = choose_layout(state.display_mode, count, terminal_size{});
    return captured([&](std::FILE* out) { display_screen(out, state, universe, state.dmx_data, count, full, 0); });
}

std::vector<std::string> lines_of(std::string text)
{
    std::vector<std::string> lines;
    for (std::size_t end; (end = text.find('\n')) != std::string::npos; text.erase(0, end + 1))
        lines.push_back(text.substr(0, end));
    return lines;
}

} // namespace

TEST(DmxscopeRender, FiveChannelsByteForByte)
{
    const std::vector<std::uint8_t> levels = {0, 7, 99, 128, 255};
    const std::string top = clear + "Art-Net Monitor - Universe 256 (Packets: 4294967295) [%s]\n" + dashes
        + "Ch:     0    1    2    3    4 \n" + dashes;
    auto with_mode
        = [&](const char* mode) { return top.substr(0, top.find("%s")) + mode + top.substr(top.find("%s") + 2); };
    EXPECT_EQ(screen(0, true, 5, levels, 256, 4294967295u),
        with_mode("Numbers Mode") + "\033[36m   0:    0    7   99  128  255 " + std::string(55, ' ') + reset + "\n"
            + dashes + "Press 'b' to toggle bar graph | 'c' to copy CSV | 's' for sources | Ctrl+C to exit\n\033[36m"
            + maker + reset);
    const std::string bars = "[            ] [            ] [====        ] [======      ] [============] ";
    const std::string values = "        0      "
                               "        7      "
                               "       99      "
                               "      128      "
                               "      255      ";
    EXPECT_EQ(screen(1, false, 5, levels, 256, 4294967295u),
        with_mode("Bar Graph Mode") + "   0: " + bars + std::string(165, ' ') + "\n     " + values
            + std::string(165, ' ') + "\n" + dashes
            + "Press 'b' to toggle numbers | 'c' to copy CSV | 's' for sources | Ctrl+C to exit\n" + maker);
}

TEST(DmxscopeRender, GeometryForEveryCountAndMode)
{
    const struct {
        int mode;
        std::size_t count, header_width, lines;
        std::vector<std::size_t> row_widths; // of each line of a row
        std::string last_row_label;
        unsigned long long lost = 0;
        std::string title_start = "Art-Net Monitor - Universe 1 (Packets: 1) [";
    } cases[] = {
        {0, 0, 5, 7, {}, ""},
        {1, 0, 5, 7, {}, ""},
        {0, 5, 30, 8, {86}, "   0:"},
        {1, 5, 30, 9, {246, 245}, "   0:"},
        {0, 17, 85, 9, {86}, "  16:"},
        {1, 17, 85, 11, {246, 245}, "  16:"},
        {0, 512, 85, 39, {86}, " 496:"},
        {1, 512, 85, 71, {246, 245}, " 496:"},
        {1, 512, 85, 71, {246, 245}, " 496:", ~0ULL,
            "Art-Net Monitor - Universe 1 (Packets: 1, lost: 18446744073709551615) ["},
    };
    for (const auto& c : cases) {
        const std::string text = screen(c.mode, false, c.count, {}, 1, 1, c.lost);
        const auto lines = lines_of(text.substr(clear.size()));
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " count " << c.count);
        ASSERT_EQ(lines.size(), c.lines);
        EXPECT_EQ(lines[0].rfind(c.title_start, 0), 0u) << lines[0];
        EXPECT_EQ(lines[2].size(), c.header_width);
        for (std::size_t i = 4; i + 3 < lines.size(); ++i)
            EXPECT_EQ(lines[i].size(), c.row_widths[(i - 4) % c.row_widths.size()]) << i;
        if (c.count > 0) {
            EXPECT_EQ(lines[lines.size() - 3 - c.row_widths.size()].substr(0, 5), c.last_row_label);
        }
        EXPECT_EQ(std::count(text.begin(), text.end(), '\033'), 2) << "only the clear-screen sequence";
    }
    // Channel 17 alone in the second row, the rest of it blank.
    EXPECT_EQ(
        lines_of(screen(0, false, 17, std::vector<std::uint8_t>(17, 9)))[5], "  16:    9 " + std::string(75, ' '));
}

// Under sACN the title tells who sends; a narrow terminal loses the
// program's name first, and a long source name is cut by characters.
TEST(DmxscopeRender, SacnTitleNamesTheWinnerOrTheMerge)
{
    const struct {
        std::size_t merged, ignored;
        int columns;
        std::string title;
    } cases[] = {
        {0, 0, 0, "sACN Monitor - Universe 7 - no source (Packets: 1) [Numbers Mode]"},
        {1, 0, 0, "sACN Monitor - Universe 7 - \"Desk \xc3\xa9\" priority 100 (Packets: 1) [Numbers Mode]"},
        {3, 2, 0,
            "sACN Monitor - Universe 7 - 3 sources merged at priority 100, 2 ignored (Packets: 1) [Numbers Mode]"},
        {1, 0, 24, "Universe 7 - \"Desk \xc3\xa9\" pr"},
    };
    for (const auto& c : cases) {
        monitor_state state;
        state.packet_count = 1;
        state.sacn = {true, c.merged, 100, {"Desk \xc3\xa9"}, c.ignored};
        const screen_layout layout = choose_layout(screen_mode::numbers, 0, terminal_size{24, c.columns});
        const std::string text
            = captured([&](std::FILE* out) { display_screen(out, state, 7, state.dmx_data, 0, layout, 0); });
        EXPECT_EQ(lines_of(text.substr(clear.size()))[0], c.title);
    }
}

// Under sACN the sources screen adds the name, priority and state; fitted to
// a narrow terminal, the names give way first.
TEST(DmxscopeRender, SacnSourcesScreenCutsNamesFirst)
{
    source_table table;
    start_source_table(table);
    for (const auto& [letter, priority, name] :
        {std::tuple('A', 100, "Desk \xc3\xa9 main"), std::tuple('B', 50, "Backup")}) {
        packet_source from{source_protocol::sacn, {htonl(0x0a000007)}, 5568, {}, static_cast<std::uint8_t>(priority)};
        from.cid.fill(static_cast<std::uint8_t>(letter));
        note_e131(table, {from.cid, name, from.priority, 0, 1, 0, 1, 0, std::array<std::uint8_t, 2>{}}, from, 0);
    }
    std::array<const source_row*, most_listed_sources> rows{};
    const sources_view view{
        std::span(rows).first(list_sources(table, 500'000'000, true, 0, rows)), &table, 500'000'000};
    monitor_state state;
    state.sacn.shown = true;
    state.use_color = false;
    const struct {
        int columns;
        std::vector<std::string> lines; // the header and the two rows
    } cases[] = {
        {0,
            {"Univ  Proto  Address:port   Source         Prio  Rate   Last  Gaps    Ch  State",
                "   1  sACN   10.0.0.7:5568  \"Desk \xc3\xa9 main\"   100   1/s  0.5 s  gaps 0   2  winning",
                "   1  sACN   10.0.0.7:5568  \"Backup\"         50   1/s  0.5 s  gaps 0   2  outranked"}},
        {78,
            {"Univ  Proto  Address:port   Source    Prio  Rate   Last  Gaps    Ch  State",
                "   1  sACN   10.0.0.7:5568  \"Desk \xe2\x80\xa6\"   100   1/s  0.5 s  gaps 0   2  winning",
                "   1  sACN   10.0.0.7:5568  \"Backup\"    50   1/s  0.5 s  gaps 0   2  outranked"}},
    };
    for (const auto& c : cases) {
        const screen_layout layout = choose_sources_layout(view.rows.size(), {24, c.columns});
        const auto lines = lines_of(captured([&](std::FILE* out) { display_sources(out, state, view, layout, 0); }));
        ASSERT_EQ(lines.size(), 9u);
        EXPECT_EQ(lines[0], clear + "sACN Monitor - Sources: 2 (Packets: 0)");
        EXPECT_EQ(std::vector(lines.begin() + 2, lines.begin() + 3), std::vector(c.lines.begin(), c.lines.begin() + 1));
        EXPECT_EQ(std::vector(lines.begin() + 4, lines.begin() + 6), std::vector(c.lines.begin() + 1, c.lines.end()));
    }
}

TEST(DmxscopeRender, BarLengthsFollowTheLevel)
{
    const struct {
        std::uint8_t level;
        int filled;
    } cases[] = {{255, 12}, {254, 11}, {22, 1}, {21, 0}, {0, 0}, {128, 6}, {127, 5}};
    for (const auto& c : cases) {
        const std::string bar = "[" + std::string(c.filled, '=') + std::string(12 - c.filled, ' ') + "] ";
        EXPECT_NE(screen(1, false, 1, {c.level}).find("   0: " + bar + "  "), std::string::npos) << int(c.level);
    }
}

TEST(DmxscopeRender, RowsCycleSixColoursAndEveryDataLineResets)
{
    for (const int mode : {0, 1}) {
        const auto lines = lines_of(screen(mode, true, 512));
        const std::size_t per_row = mode == 0 ? 1 : 2;
        for (std::size_t row = 0; row < 32; ++row) {
            for (std::size_t k = 0; k < per_row; ++k) {
                const std::string& line = lines[4 + row * per_row + k];
                EXPECT_EQ(line.substr(0, 5), row_colors[row % 6]) << row;
                EXPECT_EQ(line.substr(line.size() - 4), reset) << row;
            }
        }
        EXPECT_EQ(lines[4 + 31 * per_row].substr(0, 5), "\033[33m") << "row 31 is yellow";
        for (const std::size_t uncoloured : {1u, 2u, 3u})
            EXPECT_EQ(lines[uncoloured].find('\033'), std::string::npos);
    }
}

TEST(DmxscopeRender, SeparatorIsDashesAndANewline)
{
    // Three of them frame a screen without channels.
    const std::string empty = screen(0, false, 0);
    EXPECT_EQ(empty.find("\n" + dashes + "Ch:  \n" + dashes + dashes), empty.find('\n'));
}

TEST(DmxscopeClipboard, CsvTextHasAHeaderAndOneLinePerChannel)
{
    std::array<std::uint8_t, 512> levels{};
    levels[0] = 255;
    levels[511] = 7;
    const auto lines
        = lines_of(captured([&](std::FILE* out) { EXPECT_TRUE(write_clipboard_csv(out, 0, levels, 512)); }));
    ASSERT_EQ(lines.size(), 513u);
    EXPECT_EQ(lines[0], "Universe,Channel,Value");
    EXPECT_EQ(lines[1], "0,1,255");
    EXPECT_EQ(lines[2], "0,2,0");
    EXPECT_EQ(lines[512], "0,512,7");
    EXPECT_EQ(
        lines_of(captured([&](std::FILE* out) { write_clipboard_csv(out, 65535, levels, 512); }))[512], "65535,512,7");

    const unique_file read_only(std::fopen("/dev/null", "r"));
    EXPECT_FALSE(write_clipboard_csv(read_only.get(), 0, levels, 512)) << "a failed write is reported";
}

TEST(DmxscopeTerminal, ColourIsOffOnlyWithoutATerminalOrOnADumbOne)
{
    const struct {
        bool terminal;
        const char* colorterm;
        const char* term;
        bool color;
    } cases[] = {
        {true, nullptr, "xterm", true},
        {true, nullptr, nullptr, true},
        {true, nullptr, "dumb", false},
        {true, "", "dumb", true},
        {true, nullptr, "dumber", true},
        {false, "truecolor", "xterm", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(color_wanted(c.terminal, c.colorterm, c.term), c.color) << (c.term ? c.term : "(unset)");
}

TEST(DmxscopeClipboard, CommandFitsTheSessionAndIsFoundOnPath)
{
    char folder_template[] = "/tmp/dmxscope-path-XXXXXX";
    const std::string folder = mkdtemp(folder_template);
    for (const char* name : {"wl-copy", "xsel"}) {
        const std::string path = folder + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n";
        chmod(path.c_str(), 0755);
    }
    const std::string xclip_folder = folder + "/x";
    mkdir(xclip_folder.c_str(), 0755);
    std::ofstream(xclip_folder + "/xclip") << "#!/bin/sh\n";
    chmod((xclip_folder + "/xclip").c_str(), 0755);

    const std::string both = folder + ":" + xclip_folder;
    const struct {
        const char* wayland;
        const char* display;
        std::string path;
        const char* chosen;
    } cases[] = {
        {"wayland-0", ":0", both, "wl-copy"},
        {nullptr, ":0", both, "xclip"},
        {nullptr, ":0", folder, "xsel"},
        {"wayland-0", nullptr, xclip_folder, nullptr},
        {"", "", both, nullptr},
        {nullptr, ":0", "/nonexistent", nullptr},
    };
    for (const auto& c : cases) {
        const char* const* command = choose_clipboard_command(c.wayland, c.display, c.path.c_str());
#ifdef __APPLE__
        EXPECT_STREQ(command[0], "pbcopy");
#else
        EXPECT_STREQ(command != nullptr ? command[0] : nullptr, c.chosen) << c.path;
#endif
    }
    std::filesystem::remove_all(folder);
}

TEST(DmxscopeLayout, FullScreenWhereItFitsOrTheSizeIsUnknownFittedElsewhere)
{
    const struct {
        int mode, rows, columns;
        std::size_t count;
        bool fitted;
        std::size_t per_row, total_rows, visible_rows;
        int bar_positions;
    } cases[] = {
        {0, 0, 0, 512, false, 16, 32, 32, 12},   // not a terminal
        {1, 10, 0, 512, false, 16, 32, 32, 12},  // no width reported
        {0, 40, 86, 512, false, 16, 32, 32, 12}, // the numbers screen just fits
        {0, 39, 86, 512, true, 16, 32, 31, 12}, {0, 40, 85, 512, true, 15, 35, 32, 12},
        {1, 72, 246, 512, false, 16, 32, 32, 12}, // the bar graph just fits
        {1, 71, 246, 512, true, 16, 32, 31, 12}, {1, 72, 245, 512, true, 16, 32, 32, 11},
        {0, 24, 80, 512, true, 14, 37, 16, 12}, {1, 24, 80, 512, true, 6, 86, 8, 9},
        {0, 45, 120, 512, false, 16, 32, 32, 12}, {1, 45, 120, 512, true, 10, 52, 18, 8},
        {0, 24, 80, 24, true, 14, 2, 2, 12}, // a short packet fits without scrolling
        {0, 24, 120, 24, false, 16, 2, 2, 12}, {1, 10, 20, 512, true, 1, 512, 1, 11}, // as small as it gets: one row
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " " << c.columns << "x" << c.rows);
        const screen_layout layout = choose_layout(screen_mode{c.mode}, c.count, {c.rows, c.columns});
        EXPECT_EQ(layout.fitted, c.fitted);
        EXPECT_EQ(layout.per_row, c.per_row);
        EXPECT_EQ(layout.total_rows, c.total_rows);
        EXPECT_EQ(layout.visible_rows, c.visible_rows);
        EXPECT_EQ(layout.bar_positions, c.bar_positions);
    }
    // The window stays within the rows: from the top to the last full page.
    const screen_layout layout = choose_layout(screen_mode::numbers, 512, {24, 80});
    EXPECT_EQ(scroll_rows(layout, 0, -1), 0u);
    EXPECT_EQ(scroll_rows(layout, 0, 1), 1u);
    EXPECT_EQ(scroll_rows(layout, 20, 16), 21u);
    EXPECT_EQ(scroll_rows(layout, 5, -512), 0u);
    EXPECT_EQ(scroll_rows(choose_layout(screen_mode::numbers, 24, {24, 80}), 0, 3), 0u) << "nothing to scroll";
}

TEST(DmxscopeLayout, FittedScreensStayWithinTheTerminal)
{
    for (const terminal_size size : {terminal_size{24, 80}, terminal_size{45, 120}, terminal_size{30, 200}}) {
        for (const int mode : {0, 1}) {
            monitor_state state;
            state.display_mode = screen_mode{mode};
            state.use_color = true;
            state.packet_count = 4294967295U;
            const screen_layout layout = choose_layout(state.display_mode, 512, size);
            if (!layout.fitted)
                continue;
            SCOPED_TRACE(testing::Message() << "mode " << mode << " " << size.columns << "x" << size.rows);
            const std::string text = captured(
                [&](std::FILE* out) { display_screen(out, state, 65535, state.dmx_data, 512, layout, 1000); });
            std::string plain;
            for (std::size_t i = 0; i < text.size(); ++i) {
                if (text[i] == '\033')
                    i = text.find_first_of("mHJ", i);
                else
                    plain += text[i];
            }
            const auto lines = lines_of(plain);
            EXPECT_LT(lines.size(), static_cast<std::size_t>(size.rows));
            for (const std::string& line : lines)
                EXPECT_LE(line.size(), static_cast<std::size_t>(size.columns)) << line;
            // The window was asked for row 1000: it shows the last page.
            const std::size_t first = (layout.total_rows - layout.visible_rows) * layout.per_row;
            EXPECT_NE(lines[0].find("Ch " + std::to_string(first) + "-511 of 512"), std::string::npos) << lines[0];
            EXPECT_EQ(lines[2].rfind("Ch:", 0), 0u);
            EXPECT_NE(lines[lines.size() - 2].find("q"), std::string::npos);
            EXPECT_EQ(lines[lines.size() - 2].find("scroll") != std::string::npos, layout.scrolls());
            EXPECT_EQ(lines.back(), maker.substr(0, maker.size() - 1));
        }
    }
}

TEST(DmxscopeLayout, BelowATitleOneRowAndTheFooterOneLineSaysSo)
{
    const struct {
        int mode;
        terminal_size size;
        std::string first_line;
    } cases[] = {
        {0, {9, 11}, "Universe 1 "},
        {1, {10, 10}, "Universe 1"}, // the smallest screens
        {0, {8, 11}, "Terminal to"},
        {0, {9, 10}, "Terminal t"},
        {1, {9, 10}, "Terminal t"},
        {1, {10, 9}, "Terminal "},
        {0, {1, 23}, "Terminal too small (23×"}, // the sign whole, or not at all
        {1, {5, 25}, "Terminal too small (25×5)"},
    };
    for (const auto& c : cases) {
        monitor_state state;
        state.display_mode = screen_mode{c.mode};
        const screen_layout layout = choose_layout(state.display_mode, 512, c.size);
        const std::string text
            = captured([&](std::FILE* out) { display_screen(out, state, 1, state.dmx_data, 512, layout, 0); });
        EXPECT_EQ(text.substr(clear.size(), text.find('\n') - clear.size()), c.first_line) << c.size.columns;
    }
}

TEST(DmxscopeTerminal, KeyReaderTurnsSequencesIntoKeys)
{
    const struct {
        std::string bytes;
        std::vector<key_kind> presses; // the presses, bytes as key_kind::byte
    } cases[] = {
        {"q", {key_kind::byte}},
        {"\033[A\033[B\033OA\033OB", {key_kind::up, key_kind::down, key_kind::up, key_kind::down}},
        {"\033[5~\033[6~", {key_kind::page_up, key_kind::page_down}},
        {"\033[H\033[F\033OH\033OF\033[1~\033[4~\033[7~\033[8~",
            {key_kind::home, key_kind::end, key_kind::home, key_kind::end, key_kind::home, key_kind::end,
                key_kind::home, key_kind::end}},
        {"\033[C\033[15~", {}},      // other keys' sequences
        {"\033b", {key_kind::byte}}, // a lone escape is dropped
    };
    for (const auto& c : cases) {
        key_reader reader;
        std::vector<key_kind> presses;
        for (const char byte : c.bytes) {
            const key_press press = reader.feed(static_cast<unsigned char>(byte));
            if (press.kind != key_kind::none)
                presses.push_back(press.kind);
        }
        EXPECT_EQ(presses, c.presses) << c.bytes.substr(1);
    }
}
