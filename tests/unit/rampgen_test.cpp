#include "ramp.hpp"

#include <gtest/gtest.h>

#include <array>
#include <vector>

TEST(Rampgen, UniverseListKeepsFirstOrderAndRefusesThe257th)
{
    universe_list list;
    for (const std::uint16_t u : {5, 5, 2, 5})
        ASSERT_TRUE(add_universe(list, u));
    EXPECT_EQ(list.count, 2u);
    EXPECT_EQ(list.universes[0], 5);
    EXPECT_EQ(list.universes[1], 2);

    universe_list full;
    for (std::uint16_t u = 0; u < 256; ++u)
        ASSERT_TRUE(add_universe(full, u));
    for (const std::uint16_t u : {7, 0}) { // a listed universe is refused too once full
        testing::internal::CaptureStderr();
        EXPECT_FALSE(add_universe(full, u));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Too many universes specified (max 256)\n");
    }
    EXPECT_EQ(full.count, 256u);
}

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
