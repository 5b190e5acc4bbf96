#include "artpoll.hpp"
#include "clock.hpp"
#include "node.hpp"
#include "options.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include <arpa/inet.h>

namespace {

std::vector<std::uint8_t> poll_packet(
    std::uint8_t version_high, std::uint8_t version_low, std::size_t size, std::uint8_t opcode_high = 0x20)
{
    const std::array<std::uint8_t, 14> head
        = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, opcode_high, version_high, version_low, 0x02, 0x10};
    std::vector<std::uint8_t> packet(size, 0xaa);
    std::copy_n(head.begin(), std::min(size, head.size()), packet.begin());
    return packet;
}

std::string text_at(const std::array<std::uint8_t, artpollreply_size>& reply, std::size_t offset, std::size_t size)
{
    const auto* start = reinterpret_cast<const char*>(reply.data() + offset);
    EXPECT_EQ(start[size - 1], '\0') << "every name ends with a zero";
    return std::string(start, strnlen(start, size));
}

struct sent_reply {
    std::array<std::uint8_t, artpollreply_size> bytes{};
    sockaddr_in to{};
};
std::vector<sent_reply> sent;

bool record_reply(int, std::span<const std::uint8_t> reply, const sockaddr_in& to)
{
    sent.push_back({});
    std::copy(reply.begin(), reply.end(), sent.back().bytes.begin());
    sent.back().to = to;
    return true;
}

// The replies to a poll from 127.0.0.1 taken at `now`, sent when it falls due.
std::vector<sent_reply> answer_poll(artnet_node& node, std::int64_t now)
{
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    from.sin_port = htons(1024);
    EXPECT_TRUE(take_poll(node, poll_packet(0, 14, 14), from, now));
    sent.clear();
    send_due_replies(node, -1, now + node_wait_ms(node, now) * ns_per_ms, record_reply);
    return sent;
}

} // namespace

TEST(ArtPoll, ParserTakesPollsOfProtocol14OnAndIgnoresTheRest)
{
    const struct {
        std::vector<std::uint8_t> packet;
        bool taken;
    } cases[] = {
        {poll_packet(0, 14, 14), true},
        {poll_packet(0, 14, 22), true}, // Art-Net 4's additions are ignored
        {poll_packet(1, 0, 14), true},  // ProtVer 256: high byte first
        {poll_packet(0, 13, 14), false},
        {poll_packet(0, 14, 13), false},
        {poll_packet(0, 14, 14, 0x21), false}, // another node's ArtPollReply
        {poll_packet(0, 14, 14, 0x50), false}, // ArtDmx
        {{'A', 'r', 't', '-', 'N', 'e', 't', '!', 0, 0x20, 0, 14, 0, 0}, false},
    };
    for (const auto& c : cases) {
        artpoll poll;
        EXPECT_EQ(parse_artpoll(c.packet, poll), c.taken) << testing::PrintToString(c.packet);
        if (c.taken) {
            EXPECT_EQ(poll.flags, 0x02);
            EXPECT_EQ(poll.diag_priority, 0x10);
        }
    }
}

TEST(ArtPoll, ReplyForOneUniverseFieldByField)
{
    artnet_node node;
    start_node(node, "framelog", 0xa7, false);
    node.replies_sent = 41;
    note_frame(node, 0xa7, 1'000'000'000);
    const std::vector<sent_reply> replies = answer_poll(node, 1'000'000'000);
    ASSERT_EQ(replies.size(), 1u);
    const auto& reply = replies[0].bytes;

    const std::vector<std::uint8_t> head(reply.begin(), reply.begin() + 26);
    EXPECT_EQ(head,
        (std::vector<std::uint8_t>{'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x21, 127, 0, 0, 1, 0x36, 0x19, 1, 0, 0,
            0x0a, 0x00, 0xff, 0, 0, 0, 0}));
    EXPECT_EQ(text_at(reply, 26, 18), "dmxkit framelog");
    EXPECT_EQ(text_at(reply, 44, 64).rfind("dmxkit framelog on ", 0), 0u);
    EXPECT_EQ(text_at(reply, 108, 64), "#0001 [0042] dmxkit framelog ok");
    const std::vector<std::uint8_t> ports(reply.begin() + 172, reply.begin() + 200);
    EXPECT_EQ(ports,
        (std::vector<std::uint8_t>{
            0, 1, 0x80, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    const std::vector<std::uint8_t> tail(reply.begin() + 200, reply.end());
    std::vector<std::uint8_t> expected(tail.size(), 0);
    expected[207 - 200] = 127; // BindIp
    expected[210 - 200] = 1;
    expected[211 - 200] = 1;    // BindIndex
    expected[212 - 200] = 0x08; // Status2: 15-bit Port-Addresses
    EXPECT_EQ(tail, expected);
    EXPECT_EQ(replies[0].to.sin_port, htons(1024)) << "to the poller's port";

    // No frame for five seconds: the port no longer outputs.
    EXPECT_EQ(answer_poll(node, 6'000'000'000).at(0).bytes[182], 0);
}

TEST(ArtPoll, RepliesGroupUniversesByNetAndSubNetAndNeverReuseABindIndex)
{
    // {every universe of Net 0, universes, replies, universes left out}
    std::array<std::uint16_t, 256> every{};
    std::array<std::uint16_t, 256> apart{}; // each in a Sub-Net of its own
    std::array<std::uint16_t, 256> shared{};
    for (std::uint16_t i = 0; i < 256; ++i) {
        every[i] = i;
        apart[i] = static_cast<std::uint16_t>(i * 16);
        shared[i] = static_cast<std::uint16_t>(i == 255 ? 1 : i * 16);
    }
    const struct {
        bool all;
        std::span<const std::uint16_t> universes;
        std::size_t replies, left_out;
    } cases[] = {
        {true, every, 64, 0},
        {false, every, 64, 0},
        {false, apart, 255, 1},
        {false, shared, 255, 0},
    };
    for (const auto& c : cases) {
        artnet_node node;
        if (c.all)
            start_node(node, "dmxscope", universe_not_given, true);
        else
            start_node(node, "framelog", c.universes);
        note_frame(node, 254, 1);
        const std::vector<sent_reply> replies = answer_poll(node, 1);
        ASSERT_EQ(replies.size(), c.replies);
        EXPECT_EQ(node.ports.left_out, c.left_out);
        std::vector<std::uint16_t> announced;
        for (std::size_t index = 0; index < replies.size(); ++index) {
            const auto& reply = replies[index].bytes;
            SCOPED_TRACE(index);
            ASSERT_EQ(reply[211], index + 1) << "BindIndex";
            for (std::size_t port = 0; port < reply[173]; ++port) {
                announced.push_back(static_cast<std::uint16_t>(reply[18] << 8 | reply[19] << 4 | reply[190 + port]));
                EXPECT_EQ(reply[174 + port], 0x80);
                EXPECT_EQ(reply[182 + port], announced.back() == 254 ? 0x80 : 0) << "GoodOutputA";
            }
        }
        std::vector<std::uint16_t> expected(c.universes.begin(), c.universes.end() - c.left_out);
        std::ranges::sort(expected);
        EXPECT_EQ(announced, expected);
    }
}

TEST(ArtPoll, NodeKeepsAPollingControllerAnsweredThroughFloodsAndRepliesLittle)
{
    // {every universe, first flooding address, addresses, polls a second, most answers}: 20 s of polls from
    // 40 ports of each address, and every 2.5 s from a controller at 10.0.0.2 that joins at 2 s.
    const std::array<std::array<std::int64_t, 5>, 9> cases = {{
        {0, 0x7f000001, 1, 1000, 28},   // one address
        {1, 0x7f000001, 1, 200, 28},    // with every universe: 64 replies an answer
        {1, 0x7f000001, 4, 300, 88},    // a few addresses
        {1, 0x7f000001, 30, 400, 69},   // as many as the reply budget holds
        {0, 0x7f000001, 30, 1000, 608}, // each answered once a second
        {0, 0xe0000001, 1, 1000, 8},    // a multicast group
        {0, 0xffffffff, 1, 1000, 8},    // the broadcast address
        {0, 0x00000000, 1, 1000, 8},    // no address
        {0, 0xc0a801ff, 1, 1000, 8},    // the broadcast address of a network of this host, below
    }};
    constexpr std::int64_t second = 1'000'000'000;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    for (const auto& [all, first, flooders, rate, most_answers] : cases) {
        artnet_node node;
        start_node(node, "dmxscope", 1, all != 0);
        node.broadcast_addresses[0] = htonl(0xc0a801ff);
        std::int64_t unanswered_since = 0;
        std::vector<std::int64_t> replies;
        for (std::int64_t now = second, i = 0; now < 21 * second; now += second / rate, ++i) {
            const bool controller = (now + 2 * second) % (5 * second / 2) < second / rate;
            from.sin_addr.s_addr = htonl(static_cast<std::uint32_t>(controller ? 0x0a000002 : first + i % flooders));
            from.sin_port = htons(static_cast<std::uint16_t>(1024 + i / flooders % 40));
            take_poll(node, poll_packet(0, 14, 14), from, now);
            unanswered_since = controller && unanswered_since == 0 ? now : unanswered_since;
            sent.clear();
            send_due_replies(node, -1, now, record_reply);
            for (const sent_reply& reply : sent) {
                replies.push_back(now);
                unanswered_since = reply.to.sin_addr.s_addr == htonl(0x0a000002) ? 0 : unanswered_since;
            }
            ASSERT_LT(now - (unanswered_since == 0 ? now : unanswered_since), 3 * second) << first << " x " << flooders;
        }
        EXPECT_LE(replies.size() / (all != 0 ? all_universe_replies : 1), static_cast<std::size_t>(most_answers))
            << first;
        for (std::size_t k = 256; k < replies.size(); ++k)
            ASSERT_GT(replies[k] - replies[k - 256], second) << "more than 256 replies in one second";
    }
}
