#pragma once
// linecast's deciding parts: how a line of text becomes levels, and the usage
// text.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

// Reads the zero-terminated `line` into `values`, whose size is the capacity:
// decimal numbers (clamped to 0..255) and every other byte as its own code,
// separated by commas and white space. Bytes that no longer fit are counted
// and reported in one buffer-full warning; with `verbose` each value gets a
// line too. Both go to `messages`. `out_count` always holds the number of
// values stored; the result is 0 when there is at least one, else -1.
int parse_values(
    const char* line, std::span<std::uint8_t> values, std::size_t& out_count, bool verbose, std::FILE* messages);

// The usage text on `out`; the caller chooses the exit status.
void usage(const char* program, std::FILE* out = stderr);
