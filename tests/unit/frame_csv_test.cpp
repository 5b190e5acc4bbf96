#include "frame_csv.hpp"

#include <gtest/gtest.h>

#include <array>
#include <vector>

TEST(FrameCsv, ReadsRows)
{
    std::array<std::uint8_t, channels_per_universe> data{};
    std::uint16_t delay = 0;
    std::size_t count = 0;
    ASSERT_EQ(parse_csv_line("100,255,0,128\n", delay, data, count), 1);
    EXPECT_EQ(delay, 100);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(data[0], 255);
    EXPECT_EQ(data[2], 128);
}
