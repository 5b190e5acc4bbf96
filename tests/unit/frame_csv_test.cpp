#include "frame_csv.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

std::string written_row(std::uint16_t delay, const std::vector<std::uint8_t>& levels)
{
    std::FILE* file = std::tmpfile();
    EXPECT_TRUE(write_csv_frame(file, delay, levels));
    std::string text(std::ftell(file), '\0');
    std::rewind(file);
    EXPECT_EQ(std::fread(text.data(), 1, text.size(), file), text.size());
    std::fclose(file);
    return text;
}

} // namespace

TEST(FrameCsv, ReadsEveryKindOfLine)
{
    const struct {
        const char* line;
        int result;
        std::uint16_t delay;
        std::vector<int> levels;
    } cases[] = {
        {"100,255,0,128\n", 1, 100, {255, 0, 128}},
        {"#,1,2\n", 0, 0, {}},
        {"\n", 0, 0, {}},
        {"", 0, 0, {}},
        {"  # note\n", 0, 0, {}},
        {"  # a, b\n", 1, 0, {0}},
        {",,,\n", -1, 0, {}},
        {"100\n", 0, 100, {}},
        {"100,,5\n", 1, 100, {5}},
        {",100,5\n", 1, 100, {5}},
        {"50,300,-4,abc, 7x\n", 1, 50, {255, 0, 0, 7}},
        {"5,#,2\n", 1, 5, {0, 2}},
        {"-1,0\n", 1, 65535, {0}},
        {"70000,0\n", 1, 4464, {0}},
        {"100,255,0\r\n", 1, 100, {255, 0}},
        {"100,255,\r\n", 1, 100, {255, 0}},
        {"\r\n", 0, 0, {}},
        {"\xEF\xBB\xBF"
         "100,5\n",
            1, 0, {5}},
        {"\xEF\xBB\xBF# note\n", 0, 0, {}},
        {"7,8", 1, 7, {8}},
        {"1,2\n3,4\n", 1, 1, {2}},
        {"99999999999,99999999999,-99999999999\n", 1, 65535, {255, 0}},
        {"-99999999999,1\n", 1, 0, {1}},
    };
    for (const auto& c : cases) {
        const std::string line = c.line;
        std::array<std::uint8_t, channels_per_universe> data;
        data.fill(0xaa);
        std::uint16_t delay = 12345;
        std::size_t count = 999;
        ASSERT_EQ(parse_csv_line(line.c_str(), delay, data, count), c.result) << line;
        EXPECT_EQ(line, c.line) << "the caller's line is left unchanged";
        if (c.result != 1)
            continue;
        EXPECT_EQ(delay, c.delay) << line;
        EXPECT_EQ(std::vector<int>(data.begin(), data.begin() + count), c.levels) << line;
        EXPECT_EQ(data[count], 0xaa) << "bytes beyond the count keep what they held";
    }
}

TEST(FrameCsv, TakesAtMost512Channels)
{
    std::string line = "1";
    for (int i = 0; i < 600; ++i)
        line += "," + std::to_string(i % 256);
    std::array<std::uint8_t, channels_per_universe> data{};
    std::uint16_t delay = 0;
    std::size_t count = 0;
    ASSERT_EQ(parse_csv_line((line + "\n").c_str(), delay, data, count), 1);
    EXPECT_EQ(count, 512u);
    EXPECT_EQ(data[511], 255);
}

TEST(FrameCsv, WritesRowsAndReportsFailedWrites)
{
    EXPECT_EQ(written_row(250, {0, 128, 255}), "250,0,128,255\n");
    EXPECT_EQ(written_row(0, {}), "0\n");
    EXPECT_EQ(written_row(65535, std::vector<std::uint8_t>(512, 255)).size(), 2054u) << "the longest row";

    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0);
    const std::array<std::uint8_t, 2> levels{1, 2};
    EXPECT_FALSE(write_csv_frame(full, 1, levels));
    std::fclose(full);
}

TEST(FrameCsv, EveryWrittenFrameReadsBackTheSame)
{
    std::mt19937 random(6);
    std::FILE* file = std::tmpfile();
    std::vector<std::vector<std::uint8_t>> frames;
    std::vector<std::uint16_t> delays;
    for (std::size_t count = 1; count <= channels_per_universe; ++count) {
        auto& frame = frames.emplace_back(count);
        for (auto& level : frame)
            level = static_cast<std::uint8_t>(random());
        delays.push_back(static_cast<std::uint16_t>(random()));
        ASSERT_TRUE(write_csv_frame(file, delays.back(), frame));
    }
    std::rewind(file);
    std::array<char, 4096> line{};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        ASSERT_NE(std::fgets(line.data(), line.size(), file), nullptr);
        std::array<std::uint8_t, channels_per_universe> data{};
        std::uint16_t delay = 0;
        std::size_t count = 0;
        ASSERT_EQ(parse_csv_line(line.data(), delay, data, count), 1);
        EXPECT_EQ(delay, delays[i]);
        ASSERT_EQ(std::vector<std::uint8_t>(data.begin(), data.begin() + count), frames[i]);
    }
    std::fclose(file);
}
