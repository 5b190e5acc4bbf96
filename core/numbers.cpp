#include "numbers.hpp"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

int saturating_atoi(const char* text)
{
    return saturating_atoi(std::string_view(text));
}

int saturating_atoi(std::string_view text)
{
    auto p = text.begin();
    const auto at = [&](auto it) { return it == text.end() ? 0 : static_cast<unsigned char>(*it); };
    while (at(p) != 0 && std::isspace(at(p)))
        ++p;
    const bool negative = at(p) == '-';
    if (at(p) == '-' || at(p) == '+')
        ++p;
    // Accumulate toward the sign so INT_MIN itself is reachable.
    long long value = 0;
    for (; std::isdigit(at(p)); ++p) {
        const int digit = at(p) - '0';
        value = value * 10 + (negative ? -digit : digit);
        if (value > INT_MAX)
            return INT_MAX;
        if (value < INT_MIN)
            return INT_MIN;
    }
    return static_cast<int>(value);
}

bool parse_integer(const char* text, long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && errno == 0 && !std::isspace(static_cast<unsigned char>(*text));
}

bool parse_decimal(const char* text, double& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && errno == 0 && std::isfinite(value)
        && !std::isspace(static_cast<unsigned char>(*text));
}
