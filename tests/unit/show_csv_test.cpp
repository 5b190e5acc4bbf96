#include "options.hpp"
#include "show_csv.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

TEST(ShowCsv, RowsOfDelayUniverseAndLevels)
{
    const struct {
        const char* line;
        show_line result;
        std::uint32_t delay;
        std::uint16_t universe;
        std::vector<std::uint8_t> levels;
    } cases[] = {
        {"100,3,255,0,300\n", show_line::frame, 100, 3, {255, 0, 255}},
        {"70000,32767,1\r\n", show_line::frame, 70000, 32767, {1}}, // not cut to 16 bits
        {"99999999999,0,1\n", show_line::frame, 4294967295, 0, {1}},
        {"5,7\n", show_line::delay_only, 5, 7, {}},
        {"5,32768,1\n", show_line::bad_universe, 5, 0, {}},
        {"5,3x,1\n", show_line::bad_universe, 5, 0, {}},
        {"5\n", show_line::bad_universe, 5, 0, {}},
        {"0,,18,1\n", show_line::bad_universe, 0, 0, {}},
        {"0, ,18,1\n", show_line::bad_universe, 0, 0, {}},
        {",5,7,1\n", show_line::frame, 5, 7, {1}},
        {",,,\n", show_line::unreadable, 0, 0, {}},
        {"# a note\n", show_line::nothing, 0, 0, {}},
        {"\n", show_line::nothing, 0, 0, {}},
        {"\r\n", show_line::nothing, 0, 0, {}},
        {" \t\r\n", show_line::nothing, 0, 0, {}},
    };
    for (const auto& c : cases) {
        std::array<std::uint8_t, channels_per_universe> levels{};
        show_row row;
        ASSERT_EQ(parse_show_line(c.line, row, levels), c.result) << c.line;
        EXPECT_EQ(row.delay, c.delay) << c.line;
        if (c.result == show_line::frame || c.result == show_line::delay_only) {
            EXPECT_EQ(row.universe, c.universe) << c.line;
            EXPECT_EQ(std::vector<std::uint8_t>(levels.begin(), levels.begin() + row.count), c.levels) << c.line;
        }
    }
    std::array<char, 64> text{};
    std::FILE* file = fmemopen(text.data(), text.size(), "w");
    const std::array<std::uint8_t, 2> levels = {1, 255};
    EXPECT_TRUE(write_show_row(file, 70000, 300, levels));
    EXPECT_TRUE(write_show_row(file, 5, 7, {}));
    std::fclose(file);
    EXPECT_STREQ(text.data(), "70000,300,1,255\n5,7\n");
}

TEST(ShowCsv, UniversesAsNetSubnetUniverse)
{
    const struct {
        const char* text;
        int universe; // -1: refused
    } cases[] = {
        {"1.2.12", 300},
        {"127:15:15", 32767},
        {"0.0.0", 0},
        {"255", 255},
        {"1.2.3.4", -1},
        {"1.2", -1},
        {"128.0.0", -1},
        {"1.16.0", -1},
        {"1.2:3", -1},
        {"1..3", -1},
        {" 1.2.3", -1},
        {"1.2.3x", -1},
        {"4:4:-8", -1},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        std::uint16_t universe = 0;
        EXPECT_EQ(check_universe(c.text, universe), c.universe >= 0) << c.text;
        const std::string err = testing::internal::GetCapturedStderr();
        if (c.universe >= 0)
            EXPECT_EQ(universe, c.universe) << c.text;
        else
            EXPECT_EQ(err, "Error: Universe must be 0-32767 or net.subnet.universe (0-127.0-15.0-15)\n") << c.text;
    }
}

TEST(ShowCsv, AMomentEndsAtADelayOf10MsOrAUniverseAgain)
{
    // Rows of delay and universe (-1: the row sends nothing), and where moments begin.
    const std::vector<std::pair<std::vector<std::pair<std::uint32_t, int>>, std::vector<bool>>> cases = {
        {{{0, 1}, {3, 2}, {8, 3}, {1, 300}}, {true, false, false, false}},
        {{{500, 1}, {9, 2}, {10, 3}, {0, 4}}, {true, false, true, false}},
        {{{0, 1}, {0, 2}, {0, 1}, {0, 2}, {5, 3}}, {true, false, true, false, false}},
        {{{0, 1}, {0, -1}, {0, 1}, {20, -1}, {0, 2}}, {true, false, true, true, false}},
    };
    for (const auto& [rows, expected] : cases) {
        show_moments moments;
        std::vector<bool> begins;
        for (const auto& [delay, universe] : rows)
            begins.push_back(
                moments.begins_moment(delay, universe < 0 ? std::nullopt : std::optional<std::uint16_t>(universe)));
        EXPECT_EQ(begins, expected) << rows.size();
    }
}
