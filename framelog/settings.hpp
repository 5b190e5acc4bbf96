#pragma once
// framelog's command line: the settings, how the options set them, and the
// usage text.

#include "options.hpp"
#include "udp.hpp"

#include <cstdint>
#include <cstdio>
#include <span>

struct recorder_settings {
    const char* path = nullptr; // required
    network_options net;        // -p, -N, -E, -I
    bool record_all = true;
    std::uint16_t universe = universe_not_given; // the last -u; compared only when record_all is false
    std::uint16_t min_delay = 0;
    bool min_delay_given = false;
    bool show_file = false; // -U: every universe apart, on one timeline
    // Every -u since the last -a, in the order first given: the universes -U
    // records (the last one alone counts without -U).
    universe_list listed;
};

// The universes recorded when not all: the list with -U, the last -u alone
// without.
std::span<const std::uint16_t> recorded_universes(const recorder_settings& settings);

// -1 to go on, otherwise the exit status (0 after -h, 1 after an error).
int read_options(int argc, char* argv[], recorder_settings& settings);
// What getopt reads.
constexpr const char* option_letters = POSIX_OPTIONS("f:u:p:m:ahNUEI:");

// The usage text on `out`; the caller chooses the exit status.
void usage(const char* program, std::FILE* out = stderr);
