#pragma once
// showrun's deciding parts: the command line, the demo file, the usage text
// and the timing of the rows.

#include "options.hpp"
#include "udp.hpp"

#include <cstdint>
#include <cstdio>

struct player_settings {
    const char* file = nullptr; // -f; required unless -d
    const char* target = default_target;
    int port = default_port;
    std::uint16_t universe = 0;
    bool demo = false;
    const char* demo_file = "demo.csv";
    long passes = 1;       // -l; 0 plays until stopped
    double speed = 1.0;    // -s: every delay is divided by it
    int keep_alive_ms = 0; // -k; 0 re-sends nothing
};

// Reads the options. -1 to go on, otherwise the exit status (-h, a failed
// check, an unknown option or a missing argument).
int read_options(int argc, char* argv[], player_settings& settings);

// What getopt reads.
constexpr const char* option_letters = POSIX_OPTIONS("f:u:p:t:dhl:s:k:");

// The usage text on `out`; the caller chooses the exit status.
void usage(const char* program, std::FILE* out = stderr);

// Writes the demo sequence to `path`, replacing what it held, and reports it.
// False, after the perror line of the failed call, when the file could not be
// opened, written or closed.
bool create_demo_csv(const char* path);

// How far playback may fall behind its timeline before it starts afresh.
constexpr std::int64_t max_lag_ns = 1'000'000'000;

constexpr double slowest_speed = 0.1;
constexpr double fastest_speed = 10.0;

// The playback timeline: where it began, the delays played since as written
// in the file, and the speed they are divided by. The end of every wait is
// the start plus the scaled sum of the delays, so that neither the time
// spent reading, parsing and sending nor rounding adds up over a long show.
struct playback_clock {
    double speed = 1.0;
    std::int64_t start = 0;
    std::uint64_t played_ms = 0;
    std::int64_t end = 0; // of the current wait
};

void start_clock(playback_clock& clock, double speed, std::int64_t now);
// The end of the wait after a row sent at `now` and held for `delay_ms`. A
// row sent more than `max_lag_ns` after its due time (a suspended process, a
// stalled disk) starts a new timeline at `now` rather than the missed rows
// going out in a burst.
std::int64_t hold_until(playback_clock& clock, std::uint16_t delay_ms, std::int64_t now);

// The end of the wait after a row sent at `now` that is due to be held for
// `delay_ms`. Rows keep to one timeline: each wait ends where the previous
// one ended plus the row's delay, so the time spent reading, parsing, sending
// and oversleeping does not add up over a long show. A row sent more than
// `max_lag_ns` after its due time (a suspended process, a stalled disk) starts
// a new timeline at `now` rather than the missed rows going out in a burst.
std::int64_t hold_until(std::int64_t previous_end, std::uint16_t delay_ms, std::int64_t now);
