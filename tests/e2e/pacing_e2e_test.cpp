// The senders after a stop of the process (Ctrl+Z and fg, a suspended
// laptop): what was missed is not made up in a burst.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <map>

#include <unistd.h>

TEST(PacingE2E, AfterAStopEachUniverseGetsOnePacketAtOnceAndThenItsInterval)
{
    const temp_dir dir;
    const std::string show = dir.file(
        "held.csv", "# Format: delay_ms,universe,channel1,channel2,channel3,...\n0,1,1\n0,2,2\n0,3,3\n60000,1,4\n");
    const struct {
        std::vector<std::string> args;
        std::size_t universes;
        double interval_ms;
    } cases[] = {
        {{"linecast", "-u", "1", "-c", "1", "-k", "200"}, 1, 200},
        {{"showrun", "-f", show, "-k", "200"}, 3, 200},
        {{"rampgen", "-u", "1", "-u", "2", "-i", "100"}, 2, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        udp_capture capture;
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-t", "127.0.0.1", "-p", std::to_string(capture.port())});
        process p(args);
        p.write_input("9\n");
        std::vector<arrival> arrivals = capture.receive_arrivals(c.universes, 5000);
        kill(p.pid(), SIGSTOP);
        usleep(2'000'000);
        kill(p.pid(), SIGCONT);
        for (arrival& a : capture.receive_arrivals(4 * c.universes, 5000))
            arrivals.push_back(std::move(a));
        p.stop(SIGTERM);
        std::map<int, std::vector<double>> times; // of each universe
        for (const arrival& a : arrivals)
            times[a.bytes.at(14) | a.bytes.at(15) << 8].push_back(a.ms);
        ASSERT_EQ(times.size(), c.universes);
        for (const auto& [universe, at] : times) {
            ASSERT_EQ(at.size(), 5u) << universe << ": the first, and four after the stop";
            EXPECT_GT(at[1] - at[0], 1500) << universe;
            for (std::size_t k = 2; k < at.size(); ++k)
                EXPECT_GT(at[k] - at[k - 1], c.interval_ms / 2) << universe << " " << k;
        }
    }
}
