// The three senders under -E: what their packets carry, in what order and
// when, how their streams end, and where multicast goes.
#include "harness.hpp"

#include "e131.hpp"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <optional>
#include <string>
#include <tuple>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Each datagram as a word: D<u> data, T<u> terminated data, S<u> sync,
// L<first>-<last> a discovery page, whose universes must ascend; the data
// packets' CIDs must be `cid`.
std::string words(const std::vector<arrival>& arrivals, const std::string& cid)
{
    std::string text;
    for (const arrival& a : arrivals) {
        e131_data data;
        e131_discovery list;
        if (parse_e131_data(a.bytes, data)) {
            text += (data.options & e131_stream_terminated ? "T" : "D") + std::to_string(data.universe);
            EXPECT_EQ(format_cid(data.cid).data(), cid);
        } else if (a.bytes.size() == e131_sync_size) {
            text += "S" + std::to_string(a.bytes[45] << 8 | a.bytes[46]);
        } else {
            EXPECT_TRUE(parse_e131_discovery(a.bytes, list) && list.count() > 0);
            for (std::size_t i = 1; i < list.count(); ++i)
                EXPECT_LT(list.universe(i - 1), list.universe(i));
            text += "L" + std::to_string(list.universe(0)) + "-" + std::to_string(list.universe(list.count() - 1));
        }
        text += ' ';
    }
    return text;
}

std::vector<std::string> to(const udp_capture& capture, std::vector<std::string> args)
{
    args.insert(args.begin() + 1, {"-E", "-t", "127.0.0.1", "-p", std::to_string(capture.port())});
    return args;
}

const std::string show_format = "# Format: delay_ms,universe,channel1,channel2,channel3,...\n";

} // namespace

TEST(SacnSendersE2E, WhatEachSenderSendsAndInWhatOrder)
{
    const temp_dir dir;
    const std::string plain = dir.file("plain.csv", "0,9,8,7\n");
    const std::string show = dir.file("show.csv", show_format + "0,5,1\n5,6,2\n0,64000,3\n");
    std::string rows = show_format;
    for (int universe = 600; universe > 0; --universe)
        rows += "0," + std::to_string(universe) + ",1\n";
    const std::string many = dir.file("many.csv", rows);
    const struct {
        std::vector<std::string> args;
        std::string input;
        std::string head, later; // of the words
        std::uint16_t universe;
        int priority, sync;
        std::vector<std::uint8_t> first_levels;
        std::string message;
    } cases[] = {
        {{"linecast", "-P", "7", "-S", "-u", "300", "-c", "2"}, "1,2\n", "D300 S300 L300-300 D300 S300 D300 S300 ",
            "T300 T300 T300 ", 300, 7, 300, {0, 1, 2}, "Sent 2 value(s) to channel 2\n"},
        {{"rampgen", "-S", "-u", "4", "-u", "2", "-c", "2", "-i", "20", "-v"}, "", "D4 D2 S4 L2-4 D4 D2 S4 ",
            "T4 T2 T4 T2 T4 T2 ", 4, 100, 4, {0, 1, 2, 3}, "Sync packets for universe 4 after every frame\n"},
        {{"rampgen", "-a", "-c", "1", "-v"}, "", "D1 D2 ", "D256 L1-256 T1 ", 1, 100, 0, {0, 1}, "All (1-256)"},
        {{"showrun", "-u", "42", "-f", plain}, "", "D42 L42-42 D42 D42 ", "T42 T42 T42 ", 42, 100, 0, {9, 8, 7}, ""},
        {{"showrun", "-S", "-P", "0", "-f", show}, "", "D5 D6 S5 L5-6 ", "T5 T6 T5 T6 T5 T6 ", 5, 0, 5, {1},
            "Error parsing line 3\n"},
        {{"showrun", "-f", many}, "", "D600 D599 ", "D1 L1-512 L513-600 D600 ", 600, 100, 0, {1}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1]);
        udp_capture capture;
        const run_result result = run(to(capture, c.args), c.input);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        const std::size_t at = result.err.find("CID: ");
        ASSERT_NE(at, std::string::npos) << result.err;
        const std::vector<arrival> arrivals = capture.receive_arrivals(4000, 500);
        const std::string seen = words(arrivals, result.err.substr(at + 5, 36));
        EXPECT_TRUE(seen.starts_with(c.head)) << seen;
        EXPECT_NE(seen.find(c.later), std::string::npos) << seen;
        e131_data first;
        ASSERT_TRUE(parse_e131_data(arrivals.at(0).bytes, first));
        EXPECT_EQ(std::tuple(first.universe, first.priority, first.sync_universe),
            std::tuple(c.universe, static_cast<std::uint8_t>(c.priority), static_cast<std::uint16_t>(c.sync)));
        EXPECT_TRUE(first.source_name.starts_with(c.args[0] + " on "));
        EXPECT_EQ(first.levels.size(), c.args[0] == "rampgen" ? 512 : c.first_levels.size());
        EXPECT_TRUE(std::equal(c.first_levels.begin(), c.first_levels.end(), first.levels.begin()));
    }
}

TEST(SacnSendersE2E, EachFrameGoesOutThriceThenWithinASecondUntilTheStreamEnds)
{
    const temp_dir dir;
    const std::string held = dir.file("held.csv", "2200,5\n");
    const struct {
        std::vector<std::string> args;
        int stop_signal; // 0: the sender ends by itself, or its input 2.2 s after the start
    } cases[] = {
        {{"linecast", "-u", "1", "-c", "1"}, 0},
        {{"showrun", "-f", held}, 0},
        {{"rampgen", "-u", "1", "-i", "2200", "-c", "1"}, 0},
        {{"linecast", "-u", "1", "-c", "1"}, SIGTERM},
        {{"showrun", "-f", held}, SIGHUP},
        {{"rampgen", "-u", "1", "-i", "2200"}, SIGINT},
    };
    std::array<udp_capture, std::size(cases)> captures;
    std::array<std::optional<process>, std::size(cases)> senders;
    for (std::size_t i = 0; i < senders.size(); ++i)
        senders[i].emplace(to(captures[i], cases[i].args)).write_input("5\n");
    usleep(1'500'000);
    for (std::size_t i = 0; i < senders.size(); ++i)
        EXPECT_EQ(cases[i].stop_signal != 0 ? senders[i]->stop(cases[i].stop_signal) : 0, 0) << i;
    usleep(700'000);
    senders[0]->close_input();
    for (std::size_t i = 0; i < senders.size(); ++i) {
        SCOPED_TRACE(cases[i].args[0] + " stopped by " + std::to_string(cases[i].stop_signal));
        EXPECT_EQ(senders[i]->wait(), 0);
        std::vector<double> at;
        std::string kinds;
        for (const arrival& a : captures[i].receive_arrivals(100, 500)) {
            e131_data data;
            if (!parse_e131_data(a.bytes, data))
                continue;
            EXPECT_EQ(data.sequence, at.size() % 256);
            kinds += data.options & e131_stream_terminated ? 'T' : 'D';
            at.push_back(a.ms);
        }
        ASSERT_GE(at.size(), 7u);
        EXPECT_EQ(kinds.find('T'), kinds.size() - 3) << kinds << ": three to end the stream, nothing after";
        for (std::size_t k = 1; k + 2 < at.size(); ++k) { // the frame thrice, then the keep-alive
            EXPECT_LT(at[k] - at[k - 1], k < 3 ? 200 : 1050) << k;
            EXPECT_GT(at[k] - at[k - 1], k < 3 || k + 3 == at.size() ? 0 : 400) << k;
        }
        EXPECT_LT(at.back() - at.front(), cases[i].stop_signal != 0 ? 2000 : 4000);
    }
}

TEST(SacnSendersE2E, EachUniverseGoesToItsGroupAndLeavesByTheInterfaceOfMinusI)
{
    const run_result foreign = run({"rampgen", "-E", "-I", "192.0.2.1", "-t", "127.0.0.1", "-u", "1", "-c", "1"});
    EXPECT_EQ(foreign.status, 1);
    EXPECT_NE(foreign.err.find("setsockopt(IP_MULTICAST_IF): "), std::string::npos) << foreign.err;
    test_namespace space;
    if (!space.enter())
        GTEST_SKIP() << "no network namespace can be made here";
    // A socket of the namespace, joined to the group of universe 300 only.
    const int port = free_udp_port();
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_ANY)}, {}};
    const ip_mreq join{{htonl(e131_group(300))}, {htonl(INADDR_LOOPBACK)}};
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join);
    const int sent = run(
        {"rampgen", "-E", "-I", "127.0.0.1", "-u", "2", "-u", "300", "-c", "2", "-i", "20", "-p", std::to_string(port)})
                         .status;
    std::string seen;
    std::array<std::uint8_t, e131_data_max_size + 1> datagram{};
    for (ssize_t got; (got = recv(fd, datagram.data(), datagram.size(), MSG_DONTWAIT)) > 0;) {
        e131_data data;
        seen += parse_e131_data(std::span(datagram).first(static_cast<std::size_t>(got)), data)
            ? (data.options != 0 ? "T" : "D") + std::to_string(data.universe) + " "
            : "? ";
    }
    close(fd);
    EXPECT_EQ(sent, 0);
    EXPECT_EQ(seen, "D300 D300 T300 T300 T300 ") << "universe 2 and the list go to groups not joined";
}
