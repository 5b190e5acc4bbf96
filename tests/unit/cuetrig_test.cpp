#include "command_line.hpp"
#include "receiver.hpp"
#include "signals.hpp"
#include "watch.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>

namespace {

// "high|low|single|flags": each command's words ("-" when absent), then h, l,
// n for the -t triggers and v for value mode.
std::string describe(const watch_config& config)
{
    std::string text;
    for (const argument_vector* command : {&config.high_command, &config.low_command, &config.single_command}) {
        EXPECT_TRUE(command->empty() || command->back() == nullptr);
        for (std::size_t i = 0; i + 1 < command->size(); ++i)
            text += (i > 0 ? " " : "") + std::string((*command)[i]);
        text += command->empty() ? "-|" : "|";
    }
    return text + (config.trigger_high ? "h" : "") + (config.trigger_low ? "l" : "") + (config.trigger_nz ? "n" : "")
        + (config.value_mode ? "v" : "");
}

// Blank-separated words after "cuetrig", read into a config that points into them.
struct command_line {
    std::vector<std::string> words;
    std::vector<char*> argv;
    cuetrig_settings settings;
    const watch_config& config = settings.watch;
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
        status = read_command_line(static_cast<int>(words.size()), argv.data(), settings);
        err = testing::internal::GetCapturedStderr();
    }
};

} // namespace

TEST(Cuetrig, CommandLines)
{
    const char* const no_command = "Error: No command specified. Use -t with a command, or --high/--low\n";
    const char* const no_t_command = "Error: -t specified but no command provided\n";
    const struct {
        const char* args;
        int status;
        const char* outcome; // accepted: describe(); otherwise the message, null for getopt's own
        bool usage = false;
    } cases[] = {
        {"-u 1 -c 1 -t high -- echo triggered", -1, "-|-|echo triggered|h"},
        {"-u 1 -c 1 -t high echo triggered", -1, "-|-|echo triggered|h"},
        {"-u 1 -c 1 --high echo high --low echo low", -1, "echo high|echo low|-|"},
        {"-u 1 -c 1 --low echo low --high echo high", -1, "echo high|echo low|-|"},
        {"-u 1 -c 1 -t high -- echo T --high echo H", -1, "echo H|-|echo T --high echo H|h"},
        {"-u 1 -c 1 -t high -- --high echo H", -1, "echo H|-|--high echo H|h"},
        {"-u 1 -c 1 -t low --high echo H -- echo T", -1, "echo H -- echo T|-|echo T|l"},
        {"-u 1 -c 1 -t nz -- ls -l -- x", -1, "-|-|ls -l -- x|n"},
        {"-u 1 -c 1 -t high ls -- x", -1, "-|-|x|h"},
        {"-u 1 -c 1 -t high --high echo H", -1, "echo H|-|-|h"},
        {"-u 1 -c 1 --high --low echo low", -1, "-|echo low|-|"},
        {"-u 1 -c 1 --low echo L --high", -1, "-|echo L|-|"},
        {"-u 1 -c 1 -t high -t low -- echo x", -1, "-|-|echo x|hl"},
        {"-u1 -c1 -vt nz echo x", -1, "-|-|echo x|nv"},
        {"-c 1 -t high -u -- x -- y", -1, "-|-|y|h"}, // that "--" is -u's argument, not the end of the options
        {"-u 1 -c 1 echo hi", 1, no_command, true},
        {"-u 1 -c 1 -- echo hi", 1, no_command, true},
        {"-u 1 -c 1 -t high", 1, no_t_command, true},
        {"-u 1 -c 1 -t high --", 1, no_t_command, true},
        {"-u 1 -c 1 --high", 1, no_command, true},
        {"-u 1 -c 1 --high echo a --high echo b", 1, nullptr, true},
        {"-u 1 --high echo hi -c 1", 1, "Error: Both -u and -c must be specified\n", true},
        {"-t --high echo x -u 1 -c 1", 1, "Invalid trigger type: --high (must be 'high', 'low', or 'nz')\n"},
        {"-p --low -u 1 -c 1", 1, "Invalid port: --low\n"},
        {"-c 1 -u --high -t high echo x", -1, "-t high echo x|-|-|h"}, // the options go on after -u's argument
        {"-h -u 999", 0, "", true},
        {"-u 99999 -h", 1, "Error: Universe must be 0-32767 or net.subnet.universe (0-127.0-15.0-15)\n"},
        {"-u 1 -c 1 -t HIGH x", 1, "Invalid trigger type: HIGH (must be 'high', 'low', or 'nz')\n"},
        {"-u 1 -c abc -t high x", 1, "Channel must be between 1 and 512\n"},
        {"-u 1 -c 1 -v say channel_%C_is_%V", 1, no_command, true},
    };
    testing::internal::CaptureStderr();
    usage("cuetrig");
    const std::string usage_text = testing::internal::GetCapturedStderr();
    for (const auto& c : cases) {
        const command_line line(c.args);
        EXPECT_EQ(line.status, c.status) << c.args;
        const std::string tail = c.usage ? usage_text : "";
        if (c.status == -1)
            EXPECT_EQ(describe(line.config) + line.err, c.outcome) << c.args;
        else if (c.outcome != nullptr)
            EXPECT_EQ(line.err, c.outcome + tail) << c.args;
        else
            EXPECT_TRUE(line.err.size() > tail.size() && line.err.ends_with(tail)) << c.args << "\n" << line.err;
        for (std::size_t i = 0; i < line.words.size(); ++i) // the list is left as typed
            EXPECT_EQ(line.argv[i], line.words[i].data());
    }

    const command_line line("-u abc -c 512 -p 6454x -t nz x");
    EXPECT_EQ(line.config.universe, 0);
    EXPECT_EQ(line.config.channel_index, 511);
    EXPECT_EQ(line.settings.net.port, 6454);
}

TEST(Cuetrig, TransitionsAndTheCommandsTheyRun)
{
    const struct {
        const char* commands; // after -u 1 -c 1
        int old_value, new_value;
        const char* steps; // "message:program " per run, "-" for no message
    } cases[] = {
        {"--high H --low L", 127, 128, "low->high:H "},
        {"--high H --low L", 128, 127, "high->low:L "},
        {"--high H --low L", 0, 255, "low->high:H "},
        {"--high H --low L", 255, 0, "high->low:L "},
        {"--high H --low L", 128, 255, ""},
        {"--high H --low L", 0, 127, ""},
        {"--high H --low L", 200, 200, ""},
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
        const auto o = static_cast<std::uint8_t>(c.old_value), n = static_cast<std::uint8_t>(c.new_value);
        ASSERT_EQ(line.status, -1) << c.commands;
        const trigger_plan plan = plan_triggers(line.config, o, n);
        std::string steps;
        for (const trigger_step& step : std::span(plan.steps).first(plan.count))
            steps += std::string(step.transition ? step.transition : "-") + ":" + (*step.command)[0] + " ";
        EXPECT_EQ(steps, c.steps) << c.commands << " " << c.old_value << "->" << c.new_value;
    }
}

TEST(Cuetrig, ExpansionRules)
{
    const struct {
        const char* text;
        const char* expanded; // channel 5 (index 4), universe 12, value 7
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
    std::string many, expected;
    for (int i = 0; i < 257; ++i)
        many += "%V";
    for (int i = 0; i < 256; ++i)
        expected += "200";
    EXPECT_EQ(expand_variables(many.c_str(), 1, 0, 200), expected + "%");
}

TEST(Cuetrig, StartingACommand)
{
    // A stale variable of a transition's name and one of cuetrig's own to pass on.
    setenv("DMX_VALUE", "stale", 1);
    setenv("CUETRIG_TEST", "kept", 1);
    // A script without a "#!" line, which execvp hands to /bin/sh.
    const std::string script = testing::TempDir() + "cuetrig_script";
    const std::string lines = "echo script \"$1\" >&2; kill -HUP $$";
    ASSERT_EQ(std::system(("echo '" + lines + "' >" + script + " && chmod +x " + script).c_str()), 0);
    // cuetrig's handlers, one stop signal ignored instead (as a parent may
    // leave it) and signals blocked: a command gets none of it.
    install_stop_handlers();
    std::signal(SIGHUP, SIG_IGN);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
    // Its socket beside the wake-up pipe: none of its close-on-exec descriptors may reach a command.
    dmx_receiver receiver;
    ASSERT_EQ(open_artnet_receiver(receiver, 0), receiver_opening::opened);
    std::string own;
    for (int fd = 3; fd < 256; ++fd)
        if (fcntl(fd, F_GETFD) > 0)
            own.append(" ").append(std::to_string(fd));
    const struct {
        std::vector<std::string> words;
        bool value_mode;
        int status;
        std::string err;
        const char* transition = nullptr;
    } cases[] = {
        {{"sh", "-c", "exit 3"}, false, 3, ""},
        {{"sh", "-c", "exit $0", "%V"}, true, 42, ""}, // the expanded vector runs
        {{"sh", "-c", "kill -9 $$"}, false, 128 + SIGKILL, ""},
        {{"/nonexistent/program"}, false, 1, "execvp: No such file or directory\nCommand: /nonexistent/program\n"},
        {{"/nonexistent/%V"}, true, 1, "execvp: No such file or directory\nCommand: /nonexistent/%V\n"},
        {{script, "x"}, false, 128 + SIGHUP, "script x\n"},
        // The environment as given, duplicates included, where /proc shows it.
        {{"sh", "-c",
             "{ tr '\\0' '\\n' </proc/$$/environ || env; } 2>/dev/null"
             " | grep -e ^DMX_ -e ^CUETRIG_TEST= | LC_ALL=C sort >&2"},
            false, 0,
            "CUETRIG_TEST=kept\nDMX_CHANNEL=1\nDMX_PREVIOUS=0\n"
            "DMX_TRANSITION=low->high\nDMX_UNIVERSE=1\nDMX_VALUE=42\n",
            "low->high"},
        {{"sh", "-c", "for fd in" + own + "; do [ -e /dev/fd/$fd ] && echo leaked $fd >&2; done; exit 0"}, false, 0,
            ""},
        {{"sh", "-c", "kill -HUP $$; exit 0"}, false, 128 + SIGHUP, ""},
        {{"sh", "-c", "kill -TERM $$; exit 0"}, false, 128 + SIGTERM, ""},
        {{"sh", "-c", "kill -USR1 $$; exit 0"}, false, 128 + SIGUSR1, ""},
    };
    for (auto c : cases) {
        argument_vector argv;
        for (std::string& word : c.words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        std::fputs("pending", stdout); // still buffered at the start: a failed child must not write it again
        EXPECT_EQ(execute_command(argv, c.value_mode, 1, 0, 42, 0, c.transition), c.status) << c.words.back();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
        std::fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "pending");
    }
    EXPECT_STREQ(std::getenv("DMX_VALUE"), "stale");
    sigprocmask(SIG_UNBLOCK, &blocked, nullptr);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal_number, SIG_DFL);
    std::remove(script.c_str());
}
