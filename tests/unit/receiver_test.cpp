#include "clock.hpp"
#include "receiver.hpp"
#include "sender.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>

namespace {

int bound_port(int fd)
{
    sockaddr_in address{};
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

} // namespace

TEST(Receiver, ReceiversShareAPortNotHeldWithoutSharingAndDoNotLeakIntoChildren)
{
    unique_fd holder(socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in any{};
    any.sin_family = AF_INET;
    ASSERT_EQ(bind(holder.get(), reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    const int port = bound_port(holder.get());

    testing::internal::CaptureStderr();
    dmx_receiver refused;
    EXPECT_EQ(open_artnet_receiver(refused, port), receiver_opening::bind_failed);
    EXPECT_FALSE(refused.sock);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
        "Failed to bind to port " + std::to_string(port) + ": " + std::strerror(EADDRINUSE) + "\n");

    holder.reset();
    testing::internal::CaptureStderr();
    dmx_receiver first;
    dmx_receiver second;
    EXPECT_EQ(open_artnet_receiver(first, port), receiver_opening::opened);
    EXPECT_EQ(open_artnet_receiver(second, port), receiver_opening::opened);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(fcntl(first.sock.get(), F_GETFD) & FD_CLOEXEC);
}

TEST(Receiver, NextFrameWaitsItsTimeThenDeliversOnlyArtDmx)
{
    dmx_receiver receiver;
    ASSERT_EQ(open_artnet_receiver(receiver, 0), receiver_opening::opened);

    const std::int64_t before = monotonic_ns();
    EXPECT_EQ(next_frame(receiver, {}, 10), receive_event::timed_out);
    const std::int64_t waited = monotonic_ns() - before;
    EXPECT_GE(waited, 10'000'000);
    EXPECT_LT(waited, 200'000'000);

    dmx_sender sender;
    network_options net;
    net.target = "127.0.0.1";
    net.port = bound_port(receiver.sock.get());
    ASSERT_TRUE(open_sender(sender, net));
    ASSERT_EQ(sendto(sender.sock.get(), "junk", 4, 0, reinterpret_cast<const sockaddr*>(&sender.destination),
                  sizeof sender.destination),
        4);
    const std::array<std::uint8_t, 4> levels = {1, 2, 3, 4};
    ASSERT_TRUE(send_dmx(sender, 7, levels));
    ASSERT_EQ(next_frame(receiver, {}, 2000), receive_event::frame);
    EXPECT_EQ(receiver.universe, 7);
    EXPECT_TRUE(std::ranges::equal(receiver.levels, levels));
}

TEST(Receiver, ASignalJustBeforeTheWaitStillEndsIt)
{
    dmx_receiver receiver;
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
