// A recording made by framelog while showrun plays a file carries the same
// frames in the same order, with the source's timing.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Rows of the recording (comment and empty lines dropped), split into the
// delay and the rest of the row.
std::vector<std::pair<int, std::string>> rows_of(const std::string& text)
{
    std::vector<std::pair<int, std::string>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t comma = line.find(',');
        rows.emplace_back(std::stoi(line.substr(0, comma)), comma == std::string::npos ? "" : line.substr(comma));
    }
    return rows;
}

} // namespace

TEST(RoundTripE2E, FramelogRecordsWhatShowrunPlays)
{
    const temp_dir dir;
    std::string wide = "80";
    for (int channel = 0; channel < 512; ++channel)
        wide += "," + std::to_string((channel * 7) % 256);
    const std::string source = "# varied rows\n\n"
                               "120,255,0,128\n"
                               "40,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24\n"
                               "0,0\n"
        + wide
        + "\n"
          "200,0,0,0,0,0,0,0,0\n"
          "60,0,0,0,0,0,0,0,255\n";
    const std::string played = dir.file("source.csv", source);
    const std::string recorded = dir.file("recording.csv");

    const int port = free_udp_port();
    process recorder({"framelog", "-f", recorded, "-u", "3", "-p", std::to_string(port)}, input_mode::null_device);
    ASSERT_TRUE(recorder.wait_for_err("Press Ctrl+C to stop\n"));
    const run_result player = run({"showrun", "-f", played, "-u", "3", "-t", "127.0.0.1", "-p", std::to_string(port)});
    ASSERT_EQ(player.status, 0) << player.err;
    ASSERT_TRUE(recorder.wait_for_err("Packets: 6 ("));
    ASSERT_EQ(recorder.stop(SIGINT), 0);

    const auto source_rows = rows_of(source);
    const auto recorded_rows = rows_of(read_file(recorded));
    ASSERT_EQ(recorded_rows.size(), source_rows.size()) << read_file(recorded);
    for (std::size_t k = 0; k < source_rows.size(); ++k) {
        // An odd count of channels goes out, and is recorded, one channel longer.
        const std::string& levels = source_rows[k].second;
        const bool odd = std::ranges::count(levels, ',') % 2 != 0;
        EXPECT_EQ(recorded_rows[k].second, odd ? levels + ",0" : levels) << "row " << k;
        // Each frame is held for its own row's delay, so the gap recorded
        // before frame k is the delay of row k - 1.
        const int expected = k == 0 ? 0 : source_rows[k - 1].first;
        EXPECT_NEAR(recorded_rows[k].first, expected, 15) << "row " << k;
    }
    EXPECT_NE(recorder.err().find("Frames recorded: 6 (only changes)\nPackets received: 6\n"), std::string::npos);
}
