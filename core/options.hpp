#pragma once
// Reading the command line as every program does: getopt under the POSIX
// rules, the two long options all six answer, and the checks of the values
// that several programs take (universe, port, channel, keep-alive), with the
// list that a repeated -u builds.

#include "artdmx.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

// A universe setting whose option was not given, or which -a cleared:
// beyond every Port-Address, so that no -u can give it. Where a flag says
// "every universe" instead, the value is never compared.
constexpr std::uint16_t universe_not_given = 0xffff;

// glibc's getopt reorders arguments unless the option string starts with '+';
// elsewhere getopt already stops at the first non-option and a '+' would be
// taken as an option letter.
#if defined(__GLIBC__)
#define POSIX_OPTIONS(letters) "+" letters
#else
#define POSIX_OPTIONS(letters) letters
#endif

// Lets a program (or a test) run getopt again over a new argument list.
void reset_getopt();

// What next_option returns for the two long options that every program
// answers: well outside the range of option letters.
constexpr int help_option = 0x100;
constexpr int version_option = 0x101;

// getopt with `letters`, except that a word "--help" or "--version" standing
// where an option may stand comes back as help_option or version_option.
// Every other word beginning with "--" stays getopt's to take or reject.
int next_option(int argc, char* const argv[], const char* letters);

// Whether the options, read ahead quietly, ask for --help or --version: the
// programs whose banner precedes their options leave it out then, so that
// only the answer is printed.
bool asks_for_help_or_version(int argc, char* argv[], const char* letters);

// Answers help_option with `usage` (given the name the program was invoked
// as) on standard output, or version_option with print_version; returns the
// exit status, 0.
int answer_long_option(int option, const char* program, const char* invoked_as, void (*usage)(const char*, std::FILE*));

// -k of the senders, the keep-alive interval: 100 to 10000 ms.
constexpr int shortest_keep_alive_ms = 100;
constexpr int longest_keep_alive_ms = 10000;

// The common option checks: each prints its fixed message on failure.
// A universe is a plain number, 0..32767 as atoi reads it ("12x" is 12,
// "abc" is 0), or three numbers joined by '.' or ':', net (0..127), subnet
// (0..15) and universe (0..15), meaning net * 256 + subnet * 16 + universe:
// "1.2.12" is 300. Either way it is the 15-bit Port-Address.
bool check_universe(const char* text, std::uint16_t& universe);
bool check_port(const char* text, int& port);
// Stores the channel as typed (1..512).
bool check_channel(const char* text, std::uint16_t& channel);
// "Error: Keep-alive must be between 100 and 10000 ms" on failure.
bool check_keep_alive(const char* text, int& ms);

// The universes of a repeated -u, in the order first given.
constexpr std::size_t most_listed_universes = 256;

struct universe_list {
    std::array<std::uint16_t, most_listed_universes> universes{};
    std::size_t count = 0;
    bool too_many = false; // a universe came that found the list full
};

// Appends a universe not yet listed. A new universe that finds the list full
// is left out and marks it too_many (false); when to refuse is the program's.
bool add_universe(universe_list& list, std::uint16_t universe);
std::span<const std::uint16_t> listed_universes(const universe_list& list);
// "Too many universes specified (max 256)"
void print_too_many_universes();
