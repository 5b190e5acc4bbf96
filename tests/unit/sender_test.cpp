#include "sender.hpp"

#include <gtest/gtest.h>

#include <string>

TEST(Sender, RejectsTargetsThatAreNotDottedAddresses)
{
    for (const char* target : {"10.0.0.300", "localhost", ""}) {
        testing::internal::CaptureStderr();
        dmx_sender sender;
        network_options net;
        net.target = target;
        EXPECT_FALSE(open_sender(sender, net));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string("Invalid target IP: ") + target + "\n");
    }
}
