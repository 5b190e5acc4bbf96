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
        EXPECT_NE(testing::internal::GetCapturedStderr().find(c.message), std::string::npos) << c.message;
        EXPECT_EQ(settings.record_all, c.all);
        EXPECT_EQ(settings.universe, c.universe);
        EXPECT_EQ(settings.min_delay, c.min_delay);
    }
}

TEST(Framelog, ChangesAndDelaysAgainstTheLastRow)
{
    // -m 40; each packet: its arrival in ms, its levels, the row expected (-1: none).
    const struct {
        std::int64_t now;
        std::vector<std::uint8_t> levels;
        int delay;
    } packets[] = {
        {1000, {1, 2}, 0},     // the first row has no delay, minimum or not
        {1002, {1, 2}, -1},    // the same frame
        {1005, {1, 3}, 40},    // a gap of 5 raised to the minimum
        {1055, {1, 3, 0}, 50}, // a new length alone; the gap runs from the real arrival
        {1056, {1, 3}, 40},    // shorter, though a prefix
        {71056, {1, 4}, 4464}, // 70000 ms in 16 bits
        {71200, {}, 144},      // no channels is a new length too
        {71300, {}, -1},       // ...but never differs from itself
        {71400, {9}, 200},     // an unchanged packet does not move the last row time
    };
    recording_state state;
    std::array<std::uint8_t, channels_per_universe> data{};
    for (const auto& p : packets) {
        std::ranges::copy(p.levels, data.begin());
        const bool change = is_change(state, data, p.levels.size());
        ASSERT_EQ(change, p.delay >= 0) << p.now;
        if (!change)
            continue;
        EXPECT_EQ(row_delay(state, p.now, 40), p.delay) << p.now;
        remember_row(state, data, p.levels.size(), p.now);
    }
    EXPECT_EQ(state.frames_recorded, 7u);
}

TEST(Framelog, FailedWritesNameTheFailingCall)
{
    std::FILE* full = std::fopen("/dev/full", "w");
    std::FILE* read_only = std::fopen("/dev/null", "r");
    const std::array<std::uint8_t, 1> levels{7};
    testing::internal::CaptureStderr();
    EXPECT_FALSE(write_header(full, recorder_settings{}));
    EXPECT_FALSE(write_row(full, 0, levels));
    EXPECT_FALSE(write_row(read_only, 0, levels));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
        "fflush: No space left on device\n"
        "fflush: No space left on device\n"
        "fprintf: Bad file descriptor\n");
    std::fclose(full);
    std::fclose(read_only);
}
