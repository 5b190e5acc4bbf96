#pragma once
// Reading numbers typed by people: on command lines and in CSV fields. Apart
// from the options' checks because the CSV readers need the numbers and
// nothing else.

#include <string_view>

// atoi for ordinary text (leading white space, a sign, digits up to the first
// other character, no digits gives 0), but numbers beyond int saturate to
// INT_MIN or INT_MAX so that they fail range checks instead of wrapping.
// The string_view form reads no further than the view.
int saturating_atoi(const char* text);
int saturating_atoi(std::string_view text);

// Strict readings for newer options, where a typing error must not pass for
// a number: the whole text as a decimal integer (an optional sign, digits,
// nothing else, within long), or as a decimal number (not infinite or NaN).
bool parse_integer(const char* text, long& value);
bool parse_decimal(const char* text, double& value);
