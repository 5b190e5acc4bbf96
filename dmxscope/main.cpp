// dmxscope: a full-screen terminal monitor of the Art-Net DMX levels that
// arrive, as numbers or bar graphs, with a CSV export to the clipboard.

#include "artdmx.hpp"
#include "clipboard.hpp"
#include "node.hpp"
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
    bool answer_polls = false; // -N
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
        "Discovery:\n"
        "  -N             Answer ArtPoll as an Art-Net node, so controllers that send only to\n"
        "                 discovered nodes send here\n"
        "\n"
        "%s",
        program, highest_universe, protocol_notice);
}

// -1 to go on, otherwise the exit status. The last of repeated or
// conflicting options wins.
int read_options(int argc, char* argv[], monitor_settings& settings, monitor_state& state)
{
    int option;
    while ((option = next_option(argc, argv, POSIX_OPTIONS("u:p:ahnN"))) != -1) {
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
        case 'N':
            settings.answer_polls = true;
            break;
        case 'h':
            usage(argv[0]);
            return 0;
        case help_option:
        case version_option:
            return answer_long_option(option, "dmxscope", argv[0], usage);
        default:
            usage(argv[0]);
            return 1;
        }
    }
    return -1;
}

void print_report(const monitor_settings& settings, const artnet_node& node)
{
    std::printf("Listening for Art-Net on port %d", settings.port);
    if (settings.all_universes)
        std::printf(" (all universes)\n");
    else
        std::printf(" (universe %d only)\n", settings.universe_filter);
    if (node.enabled)
        print_node_line(stdout, node);
    std::printf("Press 'b' to toggle display mode | Ctrl+C to exit\n\n");
    std::fflush(stdout);
}

// Set by the handlers of the signals that ask the loop to look at the
// terminal; each handler also wakes the loop's wait.
volatile std::sig_atomic_t suspend_requested = 0;
volatile std::sig_atomic_t continued = 0;
volatile std::sig_atomic_t resized = 0;

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

void on_resize(int)
{
    resized = 1;
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
    install_handler(SIGWINCH, on_resize, true);
    install_handler(SIGCHLD, on_child, true);
}

// No screen is drawn sooner than this after the one before: about 60 a
// second, as fast as anyone can read, while every datagram is still taken.
constexpr std::int64_t screen_interval_ns = 16'000'000;
// Datagrams taken in one go before the keys and the screen get their turn.
constexpr int datagrams_per_pass = 1024;

// The loop's state beside what the screens show.
struct monitor_loop {
    monitor_loop(const monitor_settings& s, monitor_state& m, raw_terminal& t) : settings(s), state(m), terminal(t) { }

    const monitor_settings& settings;
    monitor_state& state;
    raw_terminal& terminal;
    terminal_size size = read_terminal_size();
    std::size_t screen_count = 0; // channels on the screen now
    std::size_t first_row = 0;    // of the window, when the rows do not fit
    bool keyboard_open = true;
    key_reader keys;
    bool changed = false;         // accepted packets not drawn yet
    std::int64_t last_screen = 0; // when the last screen was drawn
    clipboard_export export_job;
    artnet_node node;
};

screen_layout current_layout(const monitor_loop& loop)
{
    return choose_layout(loop.state.display_mode, loop.screen_count, loop.size);
}

void redraw(monitor_loop& loop)
{
    if (!loop.state.data_received)
        return;
    const screen_layout layout = current_layout(loop);
    loop.first_row = scroll_rows(layout, loop.first_row, 0);
    display_screen(stdout, loop.state, loop.state.current_universe, loop.state.dmx_data, loop.screen_count, layout,
        loop.first_row);
    loop.changed = false;
    loop.last_screen = monotonic_ns();
}

// Moves the window of a screen whose rows do not fit; keys that would move
// it are ignored otherwise.
void scroll(monitor_loop& loop, key_kind kind)
{
    const screen_layout layout = current_layout(loop);
    if (!layout.scrolls())
        return;
    const auto page = static_cast<long>(layout.visible_rows);
    const auto all = static_cast<long>(layout.total_rows);
    long delta = 0;
    switch (kind) {
    case key_kind::up:
        delta = -1;
        break;
    case key_kind::down:
        delta = 1;
        break;
    case key_kind::page_up:
        delta = -page;
        break;
    case key_kind::page_down:
        delta = page;
        break;
    case key_kind::home:
        delta = -all;
        break;
    default:
        delta = all;
        break;
    }
    const std::size_t first_row = scroll_rows(layout, loop.first_row, delta);
    if (first_row != loop.first_row) {
        loop.first_row = first_row;
        redraw(loop);
    }
}

// Acts on one key; false when it asks the monitor to stop. Where the
// terminal's size is known, 'q' quits and j/k scroll as in other terminal
// monitors; on a screen of unknown size those keys mean nothing.
bool handle_key(key_press press, monitor_loop& loop)
{
    if (press.kind == key_kind::none)
        return true;
    const bool sized = loop.size.known();
    if (press.kind != key_kind::byte) {
        scroll(loop, press.kind);
        return true;
    }
    monitor_state& state = loop.state;
    switch (press.byte) {
    case 'b':
    case 'B': {
        // The first channel on the screen stays the first in the other mode.
        const std::size_t first_channel = loop.first_row * current_layout(loop).per_row;
        state.display_mode = state.display_mode == screen_mode::numbers ? screen_mode::bar_graph : screen_mode::numbers;
        // Before the first packet there is nothing to draw: the first one
        // appears in the mode chosen here.
        loop.screen_count = channels_per_universe;
        loop.first_row = first_channel / current_layout(loop).per_row;
        redraw(loop);
        return true;
    }
    case 'c':
    case 'C':
        // One export at a time; a key pressed while one runs starts none.
        if (!state.data_received)
            std::fprintf(stderr, "No data received yet\n");
        else if (loop.export_job.pid < 0)
            copy_to_clipboard_csv(loop.export_job, state.current_universe, state.dmx_data, channels_per_universe);
        return true;
    case 'q':
    case 'Q':
        return !sized;
    case 'j':
    case 'k':
        if (sized)
            scroll(loop, press.byte == 'j' ? key_kind::down : key_kind::up);
        return true;
    case ctrl_c_key: // reaches the program as a byte when it is not a signal
        return false;
    default:
        return true;
    }
}

// Every key waiting on standard input; false when one asks to stop.
bool read_keys(monitor_loop& loop)
{
    for (;;) {
        const int key = check_keyboard();
        if (key == -1)
            return true;
        // Once standard input has ended, nothing is read from it and the
        // wait no longer watches it (it would be readable for ever).
        if (key == end_of_input) {
            loop.keyboard_open = false;
            return true;
        }
        if (!handle_key(loop.keys.feed(static_cast<unsigned char>(key)), loop))
            return false;
    }
}

// A packet the filter passes overwrites the start of dmx_data and is drawn
// with the next screen; any other leaves no trace.
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
    loop.changed = true;
}

// Takes every datagram that is waiting (up to a pass's share). False after a
// failed receive.
bool take_datagrams(monitor_loop& loop, int sock)
{
    std::array<std::uint8_t, receive_buffer_size> buffer{};
    std::array<std::uint8_t, channels_per_universe> data{};
    for (int taken = 0; taken < datagrams_per_pass; ++taken) {
        std::size_t length = 0;
        sockaddr_in source{};
        const receive_status received = receive_waiting(sock, buffer, length, &source);
        if (received == receive_status::failed)
            return false;
        if (received != receive_status::datagram)
            return true;
        const auto datagram = std::span(buffer).first(length);
        std::uint16_t universe = 0;
        std::size_t data_length = 0;
        if (!parse_artdmx(datagram, universe, data, data_length)) {
            take_poll(loop.node, datagram, source, monotonic_ns());
            continue;
        }
        note_frame(loop.node, universe, monotonic_ns());
        accept_packet(loop, universe, std::span(data).first(data_length));
    }
    return true;
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

// What the terminal asked for by signal: to be given back, to be taken again,
// or a redraw at its new size.
void answer_terminal_signals(monitor_loop& loop)
{
    if (suspend_requested != 0)
        suspend(loop);
    if (continued != 0) {
        continued = 0;
        loop.terminal.reapply();
        redraw(loop);
    }
    if (resized != 0) {
        resized = 0;
        const terminal_size size = read_terminal_size();
        if (size != loop.size) {
            // The first channel on the screen stays the first at the new size.
            const std::size_t first_channel = loop.first_row * current_layout(loop).per_row;
            loop.size = size;
            loop.first_row = first_channel / current_layout(loop).per_row;
            redraw(loop);
        }
    }
}

// Milliseconds to wait: until the next screen is due when packets wait to be
// drawn, until the export's deadline or the next poll's replies, or for ever.
int wait_ms(const monitor_loop& loop, std::int64_t now)
{
    int wait = export_wait_ms(loop.export_job, now);
    const int node_wait = node_wait_ms(loop.node, now);
    if (node_wait != no_timeout)
        wait = wait == no_timeout ? node_wait : std::min(wait, node_wait);
    if (loop.changed) {
        const std::int64_t due = loop.last_screen + screen_interval_ns - now;
        const int until_due = due <= 0 ? 0 : static_cast<int>((due + 999'999) / 1'000'000);
        wait = wait == no_timeout ? until_due : std::min(wait, until_due);
    }
    return wait;
}

void run_monitor(monitor_loop& loop, int sock)
{
    while (running) {
        answer_terminal_signals(loop);
        if (loop.keyboard_open && !read_keys(loop)) {
            running = 0;
            break;
        }
        if (!take_datagrams(loop, sock))
            break;
        clipboard_export& job = loop.export_job;
        if (job.pid >= 0) {
            const export_state state = continue_export(job, monotonic_ns());
            if (state != export_state::under_way)
                report_export(job, state);
        }
        send_due_replies(loop.node, sock, monotonic_ns());
        const std::int64_t now = monotonic_ns();
        if (loop.changed && now - loop.last_screen >= screen_interval_ns)
            redraw(loop);

        // Until a datagram, a key, room in the export's pipe, the end of the
        // export's command, its deadline or the next screen, or a signal.
        std::array<pollfd, 3> watched = {{
            {sock, POLLIN, 0},
            {loop.keyboard_open ? STDIN_FILENO : -1, POLLIN, 0},
            {job.to_command ? job.to_command.get() : -1, POLLOUT, 0},
        }};
        wait_for_events(watched, wait_ms(loop, monotonic_ns()));
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
    monitor_loop loop(settings, state, terminal);
    if (settings.answer_polls)
        start_node(loop.node, "dmxscope", settings.universe_filter, settings.all_universes);
    print_report(settings, loop.node);
    // Datagrams meanwhile wait in the socket's queue; a stop request cuts
    // the pause short.
    const std::int64_t pause_end = monotonic_ns() + 1'000'000'000;
    while (running && !sleep_until(pause_end)) {
    }
    set_nonblocking(sock.get());
    run_monitor(loop, sock.get());

    terminal.restore_terminal();
    clear_screen(stdout);
    std::printf("Art-Net monitor stopped.\n");
    std::fflush(stdout);
    return 0;
}
