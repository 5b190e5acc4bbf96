#include "options.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(Options, ChecksAcceptTheirRangesAndPrintTheirMessages)
{
    const char* const refused = "Error: Universe must be 0-32767 or net.subnet.universe (0-127.0-15.0-15)\n";
    const struct {
        char kind;
        const char* text;
        bool ok;
        int value;
        const char* message;
    } cases[] = {
        {'u', "0", true, 0, ""},
        {'u', "255", true, 255, ""},
        {'u', "abc", true, 0, ""},
        {'u', "12x", true, 12, ""},
        {'u', "256", true, 256, ""},
        {'u', "32767", true, 32767, ""},
        {'u', "32768", false, 0, refused},
        {'u', "-1", false, 0, refused},
        {'u', "4294967297", false, 0, refused},
        {'p', "1", true, 1, ""},
        {'p', "65535", true, 65535, ""},
        {'p', "6454x", true, 6454, ""},
        {'p', "0", false, 0, "Invalid port: 0\n"},
        {'p', "65536", false, 0, "Invalid port: 65536\n"},
        {'p', "abc", false, 0, "Invalid port: abc\n"},
        {'p', "4294973750", false, 0, "Invalid port: 4294973750\n"},
        {'c', "1", true, 1, ""},
        {'c', "512", true, 512, ""},
        {'c', "0", false, 0, "Channel must be between 1 and 512\n"},
        {'c', "513", false, 0, "Channel must be between 1 and 512\n"},
        {'c', "abc", false, 0, "Channel must be between 1 and 512\n"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        bool ok = false;
        int value = -1;
        if (c.kind == 'p') {
            ok = check_port(c.text, value);
        } else {
            std::uint16_t small = 0;
            ok = c.kind == 'u' ? check_universe(c.text, small) : check_channel(c.text, small);
            value = small;
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message) << c.kind << ' ' << c.text;
        EXPECT_EQ(ok, c.ok) << c.kind << ' ' << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.kind << ' ' << c.text;
        }
    }
}

TEST(Options, UniverseListKeepsTheFirstOrderAndLeavesOutThe257th)
{
    universe_list list;
    for (const std::uint16_t u : {5, 5, 2, 5})
        ASSERT_TRUE(add_universe(list, u));
    EXPECT_EQ(std::vector<int>(list.universes.begin(), list.universes.begin() + 2), (std::vector<int>{5, 2}));
    EXPECT_EQ(list.count, 2u);

    universe_list full;
    for (std::uint16_t u = 0; u < 256; ++u)
        ASSERT_TRUE(add_universe(full, u));
    EXPECT_TRUE(add_universe(full, 7)) << "a universe listed already takes no room";
    EXPECT_FALSE(full.too_many);
    EXPECT_FALSE(add_universe(full, 256));
    EXPECT_TRUE(full.too_many);
    EXPECT_EQ(full.count, 256u);
}
