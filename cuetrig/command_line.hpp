#pragma once
// cuetrig's command line: the options, the up to three commands cut from the
// words after them, the usage text and the start-up report.

#include "artdmx.hpp"
#include "node.hpp"
#include "options.hpp"
#include "udp.hpp"

#include <cstdint>
#include <cstdio>
#include <vector>

// The words of one command followed by a null pointer, as execvp takes them,
// or empty when the command is absent. The words are the process's own
// argument strings; only the array belongs to the vector.
using argument_vector = std::vector<char*>;

struct watch_config {
    std::uint16_t universe = no_universe;                // 256 until -u is given
    std::uint16_t channel_index = channels_per_universe; // 0-based; 512 until -c is given
    int port = default_port;
    bool trigger_high = false;
    bool trigger_low = false;
    bool trigger_nz = false;
    bool value_mode = false;
    bool answer_polls = false; // -N
    argument_vector high_command;
    argument_vector low_command;
    argument_vector single_command;
};

// Reads the whole argument list into `config`. Returns -1 to go on, otherwise
// the exit status, after printing the message and, where due, the usage text.
// It never ends the process itself, and it leaves `argv` as it found it; the
// commands point into it.
int read_command_line(int argc, char* argv[], watch_config& config);

// The usage text on `out`; the caller chooses the exit status.
void usage(const char* program, std::FILE* out = stderr);

// "Monitoring Universe ...", with -N the node's line, one line per command,
// and the maker's address.
void print_report(const watch_config& config, const artnet_node& node);
