#include "harness.hpp"

#include "artdmx.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

using namespace std::literals;

namespace {

const std::string banner = "linecast 1.0.0 - sends standard-input lines as Art-Net DMX\n\n";
const std::string usage_text = "Usage: linecast -u <universe> -c <channel> [-t target_ip] [-p port] [-v]\n\n"
                               "Required:\n"
                               "  -u universe   Universe to send to (0-32767)\n"
                               "  -c channel    Starting channel (1-512)\n\n"
                               "Options:\n"
                               "  -t target_ip  Destination IPv4 address (default: 255.255.255.255)\n"
                               "  -p port       UDP port (default: 6454)\n"
                               "  -v            Verbose mode: show conversion details and warnings\n"
                               "  -k ms         Keep-alive: re-send the last frame every ms while no line comes "
                               "(100-10000)\n"
                               "  -h            Show this help message\n"
                               "  -E            Send sACN (E1.31) instead of Art-Net: port 5568, universes 1-63999\n"
                               "  -P priority   sACN priority, 0-200 (default: 100)\n"
                               "  -I address    Local IPv4 address of the interface that sACN multicast leaves from\n"
                               "  -S            Send a sync packet (ArtSync, or sACN's for the universe) after every "
                               "frame\n\n"
                               "Input Format:\n"
                               "  Reads from stdin. Always attempts to convert input:\n"
                               "  - Numbers: echo 255 | linecast -u 1 -c 1\n"
                               "  - Comma-separated: echo 1,2,3 | linecast -u 1 -c 3\n"
                               "  - ASCII strings: echo \"hello\" | linecast -u 1 -c 1  (converts to ASCII values)\n"
                               "  - Mixed: echo \"A,100,B\" | linecast -u 1 -c 1  (A=65, 100, B=66)\n"
                               "  - Each line is sent as a separate frame\n\n"
                               "Examples:\n"
                               "  echo 255 | linecast -u 1 -c 1          # Send 255 to channel 1\n"
                               "  echo 1,2,3 | linecast -u 1 -c 3        # Send 1,2,3 to channels 3,4,5\n"
                               "  echo \"hello\" | linecast -u 1 -c 1      # Send ASCII: 104,101,108,108,111\n"
                               "  cat values.txt | linecast -u 0 -c 1    # Send each line from file\n\n"
                               "Art-Net\xe2\x84\xa2 Designed by and Copyright Artistic Licence Holdings Ltd\n"
                               "Protocol documentation: https://art-net.org.uk\n";

std::vector<std::string> to(
    const udp_capture& capture, const std::string& universe, const std::string& channel, bool verbose = false)
{
    std::vector<std::string> args
        = {"linecast", "-u", universe, "-c", channel, "-t", "127.0.0.1", "-p", std::to_string(capture.port())};
    if (verbose)
        args.emplace_back("-v");
    return args;
}

std::string report(const udp_capture& capture, const std::string& universe, const std::string& channel)
{
    return banner + "Universe: " + universe + " | Starting Channel: " + channel
        + " | Target: 127.0.0.1:" + std::to_string(capture.port()) + "\n";
}

// The levels of an ArtDmx, after checking its header.
std::vector<int> levels(const std::vector<std::uint8_t>& datagram, std::uint16_t universe)
{
    std::array<std::uint8_t, channels_per_universe> data{};
    std::uint16_t got_universe = 0;
    std::size_t length = 0;
    EXPECT_TRUE(parse_artdmx(datagram, got_universe, data, length));
    EXPECT_EQ(got_universe, universe);
    EXPECT_EQ(datagram.size(), artdmx_header_size + length);
    return {data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length)};
}

} // namespace

TEST(LinecastE2E, DataStartAtChannelOneWithZerosBelowTheStart)
{
    std::vector<int> at_512(512, 0);
    at_512[511] = 1;
    const struct {
        std::string channel, line;
        std::vector<int> data;
        std::string err_tail;
    } cases[] = {
        {"1", "255\n", {255, 0}, "Sent 1 value(s) to channel 1\n"}, // Length 2: receivers drop an odd one
        {"3", "1,2,3\n", {0, 0, 1, 2, 3, 0}, "Sent 3 value(s) to channel 3\n"},
        {"512", "1 2 300\n", at_512,
            "Warning: Buffer full (1/1 channels). Skipped 4 characters from input.\nSent 1 value(s) to channel 512\n"},
    };
    for (const auto& c : cases) {
        udp_capture capture;
        const run_result result = run(to(capture, "7", c.channel), c.line);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err,
            report(capture, "7", c.channel) + "Reading from stdin...\nhttps://dmxkit.example.org\n\n" + c.err_tail);
        const auto datagram = capture.receive();
        ASSERT_TRUE(datagram);
        EXPECT_EQ(levels(*datagram, 7), c.data) << c.channel;
        EXPECT_EQ(datagram->at(12), 1) << "the first packet carries sequence 1";
        EXPECT_EQ(result.out, "");
    }
}

TEST(LinecastE2E, VerboseRunSkipsEmptyAndCarriageReturnLines)
{
    udp_capture capture;
    const run_result result = run(to(capture, "0", "3", true), "10,20\r\n\n\r\n300\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err,
        report(capture, "0", "3")
            + "Verbose mode: ON\nReading from stdin...\nhttps://dmxkit.example.org\n\n"
              "Line 1: Processing \"10,20\r\"\n"
              "  [0] Number: 10 -> 10\n  [1] Number: 20 -> 20\n"
              "  Sending 2 values to channels 3-4 (payload length: 4)\n"
              "  Packet sent successfully (sequence: 1)\n\n"
              "Line 2: Empty line, skipping\n"
              "Line 3: Processing \"\r\"\n  No values extracted from line\n"
              "Line 4: Processing \"300\"\n  [0] Number: 255 -> 255\n"
              "  Sending 1 values to channels 3-3 (payload length: 3)\n"
              "  Packet sent successfully (sequence: 2)\n\n");
    const auto datagrams = capture.receive_many(3, 300);
    ASSERT_EQ(datagrams.size(), 2u);
    EXPECT_EQ(levels(datagrams[0], 0), (std::vector<int>{0, 0, 10, 20}));
    EXPECT_EQ(datagrams[1][12], 2) << "skipped lines leave the sequence alone";
    EXPECT_EQ(levels(datagrams[1], 0), (std::vector<int>{0, 0, 255, 0}));
}

TEST(LinecastE2E, EachPacketHoldsOnlyItsOwnLine)
{
    const struct {
        std::string_view input;
        std::vector<std::vector<int>> data;
    } cases[] = {
        // A shorter line after a longer one, and a last line without newline.
        {"1,2,3,4,5,6,7,8,9,10\n7,8", {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0}, {0, 7, 8, 0}}},
        // A zero byte ends the line: the rest up to the newline is ignored.
        {"5,6\0,7,8\n\0 9\n4\n"sv, {{0, 5, 6, 0}, {0, 4}}},
    };
    for (const auto& c : cases) {
        udp_capture capture;
        EXPECT_EQ(run(to(capture, "1", "2"), c.input).status, 0);
        const auto datagrams = capture.receive_many(c.data.size() + 1, 300);
        ASSERT_EQ(datagrams.size(), c.data.size());
        for (std::size_t i = 0; i < c.data.size(); ++i)
            EXPECT_EQ(levels(datagrams[i], 1), c.data[i]);
    }
}

TEST(LinecastE2E, SequenceRunsTo255ThenZero)
{
    udp_capture capture;
    std::string input;
    for (int i = 0; i < 257; ++i)
        input += std::to_string(i) + "\n";
    EXPECT_EQ(run(to(capture, "2", "1"), input).status, 0);
    const auto datagrams = capture.receive_many(257, 5000);
    ASSERT_EQ(datagrams.size(), 257u);
    for (int i = 0; i < 257; ++i) {
        EXPECT_EQ(datagrams[i][12], (i + 1) % 256) << i;
        EXPECT_EQ(levels(datagrams[i], 2), (std::vector<int>{std::min(i, 255), 0})) << i;
    }
}

TEST(LinecastE2E, OptionErrorsStopBeforeTheBanner)
{
    const std::string both = "Error: Both -u and -c must be specified\n" + usage_text;
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
        bool after_getopt_message = false;
    } cases[] = {
        {{"-u", "1"}, 1, both},
        {{"-c", "1"}, 1, both},
        {{"-h", "-u", "999"}, 0, usage_text},
        {{"-u", "99999", "-h"}, 1, "Error: Universe must be 0-32767 or net.subnet.universe (0-127.0-15.0-15)\n"},
        {{"-u", "1", "-c", "513"}, 1, "Channel must be between 1 and 512\n"},
        {{"-u", "1", "-c", "1", "-p", "0x"}, 1, "Invalid port: 0x\n"},
        {{"-u", "1", "-c", "1", "-t", "255.255.255.2555"}, 1, "Invalid target IP address\n"},
        {{"-u", "1", "-c", "1", "-t", "255.255.255.256"}, 1, banner + "Invalid target IP: 255.255.255.256\n"},
        {{"-u", "1", "-c", "1", "-t", "1.2.3.999"}, 1, banner + "Invalid target IP: 1.2.3.999\n"},
        {{"-u", "1", "-c", "1", "-x"}, 1, usage_text, true},
        {{"-u", "1", "-c"}, 1, usage_text, true},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"linecast"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const run_result result = run(args, "1\n");
        EXPECT_EQ(result.status, c.status) << c.err;
        if (c.after_getopt_message)
            EXPECT_TRUE(result.err.starts_with("linecast: ") && result.err.ends_with(c.err)) << result.err;
        else
            EXPECT_EQ(result.err, c.err);
    }
}

#if defined(__linux__)
TEST(LinecastE2E, FailedSendOrReadEndsWithStatusOne)
{
    const struct {
        std::string input;
        std::vector<std::string> env;
        std::string err_tail;
    } cases[] = {
        // The first send fails: the second line is never read.
        {"1\n2\n", {}, "https://dmxkit.example.org\n\nsendto: Network is unreachable\n"},
        {"1\n", {"LINECAST_STDIN_DIRECTORY=1"}, "https://dmxkit.example.org\n\nfgets: Is a directory\n"},
    };
    for (const auto& c : cases) {
        udp_capture capture;
        std::vector<std::string> env = c.env;
        env.emplace_back("LD_PRELOAD=" LINECAST_FAULTS_LIBRARY);
        process p(to(capture, "1", "1"), input_mode::pipe, env);
        p.write_input(c.input);
        p.close_input();
        EXPECT_EQ(p.wait(), 1) << p.err();
        EXPECT_TRUE(p.err().ends_with(c.err_tail)) << p.err();
    }
}
#endif

TEST(LinecastE2E, KeepAliveResendsTheLastFrameUntilOneIntervalAfterTheEnd)
{
    udp_capture capture;
    auto args = to(capture, "2", "3");
    args.insert(args.end(), {"-k", "200"});
    process p(args);
    ASSERT_TRUE(p.wait_for_err("Reading from stdin...\n"));
    EXPECT_FALSE(capture.receive(300)) << "nothing re-sent before the first frame";
    p.write_input("7,8\n");
    usleep(1'000'000);
    p.close_input();
    EXPECT_EQ(p.wait(2000), 0);
    const auto sent = capture.receive_arrivals(20, 500);
    // The frame, about four re-sends in the second's pause, one in the
    // interval after the end of input.
    ASSERT_GE(sent.size(), 5u);
    ASSERT_LE(sent.size(), 7u);
    for (std::size_t k = 0; k < sent.size(); ++k) {
        EXPECT_EQ(sent[k].bytes[12], k + 1) << "the next sequence number";
        EXPECT_EQ(levels(sent[k].bytes, 2), (std::vector<int>{0, 0, 7, 8}));
        if (k > 0) {
            EXPECT_GT(sent[k].ms - sent[k - 1].ms, 150);
            EXPECT_LT(sent[k].ms - sent[k - 1].ms, 400);
        }
    }

    const run_result bad = run({"linecast", "-u", "1", "-c", "1", "-k", "50"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err.rfind("Error: Keep-alive must be between 100 and 10000 ms\nUsage: linecast ", 0), 0u);
}

TEST(LinecastE2E, MinusSSendsAnArtSyncAfterEveryLine)
{
    udp_capture capture;
    auto args = to(capture, "2", "1");
    args.emplace_back("-S");
    EXPECT_EQ(run(args, "1\n2\n").status, 0);
    std::array<std::uint8_t, artsync_size> sync{};
    build_artsync(sync);
    const auto sent = capture.receive_many(5, 500);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(levels(sent[2], 2), (std::vector<int>{2, 0}));
    EXPECT_TRUE(std::ranges::equal(sent[1], sync) && std::ranges::equal(sent[3], sync));
}
