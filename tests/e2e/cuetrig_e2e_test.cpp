#include "harness.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using words = std::vector<std::string>;

const std::string banner = "cuetrig 1.0.0 - Art-Net channel trigger\n\n";
const std::string ready = "Press Ctrl+C to exit\nhttps://dmxkit.example.org\n";

words operator+(words a, const words& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A command that writes "run" and its arguments to standard error, where they
// fall in line with cuetrig's own messages.
words rec(const std::string& label, const std::string& before = "")
{
    return {"sh", "-c", before + "echo run \"$@\" >&2", "sh", label};
}

std::string rise(int channel, int from, int to)
{
    return "Trigger (low->high): Channel " + std::to_string(channel) + " value changed from " + std::to_string(from)
        + " to " + std::to_string(to) + "\n";
}

// One packet per value, for `universe`, the watched channel being the last
// of `length`.
struct packets {
    std::vector<int> values;
    std::uint16_t universe = 1;
    std::size_t length = 1;
};

// cuetrig on a free port, its start-up report seen.
class watcher {
public:
    explicit watcher(const words& args)
        : port_(free_udp_port()), p_(words{"cuetrig", "-p", std::to_string(port_)} + args)
    {
        EXPECT_TRUE(p_.wait_for_err(ready)) << p_.err();
    }
    void send(const std::vector<packets>& batches)
    {
        for (const packets& batch : batches)
            for (const int value : batch.values) {
                std::vector<std::uint8_t> levels(batch.length);
                levels.back() = static_cast<std::uint8_t>(value);
                send_udp(port_, artdmx_packet(batch.universe, levels));
            }
    }
    process& p() { return p_; }

private:
    int port_;
    process p_;
};

} // namespace

TEST(CuetrigE2E, TransitionsRunTheirCommands)
{
    const std::string on_1 = "Monitoring Universe 1, Channel 1\n";
    const std::string twice = "run T --high sh -c echo run \"$@\" >&2 sh H\n";
    const std::string missing
        = rise(1, 0, 200) + "execvp: No such file or directory\nCommand: /nonexistent/program\nrun T\n";
    const std::string nz = "Trigger (0->non-zero): Channel 1 value changed from 0 to ";
    const struct {
        words args;
        std::vector<packets> sent;
        std::string report_and_runs; // everything after the banner
        int stop;
    } cases[] = {
        {words{"-u", "1", "-c", "1", "--high"} + rec("H") + words{"--low"} + rec("L"),
            {{{0, 127, 128, 255, 128, 127, 0}}},
            on_1 + "High command: sh\nLow command: sh\n" + ready + rise(1, 127, 128) + "run H\n"
                + "Trigger (high->low): Channel 1 value changed from 128 to 127\nrun L\n",
            SIGINT},
        {words{"-u", "1", "-c", "1", "-t", "high", "--"} + rec("T") + words{"--high"} + rec("H"),
            {{{100, 200, 200, 50, 0, 5, 255}}},
            on_1 + "High command: sh\nSingle command: sh (trigger: high)\n" + ready + rise(1, 100, 200) + "run H\n"
                + twice + rise(1, 5, 255) + "run H\n" + twice,
            SIGTERM},
        {words{"-u", "1", "-c", "1", "-t", "high", "-t", "nz"} + rec("T"), {{{0, 5, 0, 200, 100}}},
            on_1 + "Single command: sh (trigger: high) (trigger: nz)\n" + ready + nz + "5\nrun T\n" + rise(1, 0, 200)
                + "run T\n" + nz + "200\nrun T\n",
            SIGINT},
        // Already high at start: nothing until it falls and rises. Universe 257
        // has the low byte 1; a packet of 511 levels stops before channel 512.
        {words{"-u", "1", "-c", "512", "--high"} + rec("H"),
            {{{200, 200, 100}, 1, 512}, {{200}, 2, 512}, {{200}, 257, 512}, {{200}, 1, 511}, {{150}, 1, 512}},
            "Monitoring Universe 1, Channel 512\nHigh command: sh\n" + ready + rise(512, 100, 150) + "run H\n", SIGINT},
        {words{"-u", "3", "-c", "10", "-t", "high", "-v"} + rec("ch=%C") + words{"u=$U", "v=%v"}, {{{0, 200}, 3, 10}},
            "Monitoring Universe 3, Channel 10\nSingle command: sh (trigger: high)\n" + ready + rise(10, 0, 200)
                + "run ch=10 u=3 v=200\n",
            SIGINT},
        {words{"-u", "3", "-c", "10", "-t", "high"} + rec("ch=%C") + words{"u=$U", "v=%v"}, {{{0, 200}, 3, 10}},
            "Monitoring Universe 3, Channel 10\nSingle command: sh (trigger: high)\n" + ready + rise(10, 0, 200)
                + "run ch=%C u=$U v=%v\n",
            SIGINT},
        {words{"-u", "1", "-c", "1", "-t", "high", "--high", "/nonexistent/program", "--"} + rec("T"),
            {{{0, 200, 0, 200}}},
            on_1 + "High command: /nonexistent/program\nSingle command: sh (trigger: high)\n" + ready + missing
                + missing,
            SIGINT},
        // Commands do not inherit the socket (counted where /proc shows it).
        {{"-u", "1", "-c", "1", "--high", "sh", "-c", "echo sockets=$(ls -l /proc/$$/fd 2>&1 | grep -c socket:) >&2"},
            {{{0, 200}}}, on_1 + "High command: sh\n" + ready + rise(1, 0, 200) + "sockets=0\n", SIGINT},
    };
    for (const auto& c : cases) {
        watcher w(c.args);
        w.send(c.sent);
        EXPECT_TRUE(w.p().wait_for_err(c.report_and_runs)) << w.p().err();
        usleep(50'000); // time for anything that should not happen
        EXPECT_EQ(w.p().stop(c.stop), 0);
        EXPECT_EQ(w.p().err(), banner + c.report_and_runs);
        EXPECT_EQ(w.p().out(), "");
    }
}

TEST(CuetrigE2E, TransitionsDuringACommandAreSeenAfterItAndAStopWaitsForIt)
{
    watcher w(words{"-u", "1", "-c", "1", "--high"} + rec("H", "sleep 0.3; "));
    w.send({{{0, 200, 0, 200}}}); // the fall and the second rise arrive while the first run sleeps
    ASSERT_TRUE(w.p().wait_for_err("run H\n" + rise(1, 0, 200)));
    EXPECT_EQ(w.p().stop(SIGTERM), 0); // during the second run
    EXPECT_TRUE(w.p().err().ends_with(ready + rise(1, 0, 200) + "run H\n" + rise(1, 0, 200) + "run H\n"));
}

TEST(CuetrigE2E, StartUpFailures)
{
    const run_result bad = run({"cuetrig", "-u", "1", "-c", "1", "echo", "hi"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(
        bad.err.starts_with("Error: No command specified. Use -t with a command, or --high/--low\nUsage: cuetrig "
                            "-u <universe> -c <channel> [-p port] [OPTIONS] [--] <command> [args...]\n"))
        << "no banner before the message";
    for (const char* line :
        {"  %C or $C     Channel number (1-based)\n", "     cuetrig -u 1 -c 1 -t high -v echo \"channel %C is %V\"\n",
            "Commands run every time the transition occurs.\n\nArt-Net\xe2\x84\xa2 Designed by"})
        EXPECT_NE(bad.err.find(line), std::string::npos) << line;

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

TEST(CuetrigE2E, CommandsGetTheTransitionInTheirEnvironment)
{
    const words show = {"sh", "-c", "echo $DMX_UNIVERSE $DMX_CHANNEL $DMX_VALUE $DMX_PREVIOUS $DMX_TRANSITION >&2"};
    watcher w(words{"-u", "4", "-c", "2", "-t", "nz", "--"} + show + words{"--low"} + show);
    w.send({{{200, 0, 7}, 4, 2}, {{130}, 4, 2}});
    const std::string fall = "Trigger (high->low): Channel 2 value changed from 200 to 0\n";
    const std::string leave = "Trigger (0->non-zero): Channel 2 value changed from 0 to 7\n";
    EXPECT_TRUE(w.p().wait_for_err(fall + "4 2 0 200 high->low\n" + leave + "4 2 7 0 0->non-zero\n")) << w.p().err();
    EXPECT_EQ(w.p().stop(SIGINT), 0);
}

#if defined(__linux__)
TEST(CuetrigE2E, DatagramsLostBehindASlowCommandAreCounted)
{
    const int port = free_udp_port();
    process p({"cuetrig", "-p", std::to_string(port), "-u", "1", "-c", "1", "-t", "high", "--", "sleep", "1"},
        input_mode::null_device, {"LD_PRELOAD=" FAULTS_LIBRARY, "FAULTS_RECEIVE_BUFFER=4096"});
    ASSERT_TRUE(p.wait_for_err(ready)) << p.err();
    { // a steady level among a flood: no command runs, and the loss is told once a second at most
        const udp_flood flood(port, artdmx_packet(1, {0, 0}), 2500);
        ASSERT_TRUE(p.wait_for_err("lost (the receive queue was full)\n"));
        usleep(2'000'000);
    }
    std::size_t told = 0;
    for (std::size_t at = 0; (at = p.err().find("queue was full", at + 1)) != std::string::npos;)
        ++told;
    EXPECT_LE(told, 4u) << p.err();
    EXPECT_EQ(p.err().find("while the command ran"), std::string::npos);
    // The flood's last datagrams may still fill the small queue: the rise is
    // sent again until it is heard (the level stays high, so it runs once).
    bool risen = false;
    for (int i = 0; i < 50 && !risen; ++i) {
        send_udp(port, artdmx_packet(1, {200, 0}));
        risen = p.wait_for_err("Trigger (low->high)", 100);
    }
    ASSERT_TRUE(risen) << p.err();
    for (int i = 0; i < 300; ++i) // far beyond a 4 kB queue while the command sleeps
        send_udp(port, artdmx_packet(1, {250, 0}));
    ASSERT_TRUE(p.wait_for_err(" datagrams were lost while the command ran\n", 5000)) << p.err();
    EXPECT_EQ(p.stop(SIGINT, 10000), 0);
}
#endif
