#include "ramp.hpp"

#include <gtest/gtest.h>

#include <array>
#include <vector>

TEST(Rampgen, RampStartsAtTheOffsetAndWraps)
{
    std::array<std::uint8_t, 512> frame{};
    fill_ramp(frame, 0);
    EXPECT_EQ(frame[0], 0);
    EXPECT_EQ(frame[255], 255);
    EXPECT_EQ(frame[256], 0);
    EXPECT_EQ(frame[511], 255);
    fill_ramp(frame, 255);
    EXPECT_EQ(std::vector<int>(frame.begin(), frame.begin() + 8), (std::vector<int>{255, 0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(frame[511], 254);
}
