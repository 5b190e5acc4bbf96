#include "artnet_sender.hpp"

#include <gtest/gtest.h>

#include <string>

TEST(Sender, RejectsTargetsThatAreNotDottedAddresses)
{
    for (const char* target : {"10.0.0.300", "localhost", ""}) {
        testing::internal::CaptureStderr();
        artnet_sender sender;
        EXPECT_FALSE(open_artnet_sender(sender, target, 7000));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string("Invalid target IP: ") + target + "\n");
    }
}
