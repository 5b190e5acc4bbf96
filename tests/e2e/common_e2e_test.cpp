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
