#include "harness.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const std::string banner = "cuetrig 1.0.0 - Art-Net channel trigger\n\n";
const std::string ready = "Press Ctrl+C to exit\nhttps://dmxkit.example.org\n";
const std::string no_such_program = "execvp: No such file or directory\n";

// A command that writes "run" and its arguments to standard error, where they
// fall in line with cuetrig's own messages.
std::vector<std::string> rec(const std::string& label, const std::string& before = "")
{
    return {"sh", "-c", before + "echo run \"$@\" >&2", "sh", label};
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string rise(int channel, int from, int to)
{
    return "Trigger (low->high): Channel " + std::to_string(channel) + " value changed from " + std::to_string(from)
        + " to " + std::to_string(to) + "\n";
}

// cuetrig listening on a free port, its start-up report seen.
class watcher {
public:
    explicit watcher(const std::vector<std::string>& args)
        : port_(free_udp_port()), p_(std::vector<std::string>{"cuetrig", "-p", std::to_string(port_)} + args)
    {
        EXPECT_TRUE(p_.wait_for_err(ready)) << p_.err();
    }
    // One packet per value, the watched channel being the last of `length`.
    void send(const std::vector<int>& values, std::uint16_t universe = 1, std::size_t length = 1)
    {
        for (const int value : values) {
            std::vector<std::uint8_t> levels(length);
            levels.back() = static_cast<std::uint8_t>(value);
            send_udp(port_, artdmx_packet(universe, levels));
        }
    }
    process& p() { return p_; }
    // What followed the start-up report.
    std::string after_report() const { return p_.err().substr(p_.err().find(ready) + ready.size()); }

private:
    int port_;
    process p_;
};

} // namespace

TEST(CuetrigE2E, HighAndLowCommandsRunOnCrossingsOnly)
{
    watcher w(std::vector<std::string>{"-u", "1", "-c", "1", "--high"} + rec("H") + std::vector<std::string>{"--low"}
        + rec("L"));
    w.send({0, 127, 128, 255, 128, 127, 0});
    ASSERT_TRUE(w.p().wait_for_err("run L\n"));
    usleep(100'000);
    EXPECT_EQ(w.p().stop(SIGINT), 0);
    EXPECT_EQ(w.p().err(),
        banner + "Monitoring Universe 1, Channel 1\nHigh command: sh\nLow command: sh\n" + ready + rise(1, 127, 128)
            + "run H\n" + "Trigger (high->low): Channel 1 value changed from 128 to 127\nrun L\n");
    EXPECT_EQ(w.p().out(), "");
}

TEST(CuetrigE2E, OneMessageForTheHighAndTheSingleCommand)
{
    watcher w(std::vector<std::string>{"-u", "1", "-c", "1", "-t", "high", "--"} + rec("T")
        + std::vector<std::string>{"--high"} + rec("H"));
    w.send({100, 200, 200, 50, 0, 5, 255});
    ASSERT_TRUE(w.p().wait_for_err("run T --high sh -c echo run \"$@\" >&2 sh H\n", 5000));
    ASSERT_TRUE(w.p().wait_for_err("run T --high sh -c echo run \"$@\" >&2 sh H\n" + rise(1, 5, 255), 5000));
    usleep(100'000);
    EXPECT_EQ(w.p().stop(SIGTERM), 0);
    const std::string runs = "run H\nrun T --high sh -c echo run \"$@\" >&2 sh H\n";
    EXPECT_EQ(w.p().err(),
        banner + "Monitoring Universe 1, Channel 1\nHigh command: sh\n" + "Single command: sh (trigger: high)\n" + ready
            + rise(1, 100, 200) + runs + rise(1, 5, 255) + runs);
}

TEST(CuetrigE2E, HighAndNonZeroTriggersRunTheSingleCommandTwice)
{
    watcher w(std::vector<std::string>{"-u", "1", "-c", "1", "-t", "high", "-t", "nz"} + rec("T"));
    w.send({0, 5, 0, 200, 100});
    const std::string nz = "Trigger (0->non-zero): Channel 1 value changed from 0 to ";
    const std::string expected = nz + "5\nrun T\n" + rise(1, 0, 200) + "run T\n" + nz + "200\nrun T\n";
    ASSERT_TRUE(w.p().wait_for_err(expected));
    usleep(100'000);
    EXPECT_EQ(w.p().stop(SIGINT), 0);
    EXPECT_EQ(w.after_report(), expected);
}

TEST(CuetrigE2E, OnlyFullPacketsOfTheWatchedUniverseCount)
{
    watcher w(std::vector<std::string>{"-u", "1", "-c", "512", "--high"} + rec("H"));
    w.send({200, 200, 100}, 1, 512); // already high at start: no run until it falls and rises
    w.send({200}, 2, 512);
    w.send({200}, 257, 512); // low byte 1, but universe 257
    w.send({200}, 1, 511);   // stops before channel 512
    w.send({150}, 1, 512);
    ASSERT_TRUE(w.p().wait_for_err("run H\n"));
    usleep(100'000);
    EXPECT_EQ(w.p().stop(SIGINT), 0);
    EXPECT_EQ(w.after_report(), rise(512, 100, 150) + "run H\n");
}

TEST(CuetrigE2E, ValueModeExpandsEveryWord)
{
    for (const bool value_mode : {true, false}) {
        std::vector<std::string> args = {"-u", "3", "-c", "10", "-t", "high"};
        if (value_mode)
            args.emplace_back("-v");
        watcher w(args + std::vector<std::string>{"sh", "-c", "echo run \"$@\" >&2", "sh", "ch=%C", "u=$U", "v=%v"});
        w.send({0, 200}, 3, 10);
        const std::string expected = value_mode ? "run ch=10 u=3 v=200\n" : "run ch=%C u=$U v=%v\n";
        ASSERT_TRUE(w.p().wait_for_err(expected));
        EXPECT_EQ(w.p().stop(SIGINT), 0);
        EXPECT_EQ(w.after_report(), rise(10, 0, 200) + expected);
    }
}

TEST(CuetrigE2E, AMissingProgramDoesNotStopTheOthers)
{
    watcher w(std::vector<std::string>{"-u", "1", "-c", "1", "-t", "high", "--high", "/nonexistent/program", "--"}
        + rec("T"));
    w.send({0, 200, 0, 200});
    const std::string once = rise(1, 0, 200) + no_such_program + "run T\n";
    ASSERT_TRUE(w.p().wait_for_err(once + once));
    EXPECT_EQ(w.p().stop(SIGINT), 0);
    EXPECT_EQ(w.after_report(), once + once);
}

TEST(CuetrigE2E, TransitionsDuringACommandAreSeenAfterItAndAStopWaitsForIt)
{
    watcher w(std::vector<std::string>{"-u", "1", "-c", "1", "--high"} + rec("H", "sleep 0.3; "));
    w.send({0, 200, 0, 200}); // the fall and the second rise arrive while the first run sleeps
    ASSERT_TRUE(w.p().wait_for_err("run H\n" + rise(1, 0, 200)));
    EXPECT_EQ(w.p().stop(SIGTERM), 0); // during the second run
    EXPECT_EQ(w.after_report(), rise(1, 0, 200) + "run H\n" + rise(1, 0, 200) + "run H\n");
}

TEST(CuetrigE2E, CommandsDoNotInheritTheSocket)
{
    if (access("/proc/self/fd", F_OK) != 0)
        GTEST_SKIP() << "needs /proc";
    watcher w({"-u", "1", "-c", "1", "--high", "sh", "-c", "echo sockets=$(ls -l /proc/$$/fd | grep -c socket:) >&2"});
    w.send({0, 200});
    ASSERT_TRUE(w.p().wait_for_err("sockets="));
    EXPECT_EQ(w.p().stop(SIGINT), 0);
    EXPECT_EQ(w.after_report(), rise(1, 0, 200) + "sockets=0\n");
}

TEST(CuetrigE2E, StartUpFailures)
{
    const run_result bad = run({"cuetrig", "-u", "1", "-c", "1", "echo", "hi"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err.rfind("Error: No command specified. Use -t with a command, or --high/--low\n"
                            "Usage: cuetrig -u <universe> -c <channel> [-p port] [OPTIONS] [--] <command> [args...]\n",
                  0),
        0u)
        << "no banner before the message";
    for (const char* line :
        {"  %C or $C     Channel number (1-based)\n", "     cuetrig -u 1 -c 1 -v say \"channel %C is %V\"\n",
            "Commands run every time the transition occurs.\n\nArt-Net\xe2\x84\xa2 Designed by"})
        EXPECT_NE(bad.err.find(line), std::string::npos) << line;
    EXPECT_EQ(bad.out, "");

    // A port held without sharing: the bind message alone, after the banner.
    const int holder = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    socklen_t size = sizeof any;
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&any), &size), 0);
    const std::string port = std::to_string(ntohs(any.sin_port));
    const run_result held = run({"cuetrig", "-p", port, "-u", "1", "-c", "1", "--high", "true"});
    close(holder);
    EXPECT_EQ(held.status, 1);
    EXPECT_EQ(held.err, banner + "Failed to bind to port " + port + ": Address already in use\n");
}
