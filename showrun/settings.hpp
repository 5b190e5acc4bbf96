#pragma once
// showrun's command line and its usage text.

#include "options.hpp"
#include "udp.hpp"

#include <cstdint>
#include <cstdio>

struct player_settings {
    const char* file = nullptr; // -f; required unless -d
    network_options net;        // -t, -p, -E, -P, -I
    std::uint16_t universe = 0; // of a plain file's rows (1 under -E); with a show file, the one played
    bool universe_given = false;
    bool show_file = false; // -U: the file is a show file, whatever its header says
    bool sync = false;      // -S: an ArtSync after the packets of each frame
    bool demo = false;
    const char* demo_file = "demo.csv";
    long passes = 1;       // -l; 0 plays until stopped
    double speed = 1.0;    // -s: every delay is divided by it
    int keep_alive_ms = 0; // -k; 0 re-sends nothing, except under -E
};

constexpr double slowest_speed = 0.1;
constexpr double fastest_speed = 10.0;

// Reads the options. -1 to go on, otherwise the exit status (-h, a failed
// check, an unknown option or a missing argument).
int read_options(int argc, char* argv[], player_settings& settings);

// What getopt reads.
constexpr const char* option_letters = POSIX_OPTIONS("f:u:p:t:dhl:s:k:USEP:I:");

// The usage text on `out`; the caller chooses the exit status.
void usage(const char* program, std::FILE* out = stderr);
