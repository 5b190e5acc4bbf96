#include "recorder.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

TEST(Framelog, OptionsInOrderWithTheLastOfUAndAWinning)
{
    const int none = universe_not_given;
    const struct {
        std::vector<std::string> args;
        int status;
        bool all;
        int universe, min_delay;
        const char* message;
    } cases[] = {
        {{"-f", "x.csv"}, -1, true, none, 0, ""},
        {{"-f", "x.csv", "-u", "3", "-a"}, -1, true, none, 0, ""},
        {{"-f", "x.csv", "-a", "-u", "3"}, -1, false, 3, 0, ""},
        {{"-f", "x.csv", "-u", "256"}, -1, false, 256, 0, ""},
        {{"-f", "x.csv", "-m", "70000"}, -1, true, none, 4464, ""},
        {{"-f", "x.csv", "-m", "-1"}, -1, true, none, 65535, ""},
        {{"-f", "x.csv", "-m", "65536"}, -1, true, none, 0, ""},
        {{"-f", "x.csv", "-m", "99999999999"}, -1, true, none, 65535, ""},
        {{"-fx.csv", "stop", "-u", "999"}, -1, true, none, 0, ""},
        {{"-u", "3"}, 1, false, 3, 0, "Error: -f <file.csv> is required\nUsage: "},
        {{"-f", "x.csv", "-u", "32768"}, 1, true, none, 0, "Error: Universe must be 0-32767 or "},
        {{"-f", "x.csv", "-p", "abc"}, 1, true, none, 0, "Invalid port: abc\n"},
        {{"-h"}, 0, true, none, 0, "Usage: "},
        {{"-f", "x.csv", "-q"}, 1, true, none, 0, "Usage: "},
    };
    for (const auto& c : cases) {
        std::vector<char*> argv = {const_cast<char*>("framelog")};
        for (const auto& arg : c.args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        recorder_settings settings;
        reset_getopt();
        testing::internal::CaptureStderr();
        EXPECT_EQ(read_options(static_cast<int>(argv.size()), argv.data(), settings), c.status) << c.args[0];
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.empty(), *c.message == '\0') << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.message;
        EXPECT_EQ(settings.record_all, c.all);
        EXPECT_EQ(settings.universe, c.universe);
        EXPECT_EQ(settings.min_delay, c.min_delay);
    }
}

namespace {

struct frame_case {
    std::int64_t now;
    std::uint16_t universe;
    std::vector<std::uint8_t> levels;
    const char* row; // nullptr: none
};

// Feeds the frames to a recorder with these options and checks the rows.
void expect_rows(const std::vector<std::string>& options, const std::vector<frame_case>& frames)
{
    std::vector<char*> argv = {const_cast<char*>("framelog"), const_cast<char*>("-fx.csv")};
    for (const auto& option : options)
        argv.push_back(const_cast<char*>(option.c_str()));
    recorder_settings settings;
    reset_getopt();
    ASSERT_EQ(read_options(static_cast<int>(argv.size()), argv.data(), settings), -1);
    recorder rec;
    start_recorder(rec, settings);
    std::FILE* file = std::tmpfile();
    std::string expected;
    unsigned long long rows = 0;
    for (const auto& f : frames) {
        const frame_taken taken = take_frame(rec, file, f.universe, f.levels, f.now);
        EXPECT_EQ(taken == frame_taken::written, f.row != nullptr) << f.now;
        expected += f.row != nullptr ? f.row : "";
        rows += f.row != nullptr ? 1 : 0;
    }
    EXPECT_EQ(rec.counts.frames_recorded, rows);
    std::string written(static_cast<std::size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    EXPECT_EQ(std::fread(written.data(), 1, written.size(), file), written.size());
    EXPECT_EQ(written, expected);
    std::fclose(file);
}

} // namespace

TEST(Framelog, PlainRowsChangeAndWaitAgainstTheOneRowBefore)
{
    expect_rows({"-m", "40"},
        {
            {1000, 1, {1, 2}, "0,1,2\n"},       // the first row has no delay, minimum or not
            {1002, 1, {1, 2}, nullptr},         // the same frame
            {1005, 1, {1, 3}, "40,1,3\n"},      // a gap of 5 raised to the minimum
            {1055, 1, {1, 3, 0}, "50,1,3,0\n"}, // a new length alone; the gap runs from the real arrival
            {1056, 1, {1, 3}, "40,1,3\n"},      // shorter, though a prefix
            {71056, 1, {1, 4}, "4464,1,4\n"},   // 70000 ms in 16 bits
            {71200, 1, {}, "144\n"},            // no channels is a new length too
            {71300, 1, {}, nullptr},            // ...but never differs from itself
            {71400, 1, {9}, "200,9\n"},         // an unchanged packet does not move the last row time
            {71500, 40000, {9}, nullptr},       // one slot for every universe, of any number
            {71600, 2, {8}, "200,8\n"},
        });
}

TEST(Framelog, ShowRowsKeepEachUniverseApartAndSkipWhatIsNoPortAddress)
{
    expect_rows({"-U"},
        {
            {1000, 1, {1, 2}, "0,1,1,2\n"},
            {1010, 300, {1, 2}, "10,300,1,2\n"}, // the first of its universe
            {1020, 1, {1, 2}, nullptr},          // unchanged for its own universe
            {1030, 32768, {7}, nullptr},         // not a Port-Address
            {71030, 300, {1}, "70020,300,1\n"},  // not cut to 16 bits
            {71040, 32767, {}, "10,32767\n"},
        });
}

TEST(Framelog, FailedWritesNameTheFailingCall)
{
    std::FILE* full = std::fopen("/dev/full", "w");
    std::FILE* read_only = std::fopen("/dev/null", "r");
    const std::array<std::uint8_t, 1> levels{7};
    recorder rec;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(write_header(full, recorder_settings{}));
    EXPECT_EQ(take_frame(rec, full, 0, levels, 0), frame_taken::write_failed);
    EXPECT_EQ(take_frame(rec, read_only, 0, levels, 0), frame_taken::write_failed);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
        "fflush: No space left on device\n"
        "fflush: No space left on device\n"
        "fprintf: Bad file descriptor\n");
    std::fclose(full);
    std::fclose(read_only);
}
