#include "harness.hpp"

#include "artdmx.hpp"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>

namespace {

const std::string banner = "rampgen 1.0.0 - Art-Net test pattern generator\n\n";

std::vector<std::string> to(const udp_capture& capture, std::vector<std::string> args)
{
    args.insert(args.begin(), {"rampgen", "-t", "127.0.0.1", "-p", std::to_string(capture.port())});
    return args;
}

struct datagram_view {
    std::uint8_t sequence;
    std::uint16_t universe;
    std::array<std::uint8_t, channels_per_universe> data{};
    std::size_t length = 0;
};

datagram_view read(const std::vector<std::uint8_t>& datagram)
{
    datagram_view view{};
    EXPECT_TRUE(parse_artdmx(datagram, view.universe, view.data, view.length));
    view.sequence = datagram.at(12);
    return view;
}

} // namespace

TEST(RampgenE2E, AllUniversesCarryTheRampAndOneSequenceCounter)
{
    udp_capture capture;
    const run_result result = run(to(capture, {"-a", "-c", "3", "-i", "1"}));
    ASSERT_EQ(result.status, 0) << result.err;
    const auto datagrams = capture.receive_many(769, 1000);
    ASSERT_EQ(datagrams.size(), 768u);
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
        const auto& d = datagrams[i];
        ASSERT_EQ(d.size(), 530u);
        EXPECT_EQ(d[10], 0);
        EXPECT_EQ(d[11], 14);
        EXPECT_EQ(d[13], 0);
        const datagram_view view = read(d);
        const std::size_t frame = i / 256;
        EXPECT_EQ(view.universe, i % 256);
        EXPECT_EQ(view.sequence, (view.universe + 1) % 256) << "universe u always gets (u+1) mod 256";
        EXPECT_EQ(view.length, 512u);
        for (std::size_t c : {0u, 7u, 255u, 256u, 511u})
            EXPECT_EQ(view.data[c], (frame + c) % 256);
    }
    EXPECT_EQ(result.err, banner + "Sending Art-Net test data...\nhttps://dmxkit.example.org\n");
}

TEST(RampgenE2E, ListedUniversesGoInFirstGivenOrderWithSequenceRunningOn)
{
    udp_capture capture;
    const run_result result = run(to(capture, {"-u", "5", "-u", "5", "-u", "2", "-c", "2", "-i", "1", "-v"}));
    ASSERT_EQ(result.status, 0) << result.err;
    const auto datagrams = capture.receive_many(4, 2000);
    ASSERT_EQ(datagrams.size(), 4u);
    const std::uint16_t universes[] = {5, 2, 5, 2};
    for (std::size_t i = 0; i < 4; ++i) {
        const datagram_view view = read(datagrams[i]);
        EXPECT_EQ(view.universe, universes[i]);
        EXPECT_EQ(view.sequence, i + 1);
        EXPECT_EQ(view.data[0], i / 2);
    }
    EXPECT_NE(result.err.find("Universes: 5, 2\nTarget: 127.0.0.1:" + std::to_string(capture.port())
                  + " | Interval: 1 ms | Frames: 2\nhttps://dmxkit.example.org\n\n"),
        std::string::npos)
        << result.err;
}

TEST(RampgenE2E, SequenceWrapsThroughZero)
{
    udp_capture capture;
    ASSERT_EQ(run(to(capture, {"-u", "9", "-c", "257", "-i", "1"})).status, 0);
    const auto datagrams = capture.receive_many(257, 5000);
    ASSERT_EQ(datagrams.size(), 257u);
    EXPECT_EQ(datagrams[254][12], 255);
    EXPECT_EQ(datagrams[255][12], 0);
    EXPECT_EQ(datagrams[256][12], 1);
    EXPECT_EQ(read(datagrams[255]).data[0], 255);
    EXPECT_EQ(read(datagrams[256]).data[0], 0) << "after 256 frames the ramp repeats";
}

TEST(RampgenE2E, VerboseStatusLinesFollowFrames1And11)
{
    udp_capture capture;
    const run_result result = run(to(capture, {"-u", "1", "-c", "15", "-i", "1", "-v"}));
    ASSERT_EQ(result.status, 0);
    const std::string first
        = "\rFrame: 1 | Ramp offset: 0 | Ch 1-8:   0   1   2   3   4   5   6   7 | Progress: 1/15   ";
    const std::string second
        = "\rFrame: 11 | Ramp offset: 10 | Ch 1-8:  10  11  12  13  14  15  16  17 | Progress: 11/15   ";
    EXPECT_NE(result.err.find(first + second + "\n"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("Frame: 21"), std::string::npos);
}

TEST(RampgenE2E, ZeroFramesOpensTheEndpointAndSendsNothing)
{
    udp_capture capture;
    const run_result result = run(to(capture, {"-a", "-c", "0", "-v"}));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err,
        banner + "Sending Art-Net test data...\nUniverses: All (0-255)\nTarget: 127.0.0.1:"
            + std::to_string(capture.port()) + " | Interval: 50 ms | Frames: 0\nhttps://dmxkit.example.org\n\n\n");
    EXPECT_FALSE(capture.receive(100));
}

TEST(RampgenE2E, PacesFramesByDeadlinesAndSleepsAfterTheLast)
{
    // 41 frames of 256 universes at 10 ms: frame 40 starts 400 ms after frame
    // 0 however long the sends take; sleeping the interval after the sends
    // would stretch that by every frame's sending time.
    udp_capture capture;
    const auto start = std::chrono::steady_clock::now();
    process p(to(capture, {"-a", "-c", "41", "-i", "10"}));
    const auto arrivals = capture.receive_arrivals(41 * 256, 10000);
    ASSERT_EQ(p.wait(), 0);
    const auto elapsed
        = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    ASSERT_EQ(arrivals.size(), 41u * 256);
    EXPECT_GE(arrivals[40 * 256].ms - arrivals[0].ms, 398);
    EXPECT_LT(arrivals[40 * 256].ms - arrivals[0].ms, 440); // sleeping after the sends: about 475
    EXPECT_GE(elapsed.count(), 410) << "one interval after the last frame";
}

TEST(RampgenE2E, OptionErrors)
{
    const std::string usage_start = "Usage: rampgen [-t target_ip] [-p port] [-i interval_ms] [-c frame_count] [-v] "
                                    "(-a | -u universe ...)\n";
    const struct {
        std::vector<std::string> args;
        std::string message;
        bool usage;
    } cases[] = {
        {{}, "Specify at least one universe with -u or use -a for all universes.\n", true},
        {{"-a", "-u", "32768"}, "Error: Universe must be 0-32767 or net.subnet.universe (0-127.0-15.0-15)\n", false},
        {{"-u", "4294967297"}, "Error: Universe must be 0-32767 or net.subnet.universe (0-127.0-15.0-15)\n", false},
        {{"-a", "-p", "0"}, "Invalid port: 0\n", false},
        {{"-a", "-p", "4294973750"}, "Invalid port: 4294973750\n", false},
        {{"-a", "-i", "0"}, "Interval must be >= 1 ms\n", false},
        {{"-a", "-i", "abc"}, "Interval must be >= 1 ms\n", false},
        {{"-a", "-c", "-1"}, "Frame count must be >= 0\n", false},
        {{"-h"}, "", true},
        {{"-a", "-i"}, "", true},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"rampgen"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const run_result result = run(args);
        EXPECT_EQ(result.status, 1) << c.message;
        EXPECT_EQ(result.err.rfind(banner, 0), 0u);
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find(usage_start) != std::string::npos, c.usage) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

TEST(RampgenE2E, TooManyUniverses)
{
    std::vector<std::string> args = {"rampgen", "-c", "0", "-t", "127.0.0.1", "-p", "9"};
    for (int u = 0; u < 256; ++u)
        args.insert(args.end(), {"-u", std::to_string(u)});
    EXPECT_EQ(run(args).status, 0);
    args.insert(args.end(), {"-u", "3"});
    const run_result result = run(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, banner + "Too many universes specified (max 256)\n");
}

TEST(RampgenE2E, InvalidTargetIsReportedAfterTheReport)
{
    const run_result result = run({"rampgen", "-a", "-t", "10.0.0.300"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
        banner + "Sending Art-Net test data...\nhttps://dmxkit.example.org\nInvalid target IP: 10.0.0.300\n");
}

TEST(RampgenE2E, SignalEndsItAtOnceWithoutClosingOutput)
{
    udp_capture capture;
    process p(to(capture, {"-u", "1", "-v"}));
    ASSERT_TRUE(p.wait_for_err("Frame: 1 "));
    EXPECT_EQ(p.stop(SIGTERM), 128 + SIGTERM);
    EXPECT_EQ(p.err().back(), ' ') << "no closing newline";
}

TEST(RampgenE2E, UniverseStampMarksEachUniverseAndFrame)
{
    udp_capture capture;
    const run_result result
        = run(to(capture, {"-s", "-u", "3", "-u", "1.0.1", "-u", "200", "-c", "2", "-i", "1", "-v"}));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("Universe stamp: channel 512 = universe, channel 511 = frame\n"), std::string::npos);
    const auto datagrams = capture.receive_many(7, 1000);
    ASSERT_EQ(datagrams.size(), 6u);
    const std::uint16_t universes[] = {3, 257, 200, 3, 257, 200};
    for (std::size_t i = 0; i < 6; ++i) {
        const datagram_view view = read(datagrams[i]);
        EXPECT_EQ(view.data[511], universes[i] & 0xff) << i;
        EXPECT_EQ(view.data[510], i / 3) << i;
        // Above 255 the high byte; the ramp below is untouched otherwise.
        EXPECT_EQ(view.data[509], universes[i] > 255 ? 1 : (i / 3 + 509) % 256) << i;
    }
}

TEST(RampgenE2E, AnArtSyncFollowsEveryFrameAndUniversesAbove255AreNamed)
{
    udp_capture capture;
    ASSERT_EQ(run(to(capture, {"-u", "1", "-u", "127:15:15", "-c", "2", "-i", "20", "-S"})).status, 0);
    const auto datagrams = capture.receive_many(7, 300);
    ASSERT_EQ(datagrams.size(), 6u);
    const std::vector<std::uint8_t> sync = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x52, 0, 14, 0, 0};
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
        if (i % 3 == 2) {
            EXPECT_EQ(datagrams[i], sync) << i;
            continue;
        }
        const datagram_view view = read(datagrams[i]);
        EXPECT_EQ(view.universe, i % 3 == 0 ? 1 : 32767) << i;
        EXPECT_EQ(view.sequence, i - i / 3 + 1) << "an ArtSync takes no sequence number";
    }
    const run_result refused = run(to(capture, {"-u", "1.2.3.4"}));
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, banner + "Error: Universe must be 0-32767 or net.subnet.universe (0-127.0-15.0-15)\n");
    EXPECT_FALSE(capture.receive(100));
}
