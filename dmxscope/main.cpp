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

// Set by the handlers of the signals that ask the loop to look at the
// terminal; each handler also wakes the loop's wait.
volatile std::sig_atomic_t suspend_requested = 0;
volatile std::sig_atomic_t continued = 0;

void on_suspend(int)
{
    suspend_requested = 1;
    wake_waiter();
}

void on_continue(int)
{
    continued = 1;
    wake_waiter();
}

void on_child(int)
{
    wake_waiter();
}

// Every way a monitor can be stopped ends it through the normal shutdown,
// with the terminal restored: Ctrl+C, SIGTERM, a closed terminal (SIGHUP),
// Ctrl+\ (SIGQUIT), and a screen reader that went away (SIGPIPE, as in
// dmxscope | head). Ctrl+Z gives the terminal back before the monitor stops.
void install_signal_handlers()
{
    install_stop_handlers();
    install_handler(SIGQUIT, signal_handler);
    install_handler(SIGPIPE, signal_handler);
    install_handler(SIGTSTP, on_suspend, true);
    install_handler(SIGCONT, on_continue, true);
    install_handler(SIGCHLD, on_child, true);
}

// The loop's state beside what the screens show.
struct monitor_loop {
    monitor_loop(const monitor_settings& s, monitor_state& m, raw_terminal& t) : settings(s), state(m), terminal(t) { }

    const monitor_settings& settings;
    monitor_state& state;
    raw_terminal& terminal;
    std::size_t screen_count = 0; // channels on the screen now
    bool keyboard_open = true;
    clipboard_export export_job;
};

void redraw(monitor_loop& loop)
{
    if (loop.state.data_received)
        display_dmx(stdout, loop.state, loop.state.current_universe, loop.state.dmx_data, loop.screen_count);
}

// Acts on one key; false when it asks the monitor to stop.
bool handle_key(int key, monitor_loop& loop)
{
    monitor_state& state = loop.state;
    switch (key) {
    case 'b':
    case 'B':
        state.display_mode = state.display_mode == 0 ? 1 : 0;
        // Before the first packet there is nothing to draw: the first one
        // appears in the mode chosen here.
        loop.screen_count = channels_per_universe;
        redraw(loop);
        return true;
    case 'c':
    case 'C':
        // One export at a time; a key pressed while one runs starts none.
        if (!state.data_received)
            std::fprintf(stderr, "No data received yet\n");
        else if (loop.export_job.pid < 0)
            copy_to_clipboard_csv(loop.export_job, state.current_universe, state.dmx_data, channels_per_universe);
        return true;
    case ctrl_c_key: // reaches the program as a byte when it is not a signal
        return false;
    default:
        return true;
    }
}

// A packet the filter passes overwrites the start of dmx_data and is drawn;
// any other leaves no trace.
void accept_packet(monitor_loop& loop, std::uint16_t universe, std::span<const std::uint8_t> data)
{
    const monitor_settings& settings = loop.settings;
    monitor_state& state = loop.state;
    if (!settings.all_universes && universe != settings.universe_filter)
        return;
    std::copy(data.begin(), data.end(), state.dmx_data.begin());
    state.current_universe = universe;
    ++state.packet_count;
    state.data_received = true;
    loop.screen_count = data.size();
    redraw(loop);
}

// Ctrl+Z: the terminal as it was, the process stopped; once continued, the
// monitor takes the terminal again (as it is now) and redraws.
void suspend(monitor_loop& loop)
{
    suspend_requested = 0;
    loop.terminal.restore_terminal();
    std::fflush(stdout);
    install_handler(SIGTSTP, SIG_DFL);
    ::raise(SIGTSTP);
    install_handler(SIGTSTP, on_suspend, true);
    loop.terminal.setup_terminal();
    continued = 0;
    redraw(loop);
}

void run_monitor(monitor_loop& loop, int sock)
{
    std::array<std::uint8_t, receive_buffer_size> buffer{};
    std::array<std::uint8_t, channels_per_universe> data{};
    while (running) {
        if (suspend_requested != 0)
            suspend(loop);
        if (continued != 0) {
            continued = 0;
            loop.terminal.reapply();
            redraw(loop);
        }
        if (loop.keyboard_open) {
            const int key = check_keyboard();
            // Once standard input has ended, nothing is read from it and the
            // wait no longer watches it (it would be readable for ever).
            if (key == end_of_input)
                loop.keyboard_open = false;
            else if (!handle_key(key, loop))
                running = 0;
            if (!running)
                break;
        }
        clipboard_export& job = loop.export_job;
        if (job.pid >= 0) {
            const export_state state = continue_export(job, monotonic_ns());
            if (state != export_state::under_way)
                report_export(job, state);
        }

        // Waits for a datagram, a key, room in the export's pipe, the end of
        // the export's command or its deadline, or a signal.
        std::array<pollfd, 2> watched = {{
            {loop.keyboard_open ? STDIN_FILENO : -1, POLLIN, 0},
            {job.to_command ? job.to_command.get() : -1, POLLOUT, 0},
        }};
        std::size_t length = 0;
        const receive_status received
            = receive_datagram(sock, buffer, length, watched, export_wait_ms(job, monotonic_ns()));
        if (received == receive_status::failed)
            break;
        std::uint16_t universe = 0;
        std::size_t data_length = 0;
        if (received == receive_status::datagram
            && parse_artdmx(std::span(buffer).first(length), universe, data, data_length))
            accept_packet(loop, universe, std::span(data).first(data_length));
    }
    cancel_export(loop.export_job);
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
    const unique_fd sock = open_receiver(settings.port, bind_hints::shown);
    if (!sock)
        return 1;
    print_report(settings);
    // Datagrams meanwhile wait in the socket's queue; a stop request cuts
    // the pause short.
    const std::int64_t pause_end = monotonic_ns() + 1'000'000'000;
    while (running && !sleep_until(pause_end)) {
    }
    set_nonblocking(sock.get());

    monitor_loop loop(settings, state, terminal);
    run_monitor(loop, sock.get());

    terminal.restore_terminal();
    clear_screen(stdout);
    std::printf("Art-Net monitor stopped.\n");
    std::fflush(stdout);
    return 0;
}
