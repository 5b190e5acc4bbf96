#include "descriptors.hpp"
#include "e131.hpp"
#include "harness.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const std::string banner = "framelog 1.0.0 - records Art-Net DMX to CSV\n\n";
const std::string header_start = "# Art-Net recording created by framelog\n"
                                 "# Format: delay_ms,channel1,channel2,channel3,...\n"
                                 "# Each row is a frame, first column is delay before that frame\n"
                                 "# Only records frames when DMX values change (change detection enabled)\n";
const std::string header_all = header_start + "# Recording all universes\n\n";
const std::string show_header_start = "# Art-Net recording created by framelog\n"
                                      "# Format: delay_ms,universe,channel1,channel2,channel3,...\n"
                                      "# Each row is a frame of one universe, first column is delay before that frame\n"
                                      "# Only records frames when DMX values change (change detection per universe)\n";
const std::string report_end = "Press Ctrl+C to stop\nhttps://dmxkit.example.org\n\n";

// A row as expected: its delay within [low, high], then the text after the delay.
struct row {
    int low, high;
    std::string levels;
};

void expect_rows(const std::string& text, const std::string& header, const std::vector<row>& expected)
{
    ASSERT_EQ(text.substr(0, header.size()), header);
    ASSERT_EQ(text.back(), '\n') << "every row is complete";
    std::istringstream in(text.substr(header.size()));
    std::size_t i = 0;
    for (std::string line; std::getline(in, line); ++i) {
        ASSERT_LT(i, expected.size()) << line;
        const std::size_t comma = line.find(',');
        const int delay = std::stoi(line.substr(0, comma));
        EXPECT_GE(delay, expected[i].low) << line;
        EXPECT_LE(delay, expected[i].high) << line;
        EXPECT_EQ(comma == std::string::npos ? "" : line.substr(comma), expected[i].levels);
    }
    EXPECT_EQ(i, expected.size());
}

// A framelog recording into a fresh folder on a free port.
struct recording {
    temp_dir dir;
    std::string path = dir.file("show.csv");
    int port = free_udp_port();
    std::optional<process> p;
    unsigned long long counted = 0;

    explicit recording(const std::vector<std::string>& options = {}, bool start = true)
    {
        if (start)
            launch(options);
    }

    void launch(const std::vector<std::string>& options)
    {
        std::vector<std::string> args = {"framelog", "-f", path, "-p", std::to_string(port)};
        args.insert(args.end(), options.begin(), options.end());
        p.emplace(args, input_mode::null_device);
        EXPECT_TRUE(p->wait_for_err(report_end)) << p->err();
    }
    // Sends one packet; one the recorder counts is waited for.
    void send(std::uint16_t universe, const std::vector<std::uint8_t>& levels, bool counts = true)
    {
        send(artdmx_packet(universe, levels), counts);
    }
    void send(const std::vector<std::uint8_t>& datagram, bool counts, const char* address = "127.0.0.1")
    {
        send_udp(port, datagram, address);
        if (counts) {
            EXPECT_TRUE(p->wait_for_err("Packets: " + std::to_string(++counted) + " (")) << p->err();
        }
    }
    std::string file() const { return read_file(path); }
};

// An sACN data packet from the source named by a letter, its CID 16 of it.
std::vector<std::uint8_t> e131_packet(char source, std::uint16_t universe, std::uint8_t priority, std::uint8_t sequence,
    std::uint8_t options, const std::vector<std::uint8_t>& levels, std::uint8_t start_code = 0)
{
    e131_identity identity{{}, {source}};
    identity.cid.fill(static_cast<std::uint8_t>(source));
    std::vector<std::uint8_t> packet(e131_data_max_size);
    packet.resize(build_e131_data(
        std::span(packet).first<e131_data_max_size>(), identity, {universe, priority, 0, sequence, options}, levels));
    packet[125] = start_code;
    return packet;
}

} // namespace

TEST(FramelogE2E, RecordsChangesOnlyWithTheirDelaysAndReports)
{
    recording r;
    r.send(1, {1, 2, 3});
    r.send(1, {1, 2, 3});
    r.send(2, {1, 2, 4});
    r.send(1, {1, 2, 4, 0}); // the same levels and one more channel
    r.send(1, {});
    EXPECT_EQ(r.p->stop(SIGINT), 0);
    expect_rows(r.file(), header_all, {{0, 0, ",1,2,3"}, {0, 2000, ",1,2,4"}, {0, 2000, ",1,2,4,0"}, {0, 2000, ""}});
    EXPECT_EQ(collapse_status_lines(r.p->err()),
        banner + "Recording to: " + r.path + "\nListening on port " + std::to_string(r.port) + " (all universes)\n"
            + report_end
            + "Frames recorded: 4 | Packets: 5 (Universe 1, 0 channels)   \nRecording stopped.\n"
              "Frames recorded: 4 (only changes)\nPackets received: 5\n"
              "Efficiency: 20.0% reduction (recorded 4 of 5 packets)\n"
              "Source 127.0.0.1:"
            + std::to_string(sending_port()) + " (Art-Net): universes 1, 2; 5 packets; 3 sequence gaps\n");
}

TEST(FramelogE2E, HundredIdenticalPacketsMakeOneRow)
{
    recording r;
    for (int i = 0; i < 100; ++i)
        send_udp(r.port, artdmx_packet(0, {5, 5, 5}));
    EXPECT_TRUE(r.p->wait_for_err("Packets: 100 ("));
    EXPECT_EQ(r.p->stop(SIGTERM), 0);
    EXPECT_EQ(r.file(), header_all + "0,5,5,5\n");
    EXPECT_NE(r.p->err().find("Efficiency: 99.0% reduction (recorded 1 of 100 packets)\n"), std::string::npos);
}

TEST(FramelogE2E, MinimumDelayRaisesShortGapsMeasuredFromRealArrival)
{
    recording r({"-m", "40"});
    EXPECT_NE(r.p->err().find("(all universes)\nMinimum delay: 40 ms\nPress"), std::string::npos);
    r.send(0, {1});
    ::usleep(5000);
    r.send(0, {2});
    ::usleep(50000);
    r.send(0, {3});
    EXPECT_EQ(r.p->stop(SIGINT), 0);
    // Measured from the minimum-raised time, the last gap would be about 15.
    expect_rows(r.file(), header_all, {{0, 0, ",1"}, {40, 1000, ",2"}, {50, 1000, ",3"}});
}

TEST(FramelogE2E, LastOfUAndAWinsAndTheFilterUsesAll16Bits)
{
    const struct {
        std::vector<std::string> options;
        std::string header, report;
        std::vector<row> rows;
    } cases[] = {
        {{"-a", "-u", "0"}, header_start + "# Recording universe 0\n\n", " (universe 0 only)\n", {{0, 0, ",3"}}},
        {{"-u", "0", "-a"}, header_all, " (all universes)\n", {{0, 0, ",1"}, {0, 2000, ",2"}, {0, 2000, ",3"}}},
    };
    for (const auto& c : cases) {
        recording r(c.options);
        const bool all = c.rows.size() == 3;
        r.send(256, {1}, all);
        r.send(1, {2}, all);
        r.send(0, {3});
        EXPECT_EQ(r.p->stop(SIGTERM), 0);
        expect_rows(r.file(), c.header, c.rows);
        EXPECT_NE(r.p->err().find(std::to_string(r.port) + c.report), std::string::npos);
        EXPECT_NE(r.p->err().find("Packets received: " + std::to_string(c.rows.size()) + "\n"), std::string::npos);
    }
}

TEST(FramelogE2E, StoppingBeforeAnyPacketLeavesTheHeaderOnly)
{
    recording r({"-m", "65536", "-u", "7"});
    EXPECT_EQ(r.p->stop(SIGTERM), 0);
    EXPECT_EQ(r.file(), header_start + "# Recording universe 7\n\n");
    EXPECT_EQ(r.p->err(),
        banner + "Recording to: " + r.path + "\nListening on port " + std::to_string(r.port) + " (universe 7 only)\n"
            + report_end + "\nRecording stopped.\nFrames recorded: 0 (only changes)\nPackets received: 0\n");
}

TEST(FramelogE2E, FailedBindLeavesAnExistingFileUntouched)
{
    recording r({}, false);
    const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(r.port));
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::ofstream(r.path) << "0,1,2\n";
    const run_result result = run({"framelog", "-f", r.path, "-p", std::to_string(r.port)});
    ::close(holder);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
        banner + "Failed to bind to port " + std::to_string(r.port)
            + ": Address already in use\nAnother process may be using this port. Try:\n"
              "  - Using a different port with -p option\n  - Stopping the other process using port "
            + std::to_string(r.port) + "\n");
    EXPECT_EQ(r.file(), "0,1,2\n");
}

TEST(FramelogE2E, EveryRowIsInTheFileAsSoonAsRecordedAndSurvivesSigkill)
{
    recording r;
    EXPECT_EQ(r.file(), header_all);
    std::vector<row> rows;
    for (std::uint8_t level = 1; level <= 3; ++level) {
        r.send(0, {level, 0});
        rows.push_back({0, rows.empty() ? 0 : 2000, "," + std::to_string(level) + ",0"});
        expect_rows(r.file(), header_all, rows);
    }
    EXPECT_EQ(r.p->stop(SIGKILL), 128 + SIGKILL);
    expect_rows(r.file(), header_all, rows);
}

TEST(FramelogE2E, FullDiskEndsTheRecordingWithTheErrorTheReportAndStatus1)
{
    recording r({}, false);
    const run_result full = run({"framelog", "-f", "/dev/full", "-p", std::to_string(r.port)});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, banner + "fflush: No space left on device\n");

    // Room for the header and one short row: the long second row fails part way.
    rlimit old_limit{};
    ::getrlimit(RLIMIT_FSIZE, &old_limit);
    rlimit limit = old_limit;
    limit.rlim_cur = header_all.size() + 100;
    // The default action (the process killed, a row cut mid-way) unless the
    // program sees to it itself.
    const auto old_handler = std::signal(SIGXFSZ, SIG_DFL);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    r.launch({});
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);
    r.send(0, {1, 1});
    r.send(0, std::vector<std::uint8_t>(512, 255), false);
    EXPECT_EQ(r.p->wait(5000), 1);
    EXPECT_EQ(r.file(), header_all + "0,1,1\n") << "the partial row is cut off";
    EXPECT_NE(r.p->err().find("   \nfflush: File too large\n\nRecording stopped.\nFrames recorded: 1 (only changes)\n"
                              "Packets received: 2\nEfficiency: 50.0% reduction (recorded 1 of 2 packets)\n"),
        std::string::npos)
        << r.p->err();
}

TEST(FramelogE2E, RecordsRampgenFramesAsRows)
{
    recording r({"-u", "1"});
    const std::string port = std::to_string(r.port);
    EXPECT_EQ(run({"rampgen", "-t", "127.0.0.1", "-p", port, "-u", "1", "-c", "3", "-i", "30"}).status, 0);
    EXPECT_TRUE(r.p->wait_for_err("Packets: 3 ("));
    EXPECT_EQ(r.p->stop(SIGINT), 0);
    std::vector<row> rows;
    for (int frame = 0; frame < 3; ++frame) {
        std::string levels;
        for (int c = 0; c < 512; ++c)
            levels += "," + std::to_string((frame + c) % 256);
        rows.push_back({0, frame == 0 ? 0 : 2000, levels});
    }
    expect_rows(r.file(), header_start + "# Recording universe 1\n\n", rows);
}

TEST(FramelogE2E, BannerComesFirstThenOptionsAreChecked)
{
    const struct {
        std::vector<std::string> args;
        int status;
        std::string message;
    } cases[] = {
        {{"-u", "1"}, 1, "Error: -f <file.csv> is required\nUsage: framelog -f <file.csv> "},
        {{"-f", "x.csv", "-u", "-1"}, 1, "Error: Universe must be 0-32767 or net.subnet.universe (0-127.0-15.0-15)\n"},
        {{"-f", "x.csv", "-p", "65536"}, 1, "Invalid port: 65536\n"},
        {{"-f", "x.csv", "-z"}, 1, "Usage: framelog -f"},
        {{"-f"}, 1, "Usage: framelog -f"},
        {{"-h"}, 0,
            "Usage: framelog -f <file.csv> [-u universe] [-p port] [-m min_delay_ms]\n"
            "       framelog -f <file.csv> [-u universe] [-p port] [-m min_delay_ms] [-a]\n\n"
            "Record Art-Net sequences to CSV files.\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"framelog"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const run_result result = run(args);
        EXPECT_EQ(result.status, c.status) << c.message;
        EXPECT_EQ(result.err.rfind(banner, 0), 0u) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

TEST(FramelogE2E, RecordsToStandardOutputAsToAFile)
{
    // Two recorders on one port, one to a file and one to standard output,
    // see the same broadcast traffic.
    recording file_recording({"-u", "0"});
    process piped(
        {"framelog", "-f", "-", "-p", std::to_string(file_recording.port), "-u", "0"}, input_mode::null_device);
    ASSERT_TRUE(piped.wait_for_err(report_end));
    EXPECT_NE(piped.err().find("Recording to: -\n"), std::string::npos);
    for (const std::uint8_t level : {1, 1, 2, 3}) {
        send_udp(file_recording.port, artdmx_packet(0, {level, 9}), "127.255.255.255");
        usleep(20'000);
    }
    ASSERT_TRUE(piped.wait_for_err("Packets: 4 ("));
    ASSERT_TRUE(file_recording.p->wait_for_err("Packets: 4 ("));
    EXPECT_EQ(piped.stop(SIGINT), 0);
    EXPECT_EQ(file_recording.p->stop(SIGINT), 0);
    // The delays are each recorder's own measure: the levels must match.
    const auto levels = [](const std::string& text) {
        std::string kept;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            kept += line.substr(line.empty() || line[0] == '#' ? 0 : line.find(',')) + "\n";
        return kept;
    };
    EXPECT_EQ(levels(piped.out()), levels(file_recording.file()));
    EXPECT_EQ(levels(piped.out()), levels(header_start + "# Recording universe 0\n\n0,1,9\n0,2,9\n0,3,9\n"));

    // A reader that goes away ends the recording with its report and status 1.
    process gone({"framelog", "-f", "-", "-p", std::to_string(file_recording.port)}, input_mode::null_device);
    ASSERT_TRUE(gone.wait_for_err(report_end));
    gone.close_output();
    send_udp(file_recording.port, artdmx_packet(0, {4}));
    EXPECT_EQ(gone.wait(3000), 1);
    EXPECT_NE(gone.err().find("\nRecording stopped.\n"), std::string::npos) << gone.err();

    // Also with no traffic at all: the hang-up alone ends it, at once.
    process idle({"framelog", "-f", "-", "-p", std::to_string(free_udp_port())}, input_mode::null_device);
    ASSERT_TRUE(idle.wait_for_err(report_end));
    const auto closed = std::chrono::steady_clock::now();
    idle.close_output();
    EXPECT_EQ(idle.wait(3000), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - closed, std::chrono::milliseconds(500));
    EXPECT_NE(idle.err().find("\nRecording stopped.\n"), std::string::npos) << idle.err();
}

TEST(FramelogE2E, ShowFilesKeepEachUniverseApartOnOneTimeline)
{
    // Universes 1 and 16 (0.1.0) listed; 2 is not recorded.
    recording r({"-U", "-u", "1", "-u", "0.1.0"});
    const struct {
        std::uint16_t universe;
        std::vector<std::uint8_t> levels;
        bool counts;
    } packets[] = {
        {1, {1, 2}, true},
        {16, {1, 2}, true}, // the same levels, but the first of its universe
        {1, {1, 2}, true},  // unchanged for its own universe: no row
        {2, {9}, false},
        {16, {1, 2, 0}, true}, // a new length
        {1, {}, true},
    };
    for (const auto& p : packets) {
        r.send(p.universe, p.levels, p.counts);
        usleep(20'000);
    }
    EXPECT_EQ(r.p->stop(SIGINT), 0);
    expect_rows(r.file(), show_header_start + "# Recording universes 1, 16\n\n",
        {{0, 0, ",1,1,2"}, {10, 60, ",16,1,2"}, {30, 100, ",16,1,2,0"}, {10, 60, ",1"}});
    EXPECT_NE(r.p->err().find(std::to_string(r.port) + " (universes 1, 16)\nPress"), std::string::npos) << r.p->err();
    EXPECT_NE(r.p->err().find("Frames recorded: 4 (only changes)\nPackets received: 5\nUniverses recorded: 2\n"),
        std::string::npos)
        << r.p->err();

    const run_result refused = run({"framelog", "-U", "-m", "5", "-f", r.path});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err.find(banner + "Error: -m cannot be combined with -U\nUsage: framelog "), 0u) << refused.err;
}

TEST(FramelogE2E, ShowFilesSkipAndCountWhatIsNoPortAddress)
{
    recording r({"-U", "-a"});
    r.send(0x8000, {1}, false);
    r.send(256, {2});
    r.send(0xffff, {3}, false);
    r.send(32767, {4});
    EXPECT_EQ(r.p->stop(SIGINT), 0);
    expect_rows(
        r.file(), show_header_start + "# Recording all universes\n\n", {{0, 0, ",256,2"}, {0, 2000, ",32767,4"}});
    EXPECT_NE(r.p->err().find("Packets received: 2\nPackets skipped: 2 (universe above 32767, not a Port-Address)\n"),
        std::string::npos)
        << r.p->err();
}

TEST(FramelogE2E, SacnSourcesAreRecordedAsTheirMerge)
{
    recording r({"-E", "-I", "127.0.0.1", "-U", "-u", "1", "-u", "63999"});
    const std::uint8_t ends = e131_stream_terminated;
    const struct {
        char source;
        std::uint16_t universe;
        std::uint8_t priority, sequence, options;
        std::vector<std::uint8_t> levels;
        bool counts;
        std::uint8_t start_code;
    } packets[] = {
        {'A', 1, 100, 1, 0, {10, 20, 30}, true, 0},
        {'B', 1, 100, 7, 0, {30, 5}, true, 0}, // each channel's highest level
        {'A', 1, 100, 1, 0, {0}, false, 0},    // a sequence number again
        {'A', 1, 100, 2, 0, {0, 0, 0, 0}, true, 0},
        {'A', 1, 100, 3, 0, {9}, false, 0xdd},
        {'C', 63999, 100, 1, 0, {5}, true, 0},
        {'C', 1, 150, 9, 0, {1}, true, 0},  // the highest priority alone
        {'B', 1, 100, 8, 0, {99}, true, 0}, // outranked: no row
        {'C', 1, 150, 10, e131_preview_data, {7}, false, 0},
        {'C', 1, 150, 11, ends, {}, true, 0},
        {'B', 1, 100, 9, ends, {}, true, 0},
    };
    for (const auto& p : packets)
        r.send(e131_packet(p.source, p.universe, p.priority, p.sequence, p.options, p.levels, p.start_code), p.counts);
    // A and then C fall silent: no packet is needed to tell.
    EXPECT_TRUE(r.p->wait_for_err("Frames recorded: 9 |", 8000)) << r.p->err();
    EXPECT_EQ(r.p->stop(SIGINT), 0);
    expect_rows(r.file(),
        "# sACN recording created by framelog\n" + show_header_start.substr(show_header_start.find('\n') + 1)
            + "# Recording universes 1, 63999\n\n",
        {{0, 0, ",1,10,20,30"}, {0, 2000, ",1,30,20,30"}, {0, 2000, ",1,30,5,0,0"}, {0, 2000, ",63999,5"},
            {0, 2000, ",1,1"}, {0, 2000, ",1,99,0,0,0"}, {0, 2000, ",1,0,0,0,0"}, {0, 3000, ",1"},
            {0, 2000, ",63999"}});
    EXPECT_NE(r.p->err().find("Packets received: 8\nUniverses recorded: 2\nsACN sources seen: 3\n"), std::string::npos)
        << r.p->err();
    EXPECT_NE(r.p->err().find("\nSource \"A\" 127.0.0.1 (sACN, priority 100): universe 1; 2 packets; 1 sequence gap\n"
                              "Source \"B\" 127.0.0.1 (sACN, priority 100): universe 1; 3 packets; 0 sequence gaps\n"
                              "Source \"C\" 127.0.0.1 (sACN, priority 150): universes 1, 63999; 3 packets; 0 sequence "
                              "gaps\n"),
        std::string::npos);
}

// Two senders, one counting through 0 over two universes, then sixteen
// more from ports of their own: the first 16 seen are named.
TEST(FramelogE2E, TheReportNamesEachSourceUpTo16)
{
    std::optional<udp_capture> a, b;
    try {
        a.emplace("127.0.0.2");
        b.emplace("127.0.0.3");
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "127.0.0.2 and 127.0.0.3 cannot be bound here";
    }
    recording r({"-U"});
    const struct {
        const udp_capture* from;
        std::uint16_t universe;
        std::uint8_t sequence;
    } packets[] = {{&*a, 1, 254}, {&*a, 2, 255}, {&*b, 1, 5}, {&*a, 1, 0}, {&*a, 2, 1}, {&*b, 1, 7}};
    for (const auto& p : packets) {
        p.from->send_to(r.port, artdmx_packet(p.universe, {p.sequence}, p.sequence));
        ASSERT_TRUE(r.p->wait_for_err("Packets: " + std::to_string(++r.counted) + " ("));
    }
    for (int i = 0; i < 16; ++i) {
        udp_capture().send_to(r.port, artdmx_packet(3, {1}));
        ASSERT_TRUE(r.p->wait_for_err("Packets: " + std::to_string(++r.counted) + " ("));
    }
    EXPECT_EQ(r.p->stop(SIGINT), 0);
    const std::string& err = r.p->err();
    const std::string end = "Source 127.0.0.2:" + std::to_string(a->port())
        + " (Art-Net): universes 1, 2; 4 packets; 0 sequence gaps\nSource 127.0.0.3:" + std::to_string(b->port())
        + " (Art-Net): universe 1; 2 packets; 1 sequence gap\nand 2 more\n";
    EXPECT_EQ(err.substr(err.size() - std::min(err.size(), end.size())), end) << err;
    std::size_t others = 0;
    for (std::size_t at = err.find("\nSource 127.0.0.1:"); at != std::string::npos; at = err.find("\nSource 1", at + 1))
        ++others;
    EXPECT_EQ(others, 16u) << "the first 16 seen, sorted by address";
}

// More universes than one socket may join on Linux, listed or announced.
TEST(FramelogE2E, SacnMulticastOfMoreUniversesThanOneSocketMayJoin)
{
    test_namespace space;
    if (!space.enter())
        GTEST_SKIP() << "no network namespace can be made here";
    std::vector<std::uint16_t> announced;
    std::vector<std::string> listed = {"-E", "-U"};
    for (std::uint16_t u = 1; u <= 25; ++u)
        announced.push_back(u), listed.insert(listed.end(), {"-u", std::to_string(u)});
    std::array<std::uint8_t, e131_discovery_max_size> page{};
    const std::vector<std::uint8_t> discovery(
        page.begin(), page.begin() + build_e131_discovery(page, {}, 0, 0, announced));
    const auto group = [](std::uint16_t u) { return "239.255.0." + std::to_string(u); };
    for (const auto& options : {listed, std::vector<std::string>{"-E", "-U", "-a"}}) {
        recording r(options);
        // Once the last universe is heard, every one before it has been joined.
        for (int tries = 0; tries < 20 && r.counted == 0; ++tries) {
            send_udp(r.port, discovery, "239.255.250.214");
            send_udp(r.port, e131_packet('A', 25, 100, static_cast<std::uint8_t>(tries), 0, {25}), group(25).c_str());
            if (r.p->wait_for_err("Packets: 1 (", 250))
                r.counted = 1;
        }
        for (std::uint16_t u = 1; u < 25; ++u)
            r.send(e131_packet('A', u, 100, 0, 0, {static_cast<std::uint8_t>(u)}), true, group(u).c_str());
        EXPECT_EQ(r.p->stop(SIGINT), 0);
        EXPECT_NE(r.p->err().find("Frames recorded: 25 (only changes)\n"), std::string::npos) << r.p->err();
    }
}
