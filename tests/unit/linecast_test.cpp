#include "lines.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// What parse_values wrote to its message stream.
std::string read_back(std::FILE* stream)
{
    std::string text;
    std::rewind(stream);
    for (int c; (c = std::fgetc(stream)) != EOF;)
        text.push_back(static_cast<char>(c));
    return text;
}

} // namespace

TEST(Linecast, ParseValuesReadsEveryKindOfLine)
{
    const std::string full1 = "Warning: Buffer full (1/1 channels). Skipped ";
    const struct {
        const char* line;
        std::size_t capacity;
        std::vector<int> values;
        bool verbose;
        std::string messages;
    } cases[] = {
        {"A,100,B", 512, {65, 100, 66}, false, ""},
        {"  12 x 300", 512, {12, 120, 255}, false, ""},
        {"-5", 512, {0}, false, ""},
        {"1,,2", 512, {1, 2}, false, ""},
        {"hello", 512, {104, 101, 108, 108, 111}, false, ""},
        {"1-2", 512, {1, 0}, false, ""},
        {"3.5", 512, {3, 46, 5}, false, ""},
        {"+7", 512, {7}, false, ""},
        {"- 5", 512, {45, 5}, false, ""},
        {"0x1F", 512, {0, 120, 1, 70}, false, ""},
        {"12abc", 512, {12, 97, 98, 99}, false, ""},
        {"99999999999999999999", 512, {255}, false, ""},
        {"-99999999999999999999", 512, {0}, false, ""},
        {" ,, , ,", 512, {}, false, ""},
        {"", 512, {}, false, ""},
        {"\r", 512, {}, false, ""},
        {"10,20\r", 512, {10, 20}, false, ""},
        {"\t\v\f\n 7", 512, {7}, false, ""},
        {"\xa0"
         "5\xff",
            512, {160, 5, 255}, false, ""}, // bytes above 127 are never white space
        {"1,2,3,4", 3, {1, 2, 3}, false, "Warning: Buffer full (3/3 channels). Skipped 1 characters from input.\n"},
        {"1 2 300", 1, {1}, false, full1 + "4 characters from input.\n"},
        {"x,, -300 ,y", 1, {120}, false, full1 + "5 characters from input.\n"},
        {"300", 512, {255}, true, "  [0] Number: 255 -> 255\n"},
        {"-9,A", 512, {0, 65}, true, "  [0] Number: 0 -> 0\n  [1] ASCII: 'A' -> 65\n"},
        {"1 2 3", 2, {1, 2}, true,
            "  [0] Number: 1 -> 1\n  [1] Number: 2 -> 2\n"
            "Warning: Buffer full (2/2 channels). Skipped 1 characters from input.\n"},
    };
    for (const auto& c : cases) {
        // The buffer is larger than the capacity, so a write past it shows.
        std::array<std::uint8_t, 513> buffer{};
        buffer.fill(0xee);
        std::size_t count = 99;
        std::FILE* messages = std::tmpfile();
        ASSERT_NE(messages, nullptr);
        const int result = parse_values(c.line, std::span(buffer).first(c.capacity), count, c.verbose, messages);
        EXPECT_EQ(read_back(messages), c.messages) << c.line;
        std::fclose(messages);
        EXPECT_EQ(result, c.values.empty() ? -1 : 0) << c.line;
        ASSERT_EQ(count, c.values.size()) << c.line;
        EXPECT_EQ(std::vector<int>(buffer.begin(), buffer.begin() + count), c.values) << c.line;
        EXPECT_EQ(buffer[c.capacity], 0xee) << c.line;
    }
}
