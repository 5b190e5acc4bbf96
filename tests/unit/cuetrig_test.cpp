#include "command_line.hpp"
#include "watch.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string usage_text()
{
    testing::internal::CaptureStderr();
    usage("cuetrig");
    return testing::internal::GetCapturedStderr();
}

// Blank-separated words, "-" for an absent command.
std::string words_of(const argument_vector& command)
{
    if (command.empty())
        return "-";
    std::string joined;
    for (std::size_t i = 0; i + 1 < command.size(); ++i)
        joined += (i > 0 ? " " : "") + std::string(command[i]);
    EXPECT_EQ(command.back(), nullptr);
    return joined;
}

// An argument list that the parsed configuration may point into.
struct command_line {
    std::vector<std::string> words;
    std::vector<char*> argv;
    watch_config config;
    int status = 0;
    std::string err;

    explicit command_line(const std::string& args)
    {
        std::istringstream in("cuetrig " + args);
        for (std::string word; in >> word;)
            words.push_back(word);
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        testing::internal::CaptureStderr();
        status = read_command_line(static_cast<int>(words.size()), argv.data(), config);
        err = testing::internal::GetCapturedStderr();
    }
};

} // namespace

TEST(Cuetrig, CommandLinesAreCutIntoCommands)
{
    const struct {
        const char* args;
        const char* high;
        const char* low;
        const char* single;
        const char* flags; // h, l, n: the -t triggers; v: value mode
    } cases[] = {
        {"-u 1 -c 1 -t high -- echo triggered", "-", "-", "echo triggered", "h"},
        {"-u 1 -c 1 -t high echo triggered", "-", "-", "echo triggered", "h"},
        {"-u 1 -c 1 --high echo high --low echo low", "echo high", "echo low", "-", ""},
        {"-u 1 -c 1 --low echo low --high echo high", "echo high", "echo low", "-", ""},
        {"-u 1 -c 1 -t high -- echo T --high echo H", "echo H", "-", "echo T --high echo H", "h"},
        {"-u 1 -c 1 -t high -- --high echo H", "echo H", "-", "--high echo H", "h"},
        {"-u 1 -c 1 -t low --high echo H -- echo T", "echo H -- echo T", "-", "echo T", "l"},
        {"-u 1 -c 1 -t nz -- ls -l -- x", "-", "-", "ls -l -- x", "n"},
        {"-u 1 -c 1 -t high ls -- x", "-", "-", "x", "h"},
        {"-u 1 -c 1 -t high --high echo H", "echo H", "-", "-", "h"},
        {"-u 1 -c 1 --high --low echo low", "-", "echo low", "-", ""},
        {"-u 1 -c 1 --low echo L --high", "-", "echo L", "-", ""},
        {"-u 1 -c 1 -t high -t low -- echo x", "-", "-", "echo x", "hl"},
        {"-u1 -c1 -vt nz echo x", "-", "-", "echo x", "nv"},
        // A "--" that is -u's argument does not end the options.
        {"-c 1 -t high -u -- x -- y", "-", "-", "y", "h"},
    };
    for (const auto& c : cases) {
        const command_line line(c.args);
        ASSERT_EQ(line.status, -1) << c.args << "\n" << line.err;
        EXPECT_EQ(line.err, "") << c.args;
        EXPECT_EQ(words_of(line.config.high_command), c.high) << c.args;
        EXPECT_EQ(words_of(line.config.low_command), c.low) << c.args;
        EXPECT_EQ(words_of(line.config.single_command), c.single) << c.args;
        const watch_config& w = line.config;
        EXPECT_EQ(std::string(w.trigger_high ? "h" : "") + (w.trigger_low ? "l" : "") + (w.trigger_nz ? "n" : "")
                + (w.value_mode ? "v" : ""),
            c.flags)
            << c.args;
        for (std::size_t i = 0; i < line.words.size(); ++i) // the list is left as typed
            EXPECT_EQ(line.argv[i], line.words[i].data());
    }
}

TEST(Cuetrig, CommandLinesThatEndBeforeStartUp)
{
    const char* const no_command = "Error: No command specified. Use -t with a command, or --high/--low\n";
    const char* const no_t_command = "Error: -t specified but no command provided\n";
    const struct {
        const char* args;
        const char* message; // null: getopt's own diagnostic
        bool usage;
        int status;
    } cases[] = {
        {"-u 1 -c 1 echo hi", no_command, true, 1},
        {"-u 1 -c 1 -- echo hi", no_command, true, 1},
        {"-u 1 -c 1 -t high", no_t_command, true, 1},
        {"-u 1 -c 1 -t high --", no_t_command, true, 1},
        {"-u 1 -c 1 --high", no_command, true, 1},
        {"-u 1 -c 1 --high echo a --high echo b", nullptr, true, 1},
        {"-u 1 --high echo hi -c 1", "Error: Both -u and -c must be specified\n", true, 1},
        {"-t --high echo x -u 1 -c 1", "Invalid trigger type: __HIGH__ (must be 'high', 'low', or 'nz')\n", false, 1},
        {"-p --low -u 1 -c 1", "Invalid port: __LOW__\n", false, 1},
        {"-h -u 999", "", true, 0},
        {"-u 999 -h", "Universe must be between 0 and 255\n", false, 1},
        {"-u 1 -c 1 -t HIGH x", "Invalid trigger type: HIGH (must be 'high', 'low', or 'nz')\n", false, 1},
        {"-u 1 -c abc -t high x", "Channel must be between 1 and 512\n", false, 1},
        {"-u 1 -c 1 -v say channel_%C_is_%V", no_command, true, 1},
    };
    const std::string usage = usage_text();
    for (const auto& c : cases) {
        const command_line line(c.args);
        EXPECT_EQ(line.status, c.status) << c.args;
        const std::string tail = c.usage ? usage : "";
        if (c.message != nullptr) {
            EXPECT_EQ(line.err, c.message + tail) << c.args;
        } else {
            ASSERT_GT(line.err.size(), tail.size()) << c.args;
            EXPECT_EQ(line.err.substr(line.err.size() - tail.size()), tail) << c.args;
        }
    }
}

TEST(Cuetrig, UniverseAndChannelAsStored)
{
    const command_line line("-u abc -c 512 -p 6454x -t nz x");
    ASSERT_EQ(line.status, -1);
    EXPECT_EQ(line.config.universe, 0);
    EXPECT_EQ(line.config.channel_index, 511);
    EXPECT_EQ(line.config.port, 6454);
}

TEST(Cuetrig, TransitionsCrossBetween127And128)
{
    const struct {
        int old_value, new_value;
        bool rise, fall;
    } cases[] = {
        {127, 128, true, false},
        {0, 255, true, false},
        {128, 127, false, true},
        {255, 0, false, true},
        {128, 255, false, false},
        {0, 127, false, false},
        {200, 200, false, false},
    };
    for (const auto& c : cases) {
        const auto o = static_cast<std::uint8_t>(c.old_value), n = static_cast<std::uint8_t>(c.new_value);
        EXPECT_EQ(is_low_to_high(o, n), c.rise) << c.old_value << "->" << c.new_value;
        EXPECT_EQ(is_high_to_low(o, n), c.fall) << c.old_value << "->" << c.new_value;
    }
}

TEST(Cuetrig, TriggerPlans)
{
    const struct {
        const char* commands; // after -u 1 -c 1
        int old_value, new_value;
        const char* steps; // "message:program" per run, "-" for no message
    } cases[] = {
        {"--high H --low L", 127, 128, "low->high:H "},
        {"--high H --low L", 128, 127, "high->low:L "},
        {"--high H --low L", 128, 255, ""},
        {"-t high -- T --high H", 0, 200, "low->high:H -:T "},
        {"-t low -- T --low L", 200, 0, "high->low:L -:T "},
        {"-t high -t nz T", 0, 200, "low->high:T 0->non-zero:T "},
        {"-t nz --high H -- T", 0, 200, "low->high:H 0->non-zero:T "},
        {"-t nz T", 0, 5, "0->non-zero:T "},
        {"-t nz T", 5, 0, ""},
        {"-t high T", 200, 50, ""},
        {"-t high T", 0, 5, ""},
    };
    for (const auto& c : cases) {
        const command_line line(std::string("-u 1 -c 1 ") + c.commands);
        ASSERT_EQ(line.status, -1) << c.commands;
        const trigger_plan plan = plan_triggers(
            line.config, static_cast<std::uint8_t>(c.old_value), static_cast<std::uint8_t>(c.new_value));
        std::string steps;
        for (std::size_t i = 0; i < plan.count; ++i)
            steps += std::string(plan.steps[i].transition ? plan.steps[i].transition : "-") + ":"
                + (*plan.steps[i].command)[0] + " ";
        EXPECT_EQ(steps, c.steps) << c.commands << " " << c.old_value << "->" << c.new_value;
    }
}

TEST(Cuetrig, ExpansionRules)
{
    // Channel 5 (index 4), universe 12, value 7.
    const struct {
        const char* text;
        const char* expanded;
    } cases[] = {
        {"%%V", "%7"},
        {"$%C", "$5"},
        {"%X%", "%X%"},
        {"50%", "50%"},
        {"$", "$"},
        {"$u/$U/%u", "12/12/12"},
        {"", ""},
        {"ch=%c v=$v %V$C", "ch=5 v=7 75"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(expand_variables(c.text, 12, 4, 7), c.expanded) << c.text;
    EXPECT_EQ(expand_variables(nullptr, 12, 4, 7), std::nullopt);

    // 257 placeholders: room for 256 expansions and one more character.
    std::string many;
    std::string expected;
    for (int i = 0; i < 257; ++i)
        many += "%V";
    for (int i = 0; i < 256; ++i)
        expected += "200";
    EXPECT_EQ(expand_variables(many.c_str(), 1, 0, 200), expected + "%");
}

TEST(Cuetrig, ExpandedCommandEndsWithANullPointer)
{
    std::string program = "prog", word = "u=%U";
    char* argv[] = {program.data(), word.data(), nullptr};
    std::vector<std::string> words;
    argument_vector expanded;
    ASSERT_TRUE(expand_command_variables(argv, 2, 3, 9, 200, words, expanded));
    ASSERT_EQ(expanded.size(), 3u);
    EXPECT_STREQ(expanded[0], "prog");
    EXPECT_STREQ(expanded[1], "u=3");
    EXPECT_EQ(expanded[2], nullptr);
    EXPECT_FALSE(expand_command_variables(argv, 0, 3, 9, 200, words, expanded));
    EXPECT_FALSE(expand_command_variables(nullptr, 2, 3, 9, 200, words, expanded));
}

TEST(Cuetrig, ExecuteCommandReturnsTheExitStatus)
{
    const struct {
        std::vector<std::string> words;
        bool value_mode;
        int status;
        const char* err;
    } cases[] = {
        {{"sh", "-c", "exit 3"}, false, 3, ""},
        {{"sh", "-c", "exit $0", "%V"}, true, 42, ""},
        {{"sh", "-c", "kill -9 $$"}, false, 0, ""}, // ended by a signal
        {{"/nonexistent/program"}, false, 1, "execvp: No such file or directory\n"},
    };
    for (auto c : cases) {
        argument_vector argv;
        for (std::string& word : c.words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        std::fputs("pending", stdout); // still buffered at the fork: a failed child must not write it again
        EXPECT_EQ(execute_command(argv, c.value_mode, 1, 0, 42), c.status) << c.words.back();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
        std::fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "pending");
    }
}
