// dmxscope: a full-screen terminal monitor of the Art-Net DMX levels that
// arrive, as numbers or bar graphs, with a CSV export to the clipboard.

#include "clock.hpp"
#include "descriptors.hpp"
#include "monitor.hpp"
#include "notices.hpp"
#include "receiver.hpp"
#include "render.hpp"
#include "signals.hpp"
#include "terminal.hpp"
#include "terminal_signals.hpp"

#include <cstdint>
#include <cstdio>
#include <span>

namespace {

void usage(const char* program, std::FILE* out = stderr)
{
    std::fprintf(out,
        "Usage: %s [-u universe] [-p port] [-a] [-n]\n"
        "  -u universe    Monitor specific universe (0-%d, default: all)\n"
        "  -p port        UDP port to listen on (default: 6454)\n"
        "  -a             Show all universes (default: all)\n"
        "  -n             Disable color output\n"
        "\n"
        "Controls:\n"
        "  Press 'b' to toggle between numbers and bar graph display\n"
        "  Press 'c' to copy current data to clipboard (CSV format)\n"
        "  Press 's' to show who is sending (and 's', 'b' or 'n' to return)\n"
        "  Press Ctrl+C to exit\n"
        "\n"
        "Discovery:\n"
        "  -N             Answer ArtPoll as an Art-Net node, so controllers that send only to\n"
        "                 discovered nodes send here\n"
        "\n"
        "Universes above 255: -u 256-32767 or net.subnet.universe (0-127.0-15.0-15)\n"
        "\n"
        "sACN:\n"
        "  -E             Receive sACN (E1.31) instead of Art-Net: port 5568, universes 1-63999\n"
        "  -I address     Local IPv4 address of the interface that sACN multicast is joined on\n"
        "\n"
        "%s",
        program, highest_port_address, protocol_notice);
}

// -1 to go on, otherwise the exit status. The last of repeated or
// conflicting options wins.
int read_options(int argc, char* argv[], monitor_settings& settings, monitor_state& state)
{
    constexpr const char* letters = POSIX_OPTIONS("u:p:ahnNEI:");
    settings.net.sacn = asks_for_sacn(argc, argv, letters);
    int option;
    while ((option = next_option(argc, argv, letters)) != -1) {
        switch (option) {
        case 'u':
            if (!check_universe(optarg, settings.universe_filter, settings.net.sacn))
                return 1;
            settings.all_universes = false;
            break;
        case 'p':
        case 'E':
        case 'I':
        case 'N':
            if (!read_network_option(option, optarg, settings.net))
                return 1;
            break;
        case 'a':
            settings.all_universes = true;
            settings.universe_filter = universe_not_given;
            break;
        case 'n':
            state.use_color = false;
            break;
        case 'h':
        case help_option:
        case version_option:
            return answer_help_option(option, "dmxscope", argv[0], usage);
        default:
            usage(argv[0]);
            return 1;
        }
    }
    return finish_network_options(settings.net) ? -1 : 1;
}

void print_report(const monitor_settings& settings, const dmx_receiver& receiver)
{
    const artnet_node& node = receiver.node;
    std::printf("Listening for %s on port %d", settings.net.sacn ? "sACN" : "Art-Net", settings.net.port);
    if (settings.all_universes)
        std::printf(" (all universes)\n");
    else
        std::printf(" (universe %d only)\n", settings.universe_filter);
    if (settings.net.sacn)
        print_sacn_line(stdout, receiver, settings.net);
    if (node.enabled) {
        print_node_line(stdout, node);
        print_unannounced_line(stderr, node);
    }
    std::printf("Press 'b' to toggle display mode | Ctrl+C to exit\n\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    ensure_standard_descriptors();
    monitor_settings settings;
    monitor_state state;
    if (const int status = read_options(argc, argv, settings, state); status >= 0)
        return status;
    state.dmx_data.fill(0);
    if (state.use_color)
        state.use_color = check_color_support();
    install_signal_handlers();
    raw_terminal terminal;
    dmx_receiver receiver;
    if (const receiver_opening opened = settings.net.sacn ? open_sacn_receiver(receiver, settings.net,
                                            std::span(&settings.universe_filter, 1), settings.all_universes)
                                                          : open_artnet_receiver(receiver, settings.net.port);
        opened != receiver_opening::opened) {
        if (opened == receiver_opening::bind_failed)
            print_bind_hints(settings.net.port);
        return 1;
    }
    track_sources(receiver, std::span(&settings.universe_filter, 1), settings.all_universes);
    if (settings.net.answer_polls)
        answer_polls(receiver, "dmxscope", settings.universe_filter, settings.all_universes);
    print_report(settings, receiver);
    state.sacn.shown = settings.net.sacn;
    // Datagrams meanwhile wait in the socket's queue; a stop request cuts
    // the pause short.
    const std::int64_t pause_end = monotonic_ns() + 1'000'000'000;
    while (running && !sleep_until(pause_end)) {
    }
    run_monitor(settings, state, terminal, receiver);

    terminal.restore_terminal();
    clear_screen(stdout);
    std::printf("%s monitor stopped.\n", settings.net.sacn ? "sACN" : "Art-Net");
    std::fflush(stdout);
    return 0;
}
