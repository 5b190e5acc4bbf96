#include "numbers.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <string_view>

TEST(Numbers, SaturatingAtoiReadsLikeAtoiButNeverWraps)
{
    const struct {
        const char* text;
        int value;
    } cases[] = {
        {"42", 42},
        {"  \t-17", -17},
        {"+8", 8},
        {"6454x", 6454},
        {"abc", 0},
        {"", 0},
        {"- 5", 0},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"2147483648", INT_MAX},
        {"4294967297", INT_MAX},
        {"-99999999999999999999", INT_MIN},
        {"00012", 12},
    };
    for (const auto& c : cases)
        EXPECT_EQ(saturating_atoi(c.text), c.value) << c.text;
    // The view form stops at the view's end even where the text goes on.
    EXPECT_EQ(saturating_atoi(std::string_view("12345", 3)), 123);
    EXPECT_EQ(saturating_atoi(std::string_view(" \n5", 2)), 0);
}
