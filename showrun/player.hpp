#pragma once
// showrun's deciding parts: the command line, the demo file, the usage text
// and the timing of the rows.

#include "runtime.hpp"

#include <cstdint>
#include <cstdio>

struct player_settings {
    const char* file = nullptr; // -f; required unless -d
    const char* target = default_target;
    int port = default_port;
    std::uint16_t universe = 0;
    bool demo = false;
    const char* demo_file = "demo.csv";
};

// Reads the options. -1 to go on, otherwise the exit status (-h, a failed
// check, an unknown option or a missing argument).
int read_options(int argc, char* argv[], player_settings& settings);

// What getopt reads.
constexpr const char* option_letters = POSIX_OPTIONS("f:u:p:t:dh");

// The usage text on `out`; the caller chooses the exit status.
void usage(const char* program, std::FILE* out = stderr);

// Writes the demo sequence to `path`, replacing what it held, and reports it.
// False, after the perror line of the failed call, when the file could not be
// opened, written or closed.
bool create_demo_csv(const char* path);

// How far playback may fall behind its timeline before it starts afresh.
constexpr std::int64_t max_lag_ns = 1'000'000'000;

// The end of the wait after a row sent at `now` that is due to be held for
// `delay_ms`. Rows keep to one timeline: each wait ends where the previous
// one ended plus the row's delay, so the time spent reading, parsing, sending
// and oversleeping does not add up over a long show. A row sent more than
// `max_lag_ns` after its due time (a suspended process, a stalled disk) starts
// a new timeline at `now` rather than the missed rows going out in a burst.
std::int64_t hold_until(std::int64_t previous_end, std::uint16_t delay_ms, std::int64_t now);
