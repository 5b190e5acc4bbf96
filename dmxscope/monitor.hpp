#pragma once
// dmxscope's loop: it takes the datagrams, the keys and the terminal's
// signals as they come, runs the clipboard export and draws at most one
// screen every 16 ms, until it is asked to stop. Apart from main, which only
// reads the options, opens the endpoint, reports and shuts down.

#include "options.hpp"
#include "receiver.hpp"
#include "render.hpp"
#include "terminal.hpp"
#include "udp.hpp"

#include <cstdint>

struct monitor_settings {
    network_options net; // -p, -N, -E, -I
    std::uint16_t universe_filter = universe_not_given;
    bool all_universes = true; // the filter is then not consulted
};

// Runs until a stop request, a key that asks to stop (running is then
// cleared) or a failed receive.
void run_monitor(
    const monitor_settings& settings, monitor_state& state, raw_terminal& terminal, dmx_receiver& receiver);
