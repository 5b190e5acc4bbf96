// The receivers as Art-Net nodes (-N): found by a controller's ArtPoll, and
// unchanged in everything else.
#include "clock.hpp"
#include "descriptors.hpp"
#include "harness.hpp"
#include "options.hpp"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include <arpa/inet.h>
#include <sys/socket.h>

namespace {

const std::vector<std::uint8_t> art_poll = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x20, 0, 14, 0x02, 0};

std::string text_at(const std::vector<std::uint8_t>& reply, std::size_t offset, std::size_t size)
{
    const auto* start = reinterpret_cast<const char*>(reply.data() + offset);
    return std::string(start, strnlen(start, size));
}

struct receiver_case {
    const char* program;
    std::vector<std::string> args; // after the port
    const char* ready;             // printed once the socket is open
};

} // namespace

TEST(DiscoveryE2E, AReceiverWithMinusNAnswersAPollFromItsOwnPort)
{
    temp_dir dir;
    const receiver_case cases[] = {
        {"framelog", {"-f", dir.file("show.csv"), "-u", "5", "-N"}, "Press Ctrl+C to stop\n"},
        {"cuetrig", {"-u", "5", "-c", "1", "-N", "-t", "high", "true"}, "Press Ctrl+C to exit\n"},
        {"dmxscope", {"-u", "5", "-N"}, "Ctrl+C to exit\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        const int port = free_udp_port();
        std::vector<std::string> args = {c.program, "-p", std::to_string(port)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        process p(args, input_mode::null_device, {"TERM=dumb"});
        ASSERT_TRUE(p.wait_for_err(c.ready));
        const std::string name = std::string("dmxkit ") + c.program;
        EXPECT_NE(
            (p.out() + p.err()).find("Answering ArtPoll as \"" + name + "\" on every network\n"), std::string::npos);

        udp_capture controller;
        // A frame of universe 5 first, so that the port reports output.
        controller.send_to(port, artdmx_packet(5, {200}));
        controller.send_to(port, art_poll);
        // dmxscope takes datagrams after its start-up pause of a second; the
        // reply comes up to a second after the poll.
        const auto reply = controller.receive_arrival(6000);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->source_port, port) << "answered from the receiving socket";
        const std::vector<std::uint8_t>& r = reply->bytes;
        ASSERT_EQ(r.size(), 239u);
        EXPECT_EQ(std::vector<std::uint8_t>(r.begin(), r.begin() + 16),
            (std::vector<std::uint8_t>{'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x21, 127, 0, 0, 1, 0x36, 0x19}));
        EXPECT_EQ(text_at(r, 26, 18), name);
        EXPECT_EQ(text_at(r, 108, 64), "#0001 [0001] " + name + " ok");
        EXPECT_EQ(r[173], 1);    // one port
        EXPECT_EQ(r[174], 0x80); // an output
        EXPECT_EQ(r[182], 0x80); // with frames arriving
        EXPECT_EQ(r[190], 5);    // of universe 5
        EXPECT_FALSE(controller.receive(300)) << "one reply for one universe";
        EXPECT_EQ(p.stop(SIGINT), 0);
        if (std::string(c.program) != "dmxscope") {
            EXPECT_NE(p.err().find("Answering ArtPoll as \"" + name + "\" at 127.0.0.1\n"), std::string::npos);
        }
    }
}

TEST(DiscoveryE2E, PollsAreNotFramesAndGoUnansweredWithoutMinusN)
{
    for (const bool node : {false, true}) {
        SCOPED_TRACE(node);
        temp_dir dir;
        udp_capture controller;
        const int port = free_udp_port();
        std::vector<std::string> recorder = {"framelog", "-f", dir.file("show.csv"), "-p", std::to_string(port)};
        std::vector<std::string> trigger
            = {"cuetrig", "-u", "0", "-c", "1", "-p", std::to_string(port), "-t", "high", "--", "echo", "fired"};
        if (node) {
            recorder.push_back("-N");
            trigger.insert(trigger.begin() + 1, "-N");
        }
        process r(recorder, input_mode::null_device);
        process t(trigger, input_mode::null_device);
        ASSERT_TRUE(r.wait_for_err("Press Ctrl+C to stop\n"));
        ASSERT_TRUE(t.wait_for_err("Press Ctrl+C to exit\n"));
        // Both receivers share the port: only a broadcast reaches both.
        for (const auto& datagram :
            {artdmx_packet(0, {0}), art_poll, artdmx_packet(0, {200}), art_poll, artdmx_packet(0, {200})})
            send_udp(port, datagram, "127.255.255.255");
        ASSERT_TRUE(r.wait_for_err("Packets: 3 ("));
        ASSERT_TRUE(t.wait_for_out("fired\n"));
        // A poll to the controller's own socket is answered only with -N. Its
        // address polled above, and an address is answered once a second:
        // the controller polls again until then.
        bool answered = false;
        for (int i = 0; i < (node ? 10 : 2) && !answered; ++i) {
            controller.send_to(port, art_poll);
            answered = controller.receive(600).has_value();
        }
        EXPECT_EQ(answered, node);
        EXPECT_EQ(r.stop(SIGINT), 0);
        EXPECT_EQ(t.stop(SIGINT), 0);
        EXPECT_NE(r.err().find("Frames recorded: 2 (only changes)\nPackets received: 3\n"), std::string::npos)
            << r.err();
        const std::string rows = read_file(dir.file("show.csv"));
        EXPECT_NE(rows.find("\n\n0,0\n"), std::string::npos) << rows;
        EXPECT_TRUE(rows.ends_with(",200\n")) << rows;
        EXPECT_EQ(t.out(), "fired\n") << "one rise, one run";
    }
}

TEST(DiscoveryE2E, AOneAddressFloodBesideAPollingController)
{
    const unique_fd controller(socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.2", &address.sin_addr);
    if (bind(controller.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        GTEST_SKIP() << "127.0.0.2 cannot be bound here";
    const int port = free_udp_port();
    process p({"framelog", "-f", "/dev/null", "-p", std::to_string(port), "-N"}, input_mode::null_device);
    ASSERT_TRUE(p.wait_for_err("Press Ctrl+C to stop\n"));
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    connect(controller.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    std::array<udp_capture, 40> flood; // 40 ports of 127.0.0.1
    // A few hundred polls a second; the controller polls at 0, 2.5 and 5 s
    // and wants each poll answered (by 64 replies) within 3 s: 4 s here, as
    // a loaded machine may run the node late (the node's unit test holds it
    // to 3 s).
    std::int64_t unanswered_since = 0;
    for (std::int64_t i = 0, polls = 0, start = monotonic_ns(), now = start; polls < 3 || unanswered_since != 0;
         ++i, now = monotonic_ns()) {
        ASSERT_LT(now - (unanswered_since == 0 ? now : unanswered_since), 4'000'000'000) << "poll " << polls;
        flood[static_cast<std::size_t>(i) % flood.size()].send_to(port, art_poll);
        if (polls < 3 && now - start >= polls * 2'500'000'000) {
            send(controller.get(), art_poll.data(), art_poll.size(), 0);
            unanswered_since = unanswered_since == 0 ? now : unanswered_since;
            ++polls;
        }
        std::array<std::uint8_t, 512> reply{};
        usleep(3000);
        if (recv(controller.get(), reply.data(), reply.size(), MSG_DONTWAIT) == 239)
            unanswered_since = 0;
    }
    EXPECT_EQ(p.stop(SIGINT), 0);
}
