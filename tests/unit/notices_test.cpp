#include "notices.hpp"

#include <gtest/gtest.h>

TEST(Notices, BannerNamesTheProgramItsVersionAndPurpose)
{
    testing::internal::CaptureStderr();
    print_banner("rampgen", "Art-Net test pattern generator");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "rampgen 1.0.0 - Art-Net test pattern generator\n\n");
}
