#include "monitor.hpp"

#include "clipboard.hpp"
#include "clock.hpp"
#include "signals.hpp"
#include "terminal_signals.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <span>

#include <unistd.h>

namespace {

constexpr int ctrl_c_key = 3;

// No screen is drawn sooner than this after the one before: about 60 a
// second, as fast as anyone can read, while every datagram is still taken.
constexpr std::int64_t screen_interval_ns = 16'000'000;
// The sources screen changes with every packet of every source: drawn at
// most ten times a second, and once a second when nothing came, so that the
// times since the last packets go on.
constexpr std::int64_t sources_interval_ns = 100'000'000;
constexpr std::int64_t sources_refresh_ns = 1'000'000'000;
// Datagrams taken in one go before the keys and the screen get their turn.
constexpr int datagrams_per_pass = 1024;

// The loop's state beside what the screens show.
struct monitor_loop {
    monitor_loop(const monitor_settings& s, monitor_state& m, raw_terminal& t, dmx_receiver& r)
        : settings(s), state(m), terminal(t), receiver(r)
    {
    }

    const monitor_settings& settings;
    monitor_state& state;
    raw_terminal& terminal;
    dmx_receiver& receiver;
    terminal_size size = read_terminal_size();
    std::size_t screen_count = 0;                                // channels on the screen now
    std::size_t first_row = 0;                                   // of the window, when the rows do not fit
    std::size_t sources_first_row = 0;                           // the same on the sources screen
    std::array<const source_row*, most_listed_sources> listed{}; // the sources screen's rows
    std::size_t listed_count = 0;
    bool keyboard_open = true;
    key_reader keys;
    bool changed = false;         // accepted packets not drawn yet
    std::int64_t last_screen = 0; // when the last screen was drawn
    clipboard_export export_job;
};

// The rows of the sources screen now, in order.
void list_rows(monitor_loop& loop, std::int64_t now)
{
    loop.listed_count = list_sources(
        loop.receiver.sources, now, loop.settings.all_universes, loop.settings.universe_filter, loop.listed);
}

screen_layout levels_layout(const monitor_loop& loop)
{
    return choose_layout(loop.state.display_mode, loop.screen_count, loop.size);
}

screen_layout current_layout(const monitor_loop& loop)
{
    return loop.state.sources_screen ? choose_sources_layout(loop.listed_count, loop.size) : levels_layout(loop);
}

// The window's first row on the screen shown.
std::size_t& first_row(monitor_loop& loop)
{
    return loop.state.sources_screen ? loop.sources_first_row : loop.first_row;
}

void draw_sources(monitor_loop& loop, std::int64_t now)
{
    const source_table& table = loop.receiver.sources;
    sources_view view;
    view.rows = std::span(loop.listed).first(loop.listed_count);
    view.table = &table;
    view.now = now;
    view.all = loop.settings.all_universes;
    view.universe = loop.settings.universe_filter;
    view.beyond = sources_beyond(table);
    view.beyond_more = table.beyond.full();
    const screen_layout layout = current_layout(loop);
    loop.sources_first_row = scroll_rows(layout, loop.sources_first_row, 0);
    display_sources(stdout, loop.state, view, layout, loop.sources_first_row);
}

void redraw(monitor_loop& loop)
{
    const std::int64_t now = monotonic_ns();
    if (loop.state.sources_screen) {
        list_rows(loop, now);
        draw_sources(loop, now);
    } else {
        if (!loop.state.data_received)
            return;
        if (!loop.state.sacn.shown) {
            const universe_senders senders = artnet_senders(loop.receiver.sources, loop.state.current_universe, now);
            loop.state.senders = senders.count;
            loop.state.levels_differ = senders.levels_differ;
        }
        const screen_layout layout = current_layout(loop);
        loop.first_row = scroll_rows(layout, loop.first_row, 0);
        display_screen(stdout, loop.state, loop.state.current_universe, loop.state.dmx_data, loop.screen_count, layout,
            loop.first_row);
    }
    loop.changed = false;
    loop.last_screen = now;
}

// Whether the levels screen's title warns of several senders: it counts the
// last second, so it is drawn again once a second while it shows, and goes
// when they stop.
bool warns_of_senders(const monitor_loop& loop)
{
    return !loop.state.sources_screen && !loop.state.sacn.shown && loop.state.senders >= 2;
}

// When the next screen is due: on the levels screen, once packets wait to be
// drawn (or a warning to be looked at again); on the sources screen, those
// or the time. Never when nothing waits.
std::optional<std::int64_t> next_screen(const monitor_loop& loop)
{
    if (loop.state.sources_screen)
        return loop.last_screen + (loop.changed ? sources_interval_ns : sources_refresh_ns);
    if (loop.changed)
        return loop.last_screen + screen_interval_ns;
    if (warns_of_senders(loop))
        return loop.last_screen + sources_refresh_ns;
    return std::nullopt;
}

bool screen_due(const monitor_loop& loop, std::int64_t now)
{
    const std::optional<std::int64_t> due = next_screen(loop);
    return due && now >= *due;
}

// The arrow, page and Home/End keys, and j/k: they move the window of a
// screen whose rows do not fit, and are ignored otherwise.
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
    std::size_t& first = first_row(loop);
    const std::size_t moved = scroll_rows(layout, first, delta);
    if (moved != first) {
        first = moved;
        redraw(loop);
    }
}

// 'b': the other mode, drawn at once with all 512 channels. Before the first
// packet there is nothing to draw: the first one appears in the mode chosen.
void toggle_mode(monitor_loop& loop)
{
    monitor_state& state = loop.state;
    // The first channel on the screen stays the first in the other mode.
    const std::size_t first_channel = loop.first_row * levels_layout(loop).per_row;
    state.display_mode = state.display_mode == screen_mode::numbers ? screen_mode::bar_graph : screen_mode::numbers;
    loop.screen_count = channels_per_universe;
    loop.first_row = first_channel / levels_layout(loop).per_row;
    redraw(loop);
}

// 's': the sources screen, or back to the levels; 'b' and 'n' on the
// sources screen go back to the bar graph and to the numbers. Before the
// first packet the levels screen has nothing to show: the screen is cleared.
void switch_screen(monitor_loop& loop, std::optional<screen_mode> mode)
{
    monitor_state& state = loop.state;
    state.sources_screen = !state.sources_screen;
    if (!state.sources_screen && !state.data_received) {
        clear_screen(stdout);
        std::fflush(stdout);
    }
    if (!state.sources_screen && mode && *mode != state.display_mode)
        toggle_mode(loop);
    else
        redraw(loop);
}

// 'c': one export at a time; a key pressed while one runs starts none.
void copy_levels(monitor_loop& loop)
{
    const monitor_state& state = loop.state;
    if (!state.data_received)
        std::fprintf(stderr, "No data received yet\n");
    else if (loop.export_job.pid < 0)
        copy_to_clipboard_csv(loop.export_job, state.current_universe, state.dmx_data, channels_per_universe);
}

// Acts on one key; false when it asks the monitor to stop. Where the
// terminal's size is known, 'q' quits and j/k scroll as in other terminal
// monitors; on a screen of unknown size those keys mean nothing.
bool handle_key(key_press press, monitor_loop& loop)
{
    if (press.kind == key_kind::none)
        return true;
    if (press.kind != key_kind::byte) {
        scroll(loop, press.kind);
        return true;
    }
    const bool sized = loop.size.known();
    const bool sources = loop.state.sources_screen;
    switch (press.byte) {
    case 'b':
    case 'B':
        if (sources)
            switch_screen(loop, screen_mode::bar_graph);
        else
            toggle_mode(loop);
        return true;
    case 'n':
    case 'N':
        if (sources)
            switch_screen(loop, screen_mode::numbers);
        return true;
    case 's':
    case 'S':
        switch_screen(loop, std::nullopt);
        return true;
    case 'c':
    case 'C':
        copy_levels(loop);
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

// Under sACN the title tells who sends the universe shown.
void take_sources(sacn_sources& shown, const universe_merge& merged)
{
    shown.merged = merged.merged;
    shown.priority = merged.priority;
    shown.ignored = merged.ignored;
    if (merged.merged == 1)
        shown.winner = merged.sources[merged.winner].name;
}

// A packet the filter passes overwrites the start of dmx_data and is drawn
// with the next screen; any other leaves no trace. Under sACN, a source that
// fell silent changes the levels as a packet would, without counting as one.
void accept_packet(monitor_loop& loop, std::uint16_t universe, std::span<const std::uint8_t> data)
{
    const monitor_settings& settings = loop.settings;
    monitor_state& state = loop.state;
    if (!settings.all_universes && universe != settings.universe_filter)
        return;
    std::copy(data.begin(), data.end(), state.dmx_data.begin());
    state.current_universe = universe;
    if (loop.receiver.sacn.last != nullptr)
        take_sources(state.sacn, *loop.receiver.sacn.last);
    if (loop.receiver.from_packet)
        ++state.packet_count;
    state.data_received = true;
    loop.screen_count = data.size();
    loop.changed = true;
}

// What the terminal asked for by signal: to be given back, to be taken again,
// or a redraw at its new size.
void answer_terminal_signals(monitor_loop& loop)
{
    if (take_suspend_request()) {
        suspend_monitor(loop.terminal);
        redraw(loop);
    }
    if (take_continued()) {
        loop.terminal.reapply();
        redraw(loop);
    }
    if (take_resized()) {
        const terminal_size size = read_terminal_size();
        if (size != loop.size) {
            // The first channel on the screen stays the first at the new size.
            const std::size_t first_channel = loop.first_row * levels_layout(loop).per_row;
            loop.size = size;
            loop.first_row = first_channel / levels_layout(loop).per_row;
            redraw(loop);
        }
    }
}

// Milliseconds to wait: until the next screen is due, until the export's
// deadline, or for ever.
int wait_ms(const monitor_loop& loop, std::int64_t now)
{
    const int wait = export_wait_ms(loop.export_job, now);
    const std::optional<std::int64_t> due = next_screen(loop);
    if (!due)
        return wait;
    const int until_due = ms_until(*due, now);
    return wait == no_timeout ? until_due : std::min(wait, until_due);
}

// Waits until something is to be done (wait_ms), then takes every frame that
// is waiting, up to a pass's share. False after a failed receive.
bool take_datagrams(monitor_loop& loop)
{
    // Besides datagrams: a key, room in the export's pipe, the end of the
    // export's command (SIGCHLD), its deadline, or the next screen.
    const clipboard_export& job = loop.export_job;
    std::array<pollfd, 2> watched = {{
        {loop.keyboard_open ? STDIN_FILENO : -1, POLLIN, 0},
        {job.to_command ? job.to_command.get() : -1, POLLOUT, 0},
    }};
    int wait = wait_ms(loop, monotonic_ns());
    for (int taken = 0; taken < datagrams_per_pass; ++taken) {
        const receive_event event = next_frame(loop.receiver, watched, wait);
        if (event == receive_event::failed)
            return false;
        if (event != receive_event::frame)
            break;
        accept_packet(loop, loop.receiver.universe, loop.receiver.levels);
        wait = 0;
    }
    loop.state.datagrams_lost = datagrams_lost(loop.receiver);
    return true;
}

void continue_running_export(clipboard_export& job)
{
    if (job.pid < 0)
        return;
    const export_state state = continue_export(job, monotonic_ns());
    if (state != export_state::under_way)
        report_export(job, state);
}

} // namespace

void run_monitor(const monitor_settings& settings, monitor_state& state, raw_terminal& terminal, dmx_receiver& receiver)
{
    monitor_loop loop(settings, state, terminal, receiver);
    while (running) {
        answer_terminal_signals(loop);
        if (loop.keyboard_open && !read_keys(loop)) {
            running = 0;
            break;
        }
        continue_running_export(loop.export_job);
        if (screen_due(loop, monotonic_ns()))
            redraw(loop);
        if (!take_datagrams(loop))
            break;
    }
    cancel_export(loop.export_job);
}
