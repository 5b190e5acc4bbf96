#include "demo.hpp"
#include "file_lines.hpp"
#include "settings.hpp"
#include "timeline.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// What read_options made of a command line, copied out of the arguments.
struct parsed {
    int status;
    std::string file, demo_file, target;
    bool demo;
    int universe, port;
    std::string err;
};

parsed read(std::vector<std::string> args)
{
    args.insert(args.begin(), "showrun");
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    reset_getopt();
    player_settings settings;
    testing::internal::CaptureStderr();
    const int status = read_options(static_cast<int>(args.size()), argv.data(), settings);
    return {status, settings.file ? settings.file : "-", settings.demo_file, settings.net.target, settings.demo,
        settings.universe, settings.net.port, testing::internal::GetCapturedStderr()};
}

} // namespace

TEST(Showrun, OptionsAndTheDemoNameThatIsPeekedAtNotConsumed)
{
    const std::string broadcast = "255.255.255.255";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string file;
        bool demo;
        std::string demo_file;
        int universe;
        int port;
        std::string target;
        std::string err; // how standard error starts; "" for nothing, or for getopt's diagnostic and the usage
    } cases[] = {
        {{"-f", "a.csv"}, -1, "a.csv", false, "demo.csv", 0, 6454, broadcast, ""},
        {{"-fa.csv", "-u7", "-p", "9", "-t", "127.0.0.1"}, -1, "a.csv", false, "demo.csv", 7, 9, "127.0.0.1", ""},
        {{"-d"}, -1, "-", true, "demo.csv", 0, 6454, broadcast, ""},
        {{"-d", "out.csv"}, -1, "-", true, "out.csv", 0, 6454, broadcast, ""},
        {{"-d", "-u", "3"}, -1, "-", true, "demo.csv", 3, 6454, broadcast, ""},
        {{"-d", "out.csv", "-u", "300"}, -1, "-", true, "out.csv", 0, 6454, broadcast, ""}, // never read
        {{"-f", "show.csv", "-d"}, -1, "show.csv", true, "demo.csv", 0, 6454, broadcast, ""},
        {{"-d", "--", "x.csv"}, -1, "-", true, "demo.csv", 0, 6454, broadcast, ""},
        {{"-du", "3"}, -1, "-", true, "demo.csv", 3, 6454, broadcast, ""},
        {{"show.csv", "-d"}, -1, "-", false, "demo.csv", 0, 6454, broadcast, ""},
        {{"-u", "32768"}, 1, "-", false, "demo.csv", 0, 6454, broadcast,
            "Error: Universe must be 0-32767 or net.subnet.universe (0-127.0-15.0-15)\n"},
        {{"-p", "65536"}, 1, "-", false, "demo.csv", 0, 6454, broadcast, "Invalid port: 65536\n"},
        {{"-h", "-u", "300"}, 0, "-", false, "demo.csv", 0, 6454, broadcast, "Usage: showrun -f <file.csv>"},
        {{"-x"}, 1, "-", false, "demo.csv", 0, 6454, broadcast, ""},
        {{"-f"}, 1, "-", false, "demo.csv", 0, 6454, broadcast, ""},
    };
    for (const auto& c : cases) {
        const parsed r = read(c.args);
        const std::string label = testing::PrintToString(c.args);
        EXPECT_EQ(r.status, c.status) << label;
        EXPECT_EQ(r.file, c.file) << label;
        EXPECT_EQ(r.demo, c.demo) << label;
        EXPECT_EQ(r.demo_file, c.demo_file) << label;
        EXPECT_EQ(r.universe, c.universe) << label;
        EXPECT_EQ(r.port, c.port) << label;
        EXPECT_EQ(r.target, c.target) << label;
        if (!c.err.empty()) {
            EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << label << r.err;
        } else if (c.status == 1) {
            EXPECT_NE(r.err.find("\nUsage: showrun -f <file.csv>"), std::string::npos) << label << r.err;
        } else {
            EXPECT_EQ(r.err, "") << label;
        }
    }
}

TEST(Showrun, DemoFileFailuresAreReportedWithTheFailedCall)
{
    const struct {
        const char* path;
        const char* err;
    } cases[] = {
        {"/nonexistent-folder/demo.csv", "fopen: No such file or directory\n"},
        {"/dev/full", "fclose: No space left on device\n"}, // 558 bytes stay buffered until the close
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(create_demo_csv(c.path)) << c.path;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
    }
}

TEST(Showrun, APassLastsAtLeastADmxFrameOrTheKeepAlive)
{
    constexpr std::int64_t ms = 1'000'000;
    const struct {
        std::int64_t now;
        int keep_alive_ms;
        std::int64_t next;
    } cases[] = {
        {1000 * ms, 0, 1025 * ms}, // a pass of no time at all: one DMX frame
        {1010 * ms, 0, 1025 * ms},
        {1030 * ms, 0, 1030 * ms}, // long enough: at once
        {1010 * ms, 200, 1200 * ms},
        {1300 * ms, 200, 1300 * ms},
    };
    for (const auto& c : cases)
        EXPECT_EQ(next_pass_start(1000 * ms, c.now, c.keep_alive_ms), c.next) << c.now << " " << c.keep_alive_ms;
}

TEST(Showrun, LinesOfAnyLengthEndingInLfCrLfOrALoneCr)
{
    const std::string long_row = "0," + std::string(4990, '0') + "7\n";
    const std::string endless = "1," + std::string(longest_line + 10, '5');
    const struct {
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {"0,1\n0,2", {"0,1", "0,2"}},
        {"0,1\r\n\r\n", {"0,1\r", "\r"}}, // CR LF: the CR stays for the row reader
        {"# old Mac\r0,1\r0,2\r\r", {"# old Mac", "0,1", "0,2", ""}},
        {long_row + "0,3\n", {long_row.substr(0, long_row.size() - 1), "0,3"}},
        {endless + "\n0,4\n", {endless.substr(0, longest_line), "0,4"}},
    };
    std::vector<char> line(longest_line + 1);
    for (const auto& c : cases) {
        std::string text = c.text;
        std::FILE* file = fmemopen(text.data(), text.size(), "r");
        std::vector<std::string> lines;
        while (read_file_line(file, line) == line_read::line)
            lines.emplace_back(line.data());
        std::fclose(file);
        EXPECT_EQ(lines, c.lines) << c.text.substr(0, 40);
    }
}
