#pragma once
// Reading the command line as every program does: getopt under the POSIX
// rules, the two long options all six answer, the options that mean the same
// in several programs (protocol, port, target, interface, priority, node),
// and the checks of the values that several programs take (universe, port,
// channel, keep-alive), with the list that a repeated -u builds.

#include "artdmx.hpp"
#include "e131.hpp"
#include "udp.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include <netinet/in.h>

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

// Answers -h with `usage` (given the name the program was invoked as) on
// standard error, help_option with it on standard output, or version_option
// with print_version; returns the exit status, 0.
int answer_help_option(int option, const char* program, const char* invoked_as, void (*usage)(const char*, std::FILE*));

// The options that mean the same wherever they are taken: which protocol,
// the port, where a sender sends, the interface multicast uses, a sender's
// sACN priority, and whether a receiver answers ArtPoll.
struct network_options {
    bool sacn = false;       // -E
    int port = default_port; // -p; sACN's port under -E unless given
    bool port_given = false;
    const char* target = default_target; // -t, as typed
    bool target_given = false;
    bool target_bounded = false;          // -t of 16 characters or more is refused at once
    int priority = default_e131_priority; // -P
    bool priority_given = false;
    const char* interface_text = nullptr; // -I, as typed
    in_addr interface {
    };                         // -I; INADDR_ANY: the system chooses
    bool answer_polls = false; // -N
};

// Whether -E is among the options, read ahead quietly: the universe and
// keep-alive options are checked against the protocol as they come, and -E
// may follow them.
bool asks_for_sacn(int argc, char* argv[], const char* letters);

// Reads -p, -t, -E, -P, -I or -N, whichever `option` is, into `options`;
// false after its refusal, a fixed message. A program hands over only the
// letters that mean these options to it.
// -p: check_port. -t keeps the text for the endpoint to convert; with
// target_bounded a text too long for any dotted address (16 characters or
// more) is refused at once with "Invalid target IP address". -P: 0..200, or
// "Error: Priority must be between 0 and 200". -I: a dotted IPv4 address of
// this host's interface. -E is read ahead (asks_for_sacn), -N needs nothing.
bool read_network_option(int option, const char* text, network_options& options);

// After the last option: -P and -I need -E, -N is Art-Net's alone, and -E
// brings sACN's port unless -p was given. False after the refusal's message.
bool finish_network_options(network_options& options);

// -k of the senders, the keep-alive interval: 100 to 10000 ms, and under
// -E, where receivers drop a source after 2.5 s, 100 to 1000 ms.
constexpr int shortest_keep_alive_ms = 100;
constexpr int longest_keep_alive_ms = 10000;
constexpr int longest_sacn_keep_alive_ms = 1000;

// The common option checks: each prints its fixed message on failure.
// A universe is a plain number, 0..32767 as atoi reads it ("12x" is 12,
// "abc" is 0), or three numbers joined by '.' or ':', net (0..127), subnet
// (0..15) and universe (0..15), meaning net * 256 + subnet * 16 + universe:
// "1.2.12" is 300. Either way it is the 15-bit Port-Address. Under sACN it
// is a plain number, 1..63999, read the same way.
bool check_universe(const char* text, std::uint16_t& universe, bool sacn = false);
bool check_port(const char* text, int& port);
// Stores the channel as typed (1..512).
bool check_channel(const char* text, std::uint16_t& channel);
// "Error: Keep-alive must be between 100 and 10000 ms" (1000 under sACN) on
// failure.
bool check_keep_alive(const char* text, int& ms, bool sacn = false);

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
