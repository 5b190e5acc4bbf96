#include "clock.hpp"

#include <gtest/gtest.h>

TEST(Clock, SleepUntilAnAbsoluteDeadline)
{
    const std::int64_t deadline = monotonic_ns() + 20'000'000;
    EXPECT_TRUE(sleep_until(deadline));
    EXPECT_GE(monotonic_ns(), deadline);
    EXPECT_TRUE(sleep_until(deadline - 1'000'000'000)) << "a past deadline returns at once";
}
