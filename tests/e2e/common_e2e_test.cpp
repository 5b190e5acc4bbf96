// What all six programs share at their edges: the long options.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

namespace {

const char* const programs[] = {"cuetrig", "dmxscope", "framelog", "linecast", "rampgen", "showrun"};

} // namespace

TEST(CommonE2E, EveryProgramAnswersHelpAndVersionOnStandardOutput)
{
    for (const std::string program : programs) {
        const run_result version = run({program, "--version"});
        EXPECT_EQ(version.status, 0) << program;
        EXPECT_EQ(version.out, program + " 1.0.0\nLicense: MIT\n");
        EXPECT_EQ(version.err, "") << "no banner either";

        // Where an option may stand: after others, not only first.
        const run_result help = run({program, "-p", "7000", "--help"});
        EXPECT_EQ(help.status, 0) << program;
        EXPECT_EQ(help.out.rfind("Usage: " + program + " ", 0), 0u) << program << help.out;
        EXPECT_NE(help.out.find("Protocol documentation"), std::string::npos) << program;
        EXPECT_EQ(help.err, "") << program;

        // Any other long option is still an unknown option.
        const run_result other = run({program, "--helpme"});
        EXPECT_EQ(other.status, 1) << program;
        EXPECT_EQ(other.out, "") << program;
        EXPECT_NE(other.err.find("Usage:"), std::string::npos) << program;
    }
}

TEST(CommonE2E, LongOptionsAreWordsLikeAnyOtherWhereNoOptionStands)
{
    // An option's argument, and every word after the options, is left alone:
    // framelog records to a file named --help, linecast stops at "x".
    temp_dir folder;
    const run_result named = run({"framelog", "-f", "--help", "-p", "0"}, {}, 10000, folder.path);
    EXPECT_EQ(named.status, 1);
    EXPECT_NE(named.err.find("Invalid port: 0"), std::string::npos);
    const run_result stopped = run({"linecast", "-u", "1", "x", "--version"});
    EXPECT_EQ(stopped.status, 1);
    EXPECT_EQ(stopped.out, "");
    EXPECT_NE(stopped.err.find("Error: Both -u and -c must be specified"), std::string::npos);
    // cuetrig's words after "--" are its command, even "--help".
    process command(
        {"cuetrig", "-u", "1", "-c", "1", "-p", std::to_string(free_udp_port()), "-t", "high", "--", "--version"});
    EXPECT_TRUE(command.wait_for_err("Single command: --version (trigger: high)\n"));
    EXPECT_EQ(command.stop(SIGINT), 0);
    EXPECT_EQ(command.out(), "");
}

TEST(CommonE2E, TheProtocolOptionsAreReadAlikeAndRefusedBeforeAnythingIsSent)
{
    const std::string priority = "Error: Priority must be between 0 and 200\n";
    const std::string sacn_universe = "Error: sACN universe must be between 1 and 63999\n";
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"linecast", "-u", "1", "-c", "1", "-P", "100"}, "Error: -P (sACN priority) needs -E\n"},
        {{"showrun", "-f", "x.csv", "-I", "127.0.0.1"}, "Error: -I (multicast interface) needs -E\n"},
        {{"cuetrig", "-E", "-u", "1", "-c", "1", "-I", "1.2.3", "-t", "high", "true"},
            "Error: Invalid interface address: 1.2.3 (an IPv4 address of this host)\n"},
        {{"rampgen", "-E", "-P", "201", "-u", "1"}, priority},
        {{"showrun", "-E", "-P", "x", "-f", "x.csv"}, priority},
        // -E counts wherever it stands, also after the universe.
        {{"rampgen", "-u", "0", "-E", "-c", "1"}, sacn_universe},
        {{"linecast", "-E", "-u", "64000", "-c", "1"}, sacn_universe},
        {{"dmxscope", "-E", "-u", "0.1.2"}, sacn_universe},
        {{"framelog", "-f", "x.csv", "-u", "1", "-E", "-N"},
            "Error: -N (answer ArtPoll) is Art-Net's and cannot be combined with -E\n"},
        {{"linecast", "-E", "-k", "1001", "-u", "1", "-c", "1"}, "Error: Keep-alive must be between 100 and 1000 ms\n"},
    };
    for (const auto& c : cases) {
        const run_result result = run(c.args, {}, 10000);
        EXPECT_EQ(result.status, 1) << c.args[0] << ' ' << c.message;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
}
