#include "notices.hpp"

#include <gtest/gtest.h>

#include <string>

TEST(Notices, BannerAndNotices)
{
    testing::internal::CaptureStderr();
    print_banner("rampgen", "Art-Net test pattern generator");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "rampgen 1.0.0 - Art-Net test pattern generator\n\n");
    EXPECT_NE(std::string(protocol_notice).find("Art-Net\xe2\x84\xa2 Designed by and Copyright Artistic Licence"),
        std::string::npos);
    EXPECT_NE(std::string(protocol_notice).find("https://art-net.org.uk"), std::string::npos);
    EXPECT_EQ(std::string(maker_address).rfind("https://", 0), 0u);
}
