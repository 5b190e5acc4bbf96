#include "harness.hpp"

#include "artdmx.hpp"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::literals;

namespace {

const std::string banner = "showrun 1.0.0 - plays Art-Net DMX recordings\n\n";
const std::string demo_messages = "This file contains 20 frames with 8 channels each.\n";

std::string demo_text()
{
    std::string text = "# Demo CSV file for showrun\n# Format: delay_ms,channel1,channel2,channel3,...\n"
                       "# Each row is a frame, first column is delay before that frame\n\n";
    for (int row = 0; row < 20; ++row) {
        text += "100";
        for (int channel = 0; channel < 8; ++channel)
            text += channel == row ? ",255" : ",0";
        text += "\n";
    }
    return text;
}

std::vector<std::string> play(int port, const std::string& file, std::vector<std::string> more = {})
{
    std::vector<std::string> args = {"showrun", "-t", "127.0.0.1", "-p", std::to_string(port), "-f", file};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

std::string report(const std::string& file, int port, int universe = 0)
{
    return banner + "Playing: " + file + "\nUniverse: " + std::to_string(universe)
        + " | Target: 127.0.0.1:" + std::to_string(port) + "\nPress Ctrl+C to stop\nhttps://dmxkit.example.org\n\n";
}

} // namespace

TEST(ShowrunE2E, DemoFileIsExactAndPlaysTwentyFramesHeld100MsEach)
{
    const temp_dir dir;
    dir.file("demo.csv", "# Demo CSV file for showrun\n" + std::string(2000, 'x')); // replaced, not patched
    const run_result written = run({"showrun", "-d"}, {}, 10000, dir.path);
    EXPECT_EQ(written.status, 0);
    EXPECT_EQ(written.err, banner + "Created demo file: demo.csv\n" + demo_messages);
    const std::string demo = read_file(dir.path + "/demo.csv");
    ASSERT_EQ(demo, demo_text());
    EXPECT_EQ(demo.size(), 558u);

    udp_capture capture;
    const std::string path = dir.path + "/demo.csv";
    const run_result played = run(play(capture.port(), path), {}, 15000);
    EXPECT_EQ(played.status, 0);
    std::string frames;
    for (int k = 1; k <= 20; ++k)
        frames += "Frame " + std::to_string(k) + ": 8 channels, delay 100 ms\r";
    EXPECT_EQ(played.err, report(path, capture.port()) + frames + "\nPlayback complete: 20 frames\n");
    const auto arrivals = capture.receive_arrivals(21, 1000);
    ASSERT_EQ(arrivals.size(), 20u);
    for (std::size_t k = 0; k < 20; ++k) {
        std::vector<std::uint8_t> levels(8);
        if (k < 8)
            levels[k] = 255;
        EXPECT_EQ(arrivals[k].bytes, artdmx_packet(0, levels, static_cast<std::uint8_t>(k + 1))) << k;
        if (k > 0) {
            EXPECT_NEAR(arrivals[k].ms - arrivals[k - 1].ms, 100, 60) << k;
        }
    }
    EXPECT_NEAR(arrivals[19].ms - arrivals[0].ms, 1900, 60);
}

TEST(ShowrunE2E, TheDemoReplacesNothingButAnEarlierDemo)
{
    const temp_dir dir;
    const std::pair<std::string, bool> cases[] = {{"0,1,2\n", true}, {"\n# Demo CSV file for showrun\n", true},
        {"# Demo CSV file for showrun\r\n", false}, {"", false}}; // what the file held, and whether it stays
    for (const auto& [before, refused] : cases) {
        const std::string path = dir.file("keep.csv", before);
        const run_result result = run({"showrun", "-d", "keep.csv"}, {}, 10000, dir.path);
        EXPECT_EQ(result.status, refused ? 1 : 0) << before;
        EXPECT_EQ(read_file(path), refused ? before : demo_text()) << before;
        if (refused) {
            EXPECT_EQ(result.err, banner + "Error: Not overwriting keep.csv: it is not a demo file\n");
        }
    }
}

TEST(ShowrunE2E, DemoOptionVariantsWriteWithoutPlaying)
{
    const temp_dir dir;
    udp_capture capture;
    const std::vector<std::string> to = {"showrun", "-t", "127.0.0.1", "-p", std::to_string(capture.port())};
    const struct {
        std::vector<std::string> args;
        const char* written; // nullptr: no file at all
        int status;
        std::string err;
    } cases[] = {
        {{"-d"}, "demo.csv", 0, "Created demo file: demo.csv\n" + demo_messages},
        {{"-d", "out.csv"}, "out.csv", 0, "Created demo file: out.csv\n" + demo_messages},
        {{"-f", "show.csv", "-d"}, "demo.csv", 0, "Created demo file: demo.csv\n" + demo_messages},
        {{"-d", "-u", "3"}, "demo.csv", 0, "Created demo file: demo.csv\n" + demo_messages},
        {{"-d", "no-such-folder/out.csv"}, nullptr, 1, "fopen: No such file or directory\n"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(dir.path + "/demo.csv");
        std::vector<std::string> args = to;
        args.insert(args.end(), c.args.begin(), c.args.end());
        const run_result result = run(args, {}, 10000, dir.path);
        const std::string label = testing::PrintToString(c.args);
        EXPECT_EQ(result.status, c.status) << label;
        EXPECT_EQ(result.err, banner + c.err) << label;
        if (c.written) {
            EXPECT_EQ(read_file(dir.path + "/" + c.written), demo_text()) << label;
        }
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1)
        << "out.csv only: the failed run made nothing";
    EXPECT_FALSE(capture.receive(100)) << "nothing is played";
}

TEST(ShowrunE2E, EachRowIsSentWithItsOwnChannelCountToTheChosenUniverse)
{
    const temp_dir dir;
    std::string wide = "0";
    std::vector<std::uint8_t> levels;
    for (int c = 0; c < 512; ++c) {
        wide += "," + std::to_string(c % 256);
        levels.push_back(static_cast<std::uint8_t>(c));
    }
    udp_capture capture;
    const std::string path = dir.file("rows.csv", "0,10,20,30\n" + wide + "\n");
    const run_result result = run(play(capture.port(), path, {"-u", "7"}));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err,
        report(path, capture.port(), 7)
            + "Frame 1: 3 channels, delay 0 ms\rFrame 2: 512 channels, delay 0 ms\r"
              "\nPlayback complete: 2 frames\n");
    const auto datagrams = capture.receive_many(2);
    ASSERT_EQ(datagrams.size(), 2u);
    EXPECT_EQ(datagrams[0], artdmx_packet(7, {10, 20, 30, 0}, 1)); // odd counts go out one channel longer
    EXPECT_EQ(datagrams[1], artdmx_packet(7, levels, 2));          // 530 bytes
}

TEST(ShowrunE2E, SkippedLinesAreSilentAndErrorsCarryTheNextFrameNumber)
{
    const temp_dir dir;
    udp_capture capture;
    // The delay-only row is not waited for: its 60 s would outlast the run.
    const std::string path = dir.file("mixed.csv",
        "# comment\n\n,,,\n0,1\n60000\n  # indented\n0,2\n0,3\n0,4\n"
        "0,5\n,\n0,6,7\n");
    const run_result result = run(play(capture.port(), path));
    EXPECT_EQ(result.status, 0);
    std::string frames;
    for (int k = 1; k <= 5; ++k)
        frames += "Frame " + std::to_string(k) + ": 1 channels, delay 0 ms\r";
    EXPECT_EQ(result.err,
        report(path, capture.port()) + "Error parsing line 1\n" + frames
            + "\nError parsing line 6\nFrame 6: 2 channels, delay 0 ms\r\nPlayback complete: 6 frames\n");
    const auto datagrams = capture.receive_many(7, 1000);
    ASSERT_EQ(datagrams.size(), 6u);
    for (std::uint8_t k = 0; k < 5; ++k)
        EXPECT_EQ(datagrams[k], artdmx_packet(0, {static_cast<std::uint8_t>(k + 1), 0}, k + 1));
    EXPECT_EQ(datagrams[5], artdmx_packet(0, {6, 7}, 6));
}

TEST(ShowrunE2E, SequenceRuns255Then0Then1AndOnlySentRowsCount)
{
    const temp_dir dir;
    std::string rows;
    for (int k = 0; k < 257; ++k)
        rows += (k % 50 == 0 ? "# note\n,,\n5\n" : "") + std::to_string(0) + "," + std::to_string(k % 256) + "\n";
    udp_capture capture;
    const run_result result = run(play(capture.port(), dir.file("wrap.csv", rows)));
    EXPECT_EQ(result.status, 0);
    const auto datagrams = capture.receive_many(257, 5000);
    ASSERT_EQ(datagrams.size(), 257u);
    EXPECT_EQ(datagrams[0][12], 1);
    EXPECT_EQ(datagrams[254][12], 255);
    EXPECT_EQ(datagrams[255][12], 0);
    EXPECT_EQ(datagrams[256][12], 1);
}

TEST(ShowrunE2E, DelayZeroSendsTheNextRowAtOnceAndAFrameIsHeldForItsOwnDelay)
{
    const temp_dir dir;
    udp_capture capture;
    const std::string path = dir.file("hold.csv", "0,1\n500,2\n0,3\n");
    ASSERT_EQ(run(play(capture.port(), path)).status, 0);
    const auto arrivals = capture.receive_arrivals(3, 2000);
    ASSERT_EQ(arrivals.size(), 3u);
    EXPECT_LT(arrivals[1].ms - arrivals[0].ms, 50);
    EXPECT_NEAR(arrivals[2].ms - arrivals[1].ms, 500, 60);
}

TEST(ShowrunE2E, TwoHundredRowsOf5MsTakeOneSecondWithoutDrift)
{
    const temp_dir dir;
    std::string rows;
    for (int k = 0; k < 200; ++k)
        rows += "5," + std::to_string(k % 256) + "\n";
    udp_capture capture;
    const run_result result = run(play(capture.port(), dir.file("fast.csv", rows)));
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.err.find("\nPlayback complete: 200 frames\n"), std::string::npos);
    const auto arrivals = capture.receive_arrivals(200, 2000);
    ASSERT_EQ(arrivals.size(), 200u);
    // From the first frame to the end of the last one's 5 ms: the sum of the
    // delays, whatever reading, sending and oversleeping cost per row.
    EXPECT_NEAR(arrivals[199].ms - arrivals[0].ms + 5, 1000, 50);
}

TEST(ShowrunE2E, AfterASuspensionPlaybackStartsAfreshInsteadOfBursting)
{
    const temp_dir dir;
    std::string rows;
    for (int k = 0; k < 60; ++k)
        rows += "50," + std::to_string(k) + "\n";
    udp_capture capture;
    process p(play(capture.port(), dir.file("suspend.csv", rows)));
    auto arrivals = capture.receive_arrivals(3, 5000);
    ASSERT_EQ(arrivals.size(), 3u);
    kill(p.pid(), SIGSTOP);
    usleep(1'500'000);
    kill(p.pid(), SIGCONT);
    EXPECT_EQ(p.wait(10000), 0);
    for (auto& a : capture.receive_arrivals(57, 2000))
        arrivals.push_back(std::move(a));
    ASSERT_EQ(arrivals.size(), 60u);
    // From the row sent on waking, the rest keep their 50 ms apart: the
    // rows missed while stopped do not go out in a burst.
    std::size_t wake = 1;
    for (std::size_t k = 2; k < arrivals.size(); ++k)
        if (arrivals[k].ms - arrivals[k - 1].ms > arrivals[wake].ms - arrivals[wake - 1].ms)
            wake = k;
    EXPECT_GT(arrivals[wake].ms - arrivals[wake - 1].ms, 1000);
    EXPECT_NEAR(arrivals[59].ms - arrivals[wake].ms, (59 - wake) * 50.0, 150);
}

TEST(ShowrunE2E, StartUpFailures)
{
    const temp_dir dir;
    const std::string missing = dir.path + "/missing.csv";
    const std::string port = std::to_string(free_udp_port());
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"-f", missing, "-t", "10.0.0.300"}, "Invalid target IP: 10.0.0.300\n"}, // before the missing file
        {{"-f", missing, "-t", "localhost"}, "Invalid target IP: localhost\n"},
        {{"-t", "127.0.0.1", "-p", port, "-f", missing}, "fopen: No such file or directory\n"},
        {{"-t", "127.0.0.1", "-p", port, "-f", missing, "-u", "32768"},
            "Error: Universe must be 0-32767 or net.subnet.universe (0-127.0-15.0-15)\n"},
        {{"-t", "127.0.0.1", "-p", port},
            "Error: -f <file.csv> is required (or use -d to create demo file)\n"
            "Usage: showrun -f <file.csv> [-u universe] [-p port] [-t target_ip]\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"showrun"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const run_result result = run(args);
        EXPECT_EQ(result.status, 1) << c.err;
        EXPECT_EQ(result.err.substr(0, banner.size() + c.err.size()), banner + c.err);
        EXPECT_EQ(result.out, "");
    }
}

TEST(ShowrunE2E, EmptyFileCompletesWithNoFramesAndAReadErrorIsReported)
{
    const temp_dir dir;
    udp_capture capture;
    const struct {
        std::string path;
        int status;
        std::string err;
    } cases[] = {
        {dir.file("empty.csv", ""), 0,
            report(dir.path + "/empty.csv", capture.port()) + "\nPlayback complete: 0 frames\n"},
        {dir.file("notes.csv", "# only notes\n\n"), 0,
            report(dir.path + "/notes.csv", capture.port()) + "\nPlayback complete: 0 frames\n"},
        {dir.path, 1, banner + "fopen: Is a directory\n"}, // refused before playing
    };
    for (const auto& c : cases) {
        const run_result result = run(play(capture.port(), c.path));
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.err, c.err);
    }
    EXPECT_FALSE(capture.receive(100));
}

TEST(ShowrunE2E, StopRequestEndsALongDelayAtOnce)
{
    const temp_dir dir;
    const std::string path = dir.file("long.csv", "60000,1\n0,2\n");
    for (const int signal_number : {SIGINT, SIGTERM}) {
        udp_capture capture;
        process p(play(capture.port(), path));
        ASSERT_TRUE(capture.receive(5000));
        ASSERT_TRUE(p.wait_for_err("delay 60000 ms\r"));
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(p.stop(signal_number, 5000), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
        EXPECT_EQ(p.err(),
            report(path, capture.port())
                + "Frame 1: 1 channels, delay 60000 ms\r\nStopped at line 1 (frame 1 of pass 1)\n");
        EXPECT_FALSE(capture.receive(100)) << "the second row is never sent";
    }
}

TEST(ShowrunE2E, LoopSpeedAndKeepAlive)
{
    const temp_dir dir;
    const std::string two = dir.file("two.csv", "0,1\n400,2\n400,3\n");
    udp_capture capture;

    // Three passes: nine packets, the sequence running on.
    const run_result looped = run(play(capture.port(), two, {"-l", "3", "-s", "10"}));
    EXPECT_EQ(looped.status, 0);
    const auto loops = capture.receive_many(10, 1000);
    ASSERT_EQ(loops.size(), 9u);
    for (std::uint8_t k = 0; k < 9; ++k)
        EXPECT_EQ(loops[k], artdmx_packet(0, {static_cast<std::uint8_t>(k % 3 + 1), 0}, k + 1));
    EXPECT_NE(looped.err.find("Frame 4: 1 channels, delay 0 ms | Pass 2/3\r"), std::string::npos);
    EXPECT_TRUE(looped.err.ends_with("\nPlayback complete: 9 frames (3 passes)\n")) << looped.err;

    // Twice the speed: the third row 400 ms after the first, not 800.
    EXPECT_EQ(run(play(capture.port(), two, {"-s", "2"})).status, 0);
    const auto fast = capture.receive_arrivals(3, 2000);
    ASSERT_EQ(fast.size(), 3u);
    EXPECT_GT(fast[2].ms - fast[0].ms, 150);
    EXPECT_LT(fast[2].ms - fast[0].ms, 350);

    // Until stopped: passes counted without an end.
    process endless(play(capture.port(), two, {"-l", "0", "-s", "10"}));
    ASSERT_TRUE(endless.wait_for_err(" | Pass 3\r"));
    EXPECT_EQ(endless.stop(SIGINT), 0);
    EXPECT_EQ(endless.err().find("Playback complete"), std::string::npos);
    capture.receive_many(1000, 300);

    // Keep-alive: the held frame again every 200 ms of a one-second delay,
    // each with the next sequence number.
    const std::string held = dir.file("held.csv", "1000,5\n0,6\n");
    EXPECT_EQ(run(play(capture.port(), held, {"-k", "200"})).status, 0);
    const auto kept = capture.receive_arrivals(7, 2500);
    ASSERT_EQ(kept.size(), 6u);
    for (std::uint8_t k = 0; k < 6; ++k)
        EXPECT_EQ(kept[k].bytes, artdmx_packet(0, {static_cast<std::uint8_t>(k < 5 ? 5 : 6), 0}, k + 1));
    EXPECT_GT(kept[1].ms - kept[0].ms, 150);
    EXPECT_GT(kept[5].ms - kept[0].ms, 900);
}

TEST(ShowrunE2E, NewOptionsAreCheckedBeforeAnythingIsSent)
{
    const temp_dir dir;
    const std::string file = dir.file("one.csv", "0,1\n");
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    udp_capture capture;
    const struct {
        std::vector<std::string> args;
        std::string message;
        bool usage;
    } cases[] = {
        {{"-s", "0.05"}, "Error: Speed must be between 0.1 and 10\n", true},
        {{"-s", "x"}, "Error: Speed must be between 0.1 and 10\n", true},
        {{"-s", "11"}, "Error: Speed must be between 0.1 and 10\n", true},
        {{"-k", "99"}, "Error: Keep-alive must be between 100 and 10000 ms\n", true},
        {{"-k", "10001"}, "Error: Keep-alive must be between 100 and 10000 ms\n", true},
        {{"-l", "-1"}, "Error: Loop count must be a whole number, 0 or more\n", true},
        {{"-l", "2", "-f", "/dev/stdin"}, "Error: Cannot loop a file that cannot be rewound\n", false},
        // Refused at once, not after a writer came and its data were played.
        {{"-l", "2", "-f", fifo}, "Error: Cannot loop a file that cannot be rewound\n", false},
    };
    for (const auto& c : cases) {
        const run_result result = run(play(capture.port(), file, c.args), "0,1\n");
        EXPECT_EQ(result.status, 1) << c.message;
        EXPECT_NE(result.err.find(banner + c.message), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("Usage: showrun") != std::string::npos, c.usage) << c.message;
    }
    EXPECT_FALSE(capture.receive(200)) << "nothing sent";
}

TEST(ShowrunE2E, AOneRowLoopIsSentAtADmxFrameRateAndStopsWhereItWas)
{
    const temp_dir dir;
    udp_capture capture;
    process p(play(capture.port(), dir.file("look.csv", "0,255,128,64\n"), {"-l", "0"}));
    const auto arrivals = capture.receive_arrivals(41, 5000);
    EXPECT_EQ(p.stop(SIGINT), 0);
    ASSERT_EQ(arrivals.size(), 41u);
    EXPECT_NEAR(arrivals[40].ms - arrivals[0].ms, 1000, 250) << "one pass every 25 ms: 40 a second";
    EXPECT_NE(p.err().find("\nStopped at line 1 (frame "), std::string::npos) << p.err().substr(p.err().size() - 80);
}

TEST(ShowrunE2E, LongRowsAndLinesEndingInALoneCrPlayAsWholeRows)
{
    const temp_dir dir;
    udp_capture capture;
    const struct {
        std::string text;
        std::vector<std::vector<std::uint8_t>> frames;
    } cases[] = {
        {"0," + std::string(4990, '0') + "7,8\n0,9\n", {{7, 8}, {9, 0}}},
        {"# saved on an old Mac\r\r0,1,2\r0,3,4\r", {{1, 2}, {3, 4}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(play(capture.port(), dir.file("rows.csv", c.text))).status, 0);
        const auto datagrams = capture.receive_many(c.frames.size() + 1, 300);
        ASSERT_EQ(datagrams.size(), c.frames.size()) << c.text.substr(0, 30);
        for (std::size_t k = 0; k < c.frames.size(); ++k)
            EXPECT_EQ(datagrams[k], artdmx_packet(0, c.frames[k], static_cast<std::uint8_t>(k + 1)));
    }
}

#if defined(__linux__)
TEST(ShowrunE2E, AFailedSendEndsPlaybackWithStatusOne)
{
    const temp_dir dir;
    const std::string path = dir.file("two.csv", "0,1\n0,2\n");
    process p(play(free_udp_port(), path), input_mode::null_device, {"LD_PRELOAD=" FAULTS_LIBRARY});
    EXPECT_EQ(p.wait(), 1);
    EXPECT_TRUE(p.err().ends_with("https://dmxkit.example.org\n\nsendto: Network is unreachable\n\n")) << p.err();
}
#endif

TEST(ShowrunE2E, ShowFilesAndRecordingsWaitEachDelayBeforeTheirRow)
{
    const temp_dir dir;
    const std::string show = dir.file("show.csv",
        "# Format: delay_ms,universe,channel1,channel2,channel3,...\n\n"
        "0,1,10,11\n0,300,20,21\n300,1,12,13\n200,x,1\n0,300,22,23\n");
    const std::string sync = "Art-Net\0\0\x52\0\x0e\0\0"s;
    const auto dmx = [](std::uint16_t universe, std::uint8_t a, std::uint8_t sequence) {
        const auto packet = artdmx_packet(universe, {a, static_cast<std::uint8_t>(a + 1)}, sequence);
        return std::string(packet.begin(), packet.end());
    };
    const struct {
        std::string path;
        std::vector<std::string> options;
        std::string universe; // as the start-up report names it
        std::vector<std::string> datagrams;
        std::vector<double> at_ms;
    } cases[] = {
        // A moment's rows, then its ArtSync; a bad row's delay still passes.
        {show, {"-S"}, "from the file",
            {dmx(1, 10, 1), dmx(300, 20, 2), sync, dmx(1, 12, 3), sync, dmx(300, 22, 4), sync},
            {0, 0, 0, 300, 300, 500, 500}},
        // The universes of one frame 1-8 ms apart are one moment, until a
        // universe repeats.
        {dir.file("moments.csv",
             "# Format: delay_ms,universe,channel1,channel2,channel3,...\n"
             "0,1,10,11\n3,2,20,21\n8,3,30,31\n1,4,40,41\n100,1,12,13\n2,2,22,23\n5,1,14,15\n"),
            {"-S"}, "from the file",
            {dmx(1, 10, 1), dmx(2, 20, 2), dmx(3, 30, 3), dmx(4, 40, 4), sync, dmx(1, 12, 5), dmx(2, 22, 6), sync,
                dmx(1, 14, 7), sync},
            {0, 3, 11, 12, 12, 112, 114, 114, 119, 119}},
        // One universe keeps its place in the show.
        {show, {"-u", "1.2.12"}, "300", {dmx(300, 20, 1), dmx(300, 22, 2)}, {0, 500}},
        // framelog's own recording: each delay came before its row.
        {dir.file("recording.csv", "# Art-Net recording created by framelog\n\n0,1,2\n300,3,4\n"), {"-u", "7"}, "7",
            {dmx(7, 1, 1), dmx(7, 3, 2)}, {0, 300}},
        {dir.file("sacn.csv", "# sACN recording created by framelog\n\n0,1,2\n300,3,4\n"), {"-u", "7"}, "7",
            {dmx(7, 1, 1), dmx(7, 3, 2)}, {0, 300}},
        // Saved on Windows: a byte order mark, CR LF, blank lines; and a row
        // without its universe.
        {dir.file("windows.csv",
             "\xef\xbb\xbf# Format: delay_ms,universe,channel1,channel2,channel3,...\r\n\r\n"
             "0,1,10,11\r\n \r\n0,,18,1\r\n0,300,20,21\r\n"),
            {}, "from the file", {dmx(1, 10, 1), dmx(300, 20, 2)}, {0, 0}},
    };
    for (const auto& c : cases) {
        udp_capture capture;
        const run_result result = run(play(capture.port(), c.path, c.options));
        EXPECT_EQ(result.status, 0);
        EXPECT_NE(result.err.find("\nUniverse: " + c.universe + " | Target: "), std::string::npos) << result.err;
        const auto arrivals = capture.receive_arrivals(c.datagrams.size() + 1, 300);
        ASSERT_EQ(arrivals.size(), c.datagrams.size()) << c.path;
        for (std::size_t k = 0; k < arrivals.size(); ++k) {
            EXPECT_EQ(std::string(arrivals[k].bytes.begin(), arrivals[k].bytes.end()), c.datagrams[k]) << k;
            EXPECT_NEAR(arrivals[k].ms - arrivals[0].ms, c.at_ms[k], 60) << k;
        }
    }
}

TEST(ShowrunE2E, ARowReadLateFromAPipeGoesOutAtItsPlaceNotAWholeDelayLater)
{
    udp_capture capture;
    process p(play(capture.port(), "/dev/stdin"));
    p.write_input("# Format: delay_ms,universe,channel1,channel2,channel3,...\n0,1,1\n");
    usleep(2'000'000); // the writer's pause
    p.write_input("2000,2,2\n");
    p.close_input();
    EXPECT_EQ(p.wait(), 0);
    const auto arrivals = capture.receive_arrivals(2, 1000);
    ASSERT_EQ(arrivals.size(), 2u);
    EXPECT_NEAR(arrivals[1].ms - arrivals[0].ms, 2000, 300);
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SANITIZED_BUILD 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(SANITIZED_BUILD)
#define SANITIZED_BUILD 1
#endif

TEST(ShowrunE2E, TheKeepAliveOfManyUniversesLeavesTheRowsOnTime)
{
    // Every Port-Address; a sanitized build sends several times slower, and
    // a quarter of them keep its first rows within the timeline's second of
    // lag, as the whole rig does in a plain build.
#if defined(SANITIZED_BUILD)
    constexpr int universes = 8192;
#else
    constexpr int universes = 32768;
#endif
    const temp_dir dir;
    std::string rows = "# Format: delay_ms,universe,channel1,channel2,channel3,...\n";
    for (int universe = 0; universe < universes; ++universe)
        rows += "0," + std::to_string(universe) + ",1\n";
    rows += "1000,7,2\n";
    const std::string rig = dir.file("rig.csv", rows);
    udp_capture capture;
    // The shorter of two runs: a loaded machine may hold up either.
    const auto playing_time = [&](const std::vector<std::string>& options) {
        auto shortest = std::chrono::steady_clock::duration::max();
        for (int run_number = 0; run_number < 2; ++run_number) {
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(run(play(capture.port(), rig, options), {}, 20000).status, 0);
            shortest = std::min(shortest, std::chrono::steady_clock::now() - start);
        }
        return shortest;
    };
    // The last row is due 1 s after the rows before it; the re-sends must not
    // put it off. Beside the same show played without them, on the same
    // machine.
    const auto without = playing_time({});
    EXPECT_LT(playing_time({"-k", "100"}), without + std::chrono::milliseconds(300));
}
