#pragma once
// cuetrig's command line: the options, the up to three commands cut from the
// words after them, the usage text and the start-up report.

#include "options.hpp"
#include "receiver.hpp"
#include "udp.hpp"
#include "watch.hpp"

#include <cstdio>

// Everything the command line sets: the watch, and where and how to listen.
struct cuetrig_settings {
    watch_config watch;
    network_options net; // -p, -N, -E, -I
};

// Reads the whole argument list into `settings`. Returns -1 to go on,
// otherwise the exit status, after printing the message and, where due, the
// usage text. It never ends the process itself, and it leaves `argv` as it
// found it; the commands point into it.
int read_command_line(int argc, char* argv[], cuetrig_settings& settings);

// The usage text on `out`; the caller chooses the exit status.
void usage(const char* program, std::FILE* out = stderr);

// "Monitoring Universe ...", with -N the node's line (with -E the sACN
// line), one line per command, and the maker's address.
void print_report(const cuetrig_settings& settings, const dmx_receiver& receiver);
