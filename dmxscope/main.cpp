// dmxscope: a full-screen terminal monitor of the Art-Net DMX levels that
// arrive, as numbers or bar graphs, with a CSV export to the clipboard.

#include "artdmx.hpp"
#include "clipboard.hpp"
#include "render.hpp"
#include "runtime.hpp"
#include "terminal.hpp"

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

namespace {

struct monitor_settings {
    int port = default_port;
    std::uint16_t universe_filter = no_universe;
    bool all_universes = true; // the filter is then not consulted
};

constexpr int ctrl_c_key = 3;

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
        "  Press Ctrl+C to exit\n"
        "\n"
        "%s",
        program, highest_universe, protocol_notice);
}

// -1 to go on, otherwise the exit status. The last of repeated or
// conflicting options wins.
int read_options(int argc, char* argv[], monitor_settings& settings, monitor_state& state)
{
    int option;
    while ((option = next_option(argc, argv, POSIX_OPTIONS("u:p:ahn"))) != -1) {
        switch (option) {
        case 'u':
            if (!check_universe(optarg, settings.universe_filter))
                return 1;
            settings.all_universes = false;
            break;
        case 'p':
            if (!check_port(optarg, settings.port))
                return 1;
            break;
        case 'a':
            settings.all_universes = true;
            settings.universe_filter = no_universe;
            break;
        case 'n':
            state.use_color = false;
            break;
        case 'h':
            usage(argv[0]);
            return 0;
        case help_option:
            usage(argv[0], stdout);
            return 0;
        case version_option:
            print_version("dmxscope");
            return 0;
        default:
            usage(argv[0]);
            return 1;
        }
    }
    return -1;
}

void print_report(const monitor_settings& settings)
{
    std::printf("Listening for Art-Net on port %d", settings.port);
    if (settings.all_universes)
        std::printf(" (all universes)\n");
    else
        std::printf(" (universe %d only)\n", settings.universe_filter);
    std::printf("Press 'b' to toggle display mode | Ctrl+C to exit\n\n");
    std::fflush(stdout);
}

// Acts on one key; false when it asks the monitor to stop.
bool handle_key(int key, monitor_state& state)
{
    switch (key) {
    case 'b':
    case 'B':
        state.display_mode = state.display_mode == 0 ? 1 : 0;
        // Before the first packet there is nothing to draw: the first one
        // appears in the mode chosen here.
        if (state.data_received)
            display_dmx(stdout, state, state.current_universe, state.dmx_data, channels_per_universe);
        return true;
    case 'c':
    case 'C':
        if (state.data_received)
            copy_to_clipboard_csv(state.current_universe, state.dmx_data, channels_per_universe);
        else
            std::fprintf(stderr, "No data received yet\n");
        return true;
    case ctrl_c_key: // reaches the program as a byte when it is not a signal
        return false;
    default:
        return true;
    }
}

// A packet the filter passes overwrites the start of dmx_data and is drawn;
// any other leaves no trace.
void accept_packet(
    const monitor_settings& settings, monitor_state& state, std::uint16_t universe, std::span<const std::uint8_t> data)
{
    if (!settings.all_universes && universe != settings.universe_filter)
        return;
    std::copy(data.begin(), data.end(), state.dmx_data.begin());
    state.current_universe = universe;
    ++state.packet_count;
    state.data_received = true;
    display_dmx(stdout, state, universe, state.dmx_data, data.size());
}

} // namespace

int main(int argc, char* argv[])
{
    monitor_settings settings;
    monitor_state state;
    if (const int status = read_options(argc, argv, settings, state); status >= 0)
        return status;
    state.dmx_data.fill(0);
    if (state.use_color)
        state.use_color = check_color_support();
    install_stop_handlers();
    // A screen written to a pipe whose reader has gone (dmxscope | head)
    // must stop the monitor like Ctrl+C, not kill it with the terminal raw.
    std::signal(SIGPIPE, signal_handler);
    raw_terminal terminal;
    const unique_fd sock = open_receiver(settings.port, bind_hints::shown);
    if (!sock)
        return 1;
    print_report(settings);
    ::sleep(1); // datagrams meanwhile wait in the socket's queue
    set_nonblocking(sock.get());

    std::array<std::uint8_t, receive_buffer_size> buffer{};
    std::array<std::uint8_t, channels_per_universe> data{};
    // Once standard input has ended, nothing is read from it and the idle
    // wait no longer watches it (it would be readable for ever).
    bool keyboard_open = true;
    while (running) {
        if (keyboard_open) {
            const int key = check_keyboard();
            if (key == end_of_input)
                keyboard_open = false;
            else if (!handle_key(key, state))
                running = 0;
            if (!running)
                break;
        }
        std::size_t length = 0;
        const receive_status received = receive_datagram(sock.get(), buffer, length, keyboard_open ? STDIN_FILENO : -1);
        if (received == receive_status::failed)
            break;
        std::uint16_t universe = 0;
        std::size_t data_length = 0;
        if (received == receive_status::datagram
            && parse_artdmx(std::span(buffer).first(length), universe, data, data_length))
            accept_packet(settings, state, universe, std::span(data).first(data_length));
    }

    terminal.restore_terminal();
    clear_screen(stdout);
    std::printf("Art-Net monitor stopped.\n");
    std::fflush(stdout);
    return 0;
}
