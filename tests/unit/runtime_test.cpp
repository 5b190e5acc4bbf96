#include "artnet_receiver.hpp"
#include "artnet_sender.hpp"
#include "clock.hpp"
#include "notices.hpp"
#include "numbers.hpp"
#include "options.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <csignal>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>

TEST(Runtime, SaturatingAtoiReadsLikeAtoiButNeverWraps)
{
    const struct {
        const char* text;
        int value;
    } cases[] = {
        {"42", 42},
        {"  \t-17", -17},
        {"+8", 8},
        {"6454x", 6454},
        {"abc", 0},
        {"", 0},
        {"- 5", 0},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"2147483648", INT_MAX},
        {"4294967297", INT_MAX},
        {"-99999999999999999999", INT_MIN},
        {"00012", 12},
    };
    for (const auto& c : cases)
        EXPECT_EQ(saturating_atoi(c.text), c.value) << c.text;
    // The view form stops at the view's end even where the text goes on.
    EXPECT_EQ(saturating_atoi(std::string_view("12345", 3)), 123);
    EXPECT_EQ(saturating_atoi(std::string_view(" \n5", 2)), 0);
}

TEST(Runtime, OptionChecksAcceptTheirRangesAndPrintTheirMessages)
{
    const struct {
        char kind;
        const char* text;
        bool ok;
        int value;
        const char* message;
    } cases[] = {
        {'u', "0", true, 0, ""},
        {'u', "255", true, 255, ""},
        {'u', "abc", true, 0, ""},
        {'u', "256", false, 0, "Universe must be between 0 and 255\n"},
        {'u', "-1", false, 0, "Universe must be between 0 and 255\n"},
        {'u', "4294967297", false, 0, "Universe must be between 0 and 255\n"},
        {'p', "1", true, 1, ""},
        {'p', "65535", true, 65535, ""},
        {'p', "6454x", true, 6454, ""},
        {'p', "0", false, 0, "Invalid port: 0\n"},
        {'p', "65536", false, 0, "Invalid port: 65536\n"},
        {'p', "abc", false, 0, "Invalid port: abc\n"},
        {'p', "4294973750", false, 0, "Invalid port: 4294973750\n"},
        {'c', "1", true, 1, ""},
        {'c', "512", true, 512, ""},
        {'c', "0", false, 0, "Channel must be between 1 and 512\n"},
        {'c', "513", false, 0, "Channel must be between 1 and 512\n"},
        {'c', "abc", false, 0, "Channel must be between 1 and 512\n"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        bool ok = false;
        int value = -1;
        if (c.kind == 'p') {
            ok = check_port(c.text, value);
        } else {
            std::uint16_t small = 0;
            ok = c.kind == 'u' ? check_universe(c.text, small) : check_channel(c.text, small);
            value = small;
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message) << c.kind << ' ' << c.text;
        EXPECT_EQ(ok, c.ok) << c.kind << ' ' << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.kind << ' ' << c.text;
        }
    }
}

TEST(Runtime, BannerAndNotices)
{
    testing::internal::CaptureStderr();
    print_banner("rampgen", "Art-Net test pattern generator");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "rampgen 1.0.0 - Art-Net test pattern generator\n\n");
    EXPECT_NE(std::string(protocol_notice).find("Art-Net\xe2\x84\xa2 Designed by and Copyright Artistic Licence"),
        std::string::npos);
    EXPECT_NE(std::string(protocol_notice).find("https://art-net.org.uk"), std::string::npos);
    EXPECT_EQ(std::string(maker_address).rfind("https://", 0), 0u);
}

namespace {

int bound_port(int fd)
{
    sockaddr_in address{};
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

} // namespace

TEST(Runtime, ReceiversShareAPortAndDoNotLeakIntoChildren)
{
    unique_fd probe(socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in any{};
    any.sin_family = AF_INET;
    ASSERT_EQ(bind(probe.get(), reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    const int port = bound_port(probe.get());
    probe.reset();

    testing::internal::CaptureStderr();
    artnet_receiver first;
    artnet_receiver second;
    EXPECT_EQ(open_artnet_receiver(first, port), receiver_opening::opened);
    EXPECT_EQ(open_artnet_receiver(second, port), receiver_opening::opened);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(fcntl(first.sock.get(), F_GETFD) & FD_CLOEXEC);
}

TEST(Runtime, PortHeldWithoutSharingGivesTheBindMessage)
{
    unique_fd holder(socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in any{};
    any.sin_family = AF_INET;
    ASSERT_EQ(bind(holder.get(), reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    const int port = bound_port(holder.get());

    testing::internal::CaptureStderr();
    artnet_receiver receiver;
    EXPECT_EQ(open_artnet_receiver(receiver, port), receiver_opening::bind_failed);
    EXPECT_FALSE(receiver.sock);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
        "Failed to bind to port " + std::to_string(port) + ": " + std::strerror(EADDRINUSE) + "\n");
}

TEST(Runtime, NextFrameWaitsItsTimeThenDeliversOnlyArtDmx)
{
    artnet_receiver receiver;
    ASSERT_EQ(open_artnet_receiver(receiver, 0), receiver_opening::opened);

    const std::int64_t before = monotonic_ns();
    EXPECT_EQ(next_frame(receiver, {}, 10), receive_event::timed_out);
    const std::int64_t waited = monotonic_ns() - before;
    EXPECT_GE(waited, 10'000'000);
    EXPECT_LT(waited, 200'000'000);

    artnet_sender sender;
    ASSERT_TRUE(open_artnet_sender(sender, "127.0.0.1", bound_port(receiver.sock.get())));
    ASSERT_EQ(sendto(sender.sock.get(), "junk", 4, 0, reinterpret_cast<const sockaddr*>(&sender.destination),
                  sizeof sender.destination),
        4);
    const std::array<std::uint8_t, 4> levels = {1, 2, 3, 4};
    ASSERT_TRUE(send_dmx(sender, 7, levels));
    ASSERT_EQ(next_frame(receiver, {}, 2000), receive_event::frame);
    EXPECT_EQ(receiver.universe, 7);
    EXPECT_TRUE(std::ranges::equal(receiver.levels, levels));
}

TEST(Runtime, SenderRejectsTargetsThatAreNotDottedAddresses)
{
    for (const char* target : {"10.0.0.300", "localhost", ""}) {
        testing::internal::CaptureStderr();
        artnet_sender sender;
        EXPECT_FALSE(open_artnet_sender(sender, target, 7000));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string("Invalid target IP: ") + target + "\n");
    }
}

TEST(Runtime, SleepUntilAnAbsoluteDeadline)
{
    const std::int64_t deadline = monotonic_ns() + 20'000'000;
    EXPECT_TRUE(sleep_until(deadline));
    EXPECT_GE(monotonic_ns(), deadline);
    EXPECT_TRUE(sleep_until(deadline - 1'000'000'000)) << "a past deadline returns at once";
}

TEST(Runtime, ASignalJustBeforeTheWaitStillEndsIt)
{
    artnet_receiver receiver;
    ASSERT_EQ(open_artnet_receiver(receiver, 0), receiver_opening::opened);
    install_stop_handlers();
    // The handler runs before the wait begins: without the wake-up pipe this
    // wait would last for ever, as nothing arrives.
    std::raise(SIGTERM);
    EXPECT_EQ(running, 0);
    EXPECT_EQ(next_frame(receiver, {}, no_timeout), receive_event::woken);
    running = 1;
    // The wake-up was used up: a wait now times out as usual.
    pollfd none{-1, POLLIN, 0};
    EXPECT_EQ(wait_for_events(std::span(&none, 1), 20), 0);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal_number, SIG_DFL);
}
