#pragma once
// dmxscope's loop: it takes the datagrams, the keys and the terminal's
// signals as they come, runs the clipboard export and draws at most one
// screen every 16 ms, until it is asked to stop. Apart from main, which only
// reads the options, opens the endpoint, reports and shuts down.

#include "artdmx.hpp"
#include "node.hpp"
#include "render.hpp"
#include "runtime.hpp"
#include "terminal.hpp"

#include <cstdint>

struct monitor_settings {
    int port = default_port;
    std::uint16_t universe_filter = no_universe;
    bool all_universes = true; // the filter is then not consulted
    bool answer_polls = false; // -N
};

// Runs until a stop request, a key that asks to stop (running is then
// cleared) or a failed receive. `sock` is the non-blocking receiver, on which
// the node answers polls when it was started.
void run_monitor(
    const monitor_settings& settings, monitor_state& state, raw_terminal& terminal, int sock, artnet_node& node);
