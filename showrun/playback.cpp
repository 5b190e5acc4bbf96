#include "playback.hpp"

#include "clock.hpp"
#include "frame_csv.hpp"
#include "notices.hpp"
#include "show_csv.hpp"
#include "signals.hpp"
#include "status_line.hpp"

#include <algorithm>
#include <limits>

#include <poll.h>

namespace {

// A row as the pass's kind of file reads it.
struct row_to_play {
    std::uint32_t delay = 0;
    bool waited = false; // the delay passes, whether or not a frame goes out
    bool sent = false;
    std::uint16_t universe = 0;
    std::size_t count = 0;
};

void report_unreadable(const playback& p)
{
    // Numbered by the frame it would have been, not by its line.
    end_status_line();
    std::fprintf(stderr, "Error parsing line %llu\n", p.frames_sent + 1);
}

// Reads the line in p.text into `row` and p.levels; false for a line that
// neither sends nor waits (reported when it cannot be read).
bool read_row(playback& p, row_to_play& row)
{
    if (p.kind != file_kind::show) {
        std::uint16_t delay = 0;
        const int parsed = parse_csv_line(p.text.data(), delay, p.levels, row.count);
        if (parsed < 0)
            report_unreadable(p);
        // A recording's row without channels (a packet without data) still
        // keeps its place in time.
        const bool has_delay = parsed > 0 || (parsed == 0 && p.text[0] != '#' && p.text[0] != '\0');
        row = {delay, has_delay && p.kind == file_kind::recording, parsed > 0, p.settings.universe, row.count};
        return row.waited || row.sent;
    }
    show_row show;
    const show_line read = parse_show_line(p.text.data(), show, p.levels, p.settings.net.sacn);
    if (read == show_line::unreadable || read == show_line::bad_universe)
        report_unreadable(p);
    const bool selected = !p.settings.universe_given || show.universe == p.settings.universe;
    row = {show.delay, read != show_line::nothing && read != show_line::unreadable,
        read == show_line::frame && selected, show.universe, show.count};
    return row.waited;
}

void print_frame_line(playback& p)
{
    p.shown = p.frames_sent;
    std::fprintf(stderr, "Frame %llu: %zu channels", p.frames_sent, p.count);
    if (p.kind == file_kind::show)
        std::fprintf(stderr, ", universe %u", static_cast<unsigned>(p.universe));
    std::fprintf(stderr, ", delay %lu ms", static_cast<unsigned long>(p.delay));
    if (p.settings.passes == 0)
        std::fprintf(stderr, " | Pass %ld", p.pass);
    else if (p.settings.passes != 1)
        std::fprintf(stderr, " | Pass %ld/%ld", p.pass, p.settings.passes);
    std::fprintf(stderr, "\r");
    std::fflush(stderr);
    status_line_shown();
}

// The end of a frame (a moment, a row of a plain file, a round of
// keep-alive): the sync packet, when -S asks for it and frames went out, and
// the universe list when it is due.
bool end_frame(playback& p)
{
    const bool sync = p.settings.sync && p.sync_due;
    p.sync_due = false;
    return (!sync || send_sync(p.sender)) && announce_universes(p.sender, monotonic_ns());
}

// Sends the row's frame, which takes its place on the timeline at `now`.
bool send_row(playback& p, const row_to_play& row, std::int64_t now)
{
    const auto levels = std::span(p.levels).first(row.count);
    // Under sACN the first universe played is the one the sync packets are for.
    if (p.settings.sync && p.sender.sync_universe == 0)
        p.sender.sync_universe = row.universe;
    if (!send_dmx(p.sender, row.universe, levels))
        return false;
    p.went_out = now;
    if (p.resends.interval() > 0)
        p.resends.sent(row.universe, now);
    universe_frame& kept = p.sent.find_or_add(row.universe);
    std::ranges::copy(levels, kept.levels.begin());
    kept.length = levels.size();
    ++p.frames_sent;
    p.frame_line = p.line;
    p.universe = row.universe;
    p.count = row.count;
    p.delay = row.delay;
    p.sync_due = true;
    return true;
}

// The last frame of every universe whose keep-alive has come, again, with
// the next sequence numbers: nodes that black out without data stay lit. A
// row falling due at `until` ends the round, which goes on after it, so that
// however many universes a show has, its rows keep their times.
bool keep_alive(playback& p, std::int64_t now, std::int64_t until)
{
    // Inside a moment its own sync packet, still to come, covers the re-sends.
    const bool in_moment = p.sync_due;
    while (!p.resends.empty() && p.resends.first_due() <= now && now < until) {
        const universe_frame* frame = p.sent.find(p.resends.first());
        if (!send_dmx(p.sender, frame->universe, std::span(frame->levels).first(frame->length)))
            return false;
        p.resends.resent(now);
        p.sync_due = true;
        now = monotonic_ns();
    }
    return in_moment || end_frame(p);
}

// Waits until the clock's due time, keeping the frames alive on their way.
// False when a re-send failed.
bool wait_for_clock(playback& p)
{
    while (running) {
        const std::int64_t now = monotonic_ns();
        if (now >= p.clock.due)
            return true;
        const bool keeping = p.resends.interval() > 0 && !p.resends.empty();
        if (keeping && p.resends.first_due() <= now) {
            if (!keep_alive(p, now, p.clock.due))
                return false;
            continue;
        }
        // A signal other than a stop request only ends this sleep early.
        sleep_until(keeping ? std::min(p.resends.first_due(), p.clock.due) : p.clock.due);
    }
    return true;
}

// A hand-written file's row: the frame, then its delay.
bool send_then_wait(playback& p, const row_to_play& row)
{
    if (!send_row(p, row, monotonic_ns()))
        return false;
    print_frame_line(p);
    pace_next(p.clock, row.delay, p.went_out);
    return end_frame(p) && wait_for_clock(p);
}

// A recording's or a show file's row: its delay, then the frame. The moment
// before the row, when the row begins a new one, is complete: its ArtSync
// goes first, and so does the status line of the frame before a delay. The
// row's place on the timeline follows the row before it, however late it
// was read: a row arriving through a pipe goes out when its place comes, or
// at once when that has passed.
bool wait_then_send(playback& p, const row_to_play& row)
{
    const bool new_moment = p.moments.begins_moment(row.delay, row.sent ? std::optional(row.universe) : std::nullopt);
    if (row.delay != 0 && p.shown != p.frames_sent)
        print_frame_line(p);
    if (new_moment && !end_frame(p))
        return false;
    pace_next(p.clock, row.delay, p.went_out);
    if (row.delay != 0 && !wait_for_clock(p))
        return false;
    p.went_out = monotonic_ns();
    if (!row.sent || !running)
        return true;
    if (!send_row(p, row, p.went_out))
        return false;
    if (p.kind == file_kind::recording)
        print_frame_line(p);
    return true;
}

// What a comment line before the first row says of the file: framelog's own
// header line as the first comment makes a recording, the show format line
// makes a show file; any other leaves the kind as it was.
file_kind kind_after_comment(file_kind kind, bool first_comment, std::string_view line)
{
    if (line == show_format_line)
        return file_kind::show;
    if (first_comment && (line == artnet_recording_header || line == sacn_recording_header) && kind == file_kind::plain)
        return file_kind::recording;
    return kind;
}

// One line of the header (comment and empty lines before the first row):
// true when it was one.
bool take_header_line(playback& p, bool& first_comment)
{
    const std::string_view line(p.text.data());
    if (line.find_first_not_of(" \t\r\v\f") == std::string_view::npos)
        return true;
    if (line.front() != '#')
        return false;
    p.kind = kind_after_comment(p.kind, first_comment, line.substr(0, line.find_last_not_of('\r') + 1));
    first_comment = false;
    return true;
}

// Once the header has said what kind of file plays: a show file's rows name
// their own universes.
void print_start_report(playback& p)
{
    const player_settings& settings = p.settings;
    p.reported = true;
    std::fprintf(stderr, "Playing: %s\n", settings.file);
    if (p.kind == file_kind::show && !settings.universe_given)
        std::fprintf(stderr, "Universe: from the file");
    else
        std::fprintf(stderr, "Universe: %d", settings.universe);
    std::fprintf(stderr, " | Target: %s:%d\n", shown_target(settings.net), settings.net.port);
    if (settings.net.sacn)
        print_sacn_source(stderr, settings.net, p.sender.identity);
    std::fprintf(stderr, "Press Ctrl+C to stop\n");
    print_maker_line(stderr);
    std::fprintf(stderr, "\n");
}

void print_show_line(const player_settings& settings)
{
    std::fprintf(stderr, "Show file: rows go to their own universes");
    if (settings.universe_given)
        std::fprintf(stderr, ", universe %u only", static_cast<unsigned>(settings.universe));
    std::fprintf(stderr, "\n");
}

playback_end end_of_pass(playback& p)
{
    if (p.shown != p.frames_sent)
        print_frame_line(p);
    return end_frame(p) ? playback_end::end_of_file : playback_end::send_failed;
}

// While a slow pipe has no more of the file: the streams are kept alive, and
// a stop request ends the wait. The reader's wait (read_wait).
bool wait_for_input(void* context)
{
    playback& p = *static_cast<playback*>(context);
    constexpr std::int64_t no_row_due = std::numeric_limits<std::int64_t>::max();
    while (running) {
        const std::int64_t now = monotonic_ns();
        if (!p.resends.empty() && p.resends.first_due() <= now) {
            // A moment left open by the pipe does not hold the universe list
            // back.
            p.wait_failed = !keep_alive(p, now, no_row_due) || !announce_universes(p.sender, monotonic_ns());
            if (p.wait_failed)
                return false;
            continue;
        }
        pollfd input{p.waited_input, POLLIN, 0};
        const int timeout = p.resends.empty() ? no_timeout : ms_until(p.resends.first_due(), now);
        const int ready = wait_for_events(std::span(&input, 1), timeout);
        if (ready > 0)
            return true;
        if (ready == wait_failed) {
            p.wait_failed = true;
            return false;
        }
    }
    return false;
}

// Plays every row of `file`, until the end of the file, a read error, a stop
// request or a failed send.
playback_end play_pass(playback& p, std::FILE* file)
{
    p.line = 0;
    p.kind = p.settings.show_file ? file_kind::show : file_kind::plain;
    bool in_header = true;
    bool first_comment = true;
    const read_wait waiting = p.waited_input >= 0 ? read_wait{wait_for_input, &p} : read_wait{};
    while (running) {
        const line_read read = read_file_line(file, p.text, waiting);
        // A read of a pipe that a stop request cut short is a stop.
        if (read == line_read::failed && !running)
            return playback_end::stopped;
        if (read == line_read::failed)
            return p.wait_failed ? playback_end::send_failed : playback_end::read_error;
        if (read == line_read::end_of_file) {
            if (!p.reported)
                print_start_report(p);
            return end_of_pass(p);
        }
        if (++p.line == 1)
            drop_byte_order_mark(p.text);
        if (in_header && take_header_line(p, first_comment))
            continue;
        if (!p.reported)
            print_start_report(p);
        if (in_header && p.kind == file_kind::show && p.pass == 1)
            print_show_line(p.settings);
        in_header = false;
        row_to_play row;
        if (!read_row(p, row))
            continue;
        const bool played = p.kind == file_kind::plain ? send_then_wait(p, row) : wait_then_send(p, row);
        if (!played)
            return running ? playback_end::send_failed : playback_end::stopped;
    }
    return playback_end::stopped;
}

// Waits until the next pass may start (a stop request ends the wait); the
// timeline starts afresh there, so that the rows of a short pass are not
// sent in a burst to catch up.
bool pace_pass(playback& p, std::int64_t pass_start)
{
    const std::int64_t start = next_pass_start(pass_start, monotonic_ns(), p.settings.keep_alive_ms);
    while (running && !sleep_until(start)) {
    }
    if (start > p.clock.due)
        start_timeline(p.clock, p.settings.speed, start);
    return running != 0;
}

} // namespace

void start_playback(playback& p, std::int64_t now)
{
    start_timeline(p.clock, p.settings.speed, now);
    p.went_out = now;
}

playback_end play(playback& p, std::FILE* file)
{
    // A pass that sends nothing ends an endless playback: there is nothing
    // to repeat.
    for (;;) {
        ++p.pass;
        const unsigned long long before = p.frames_sent;
        const std::int64_t pass_start = monotonic_ns();
        const playback_end end = play_pass(p, file);
        if (end != playback_end::end_of_file || p.pass == p.settings.passes
            || (p.settings.passes == 0 && p.frames_sent == before))
            return end;
        if (!pace_pass(p, pass_start))
            return playback_end::stopped;
        std::rewind(file);
    }
}

bool end_playback_streams(playback& p, playback_end end)
{
    while (end == playback_end::end_of_file && running && p.resends.repeating()) {
        const std::int64_t due = p.resends.first_due();
        if (sleep_until(due) && !keep_alive(p, monotonic_ns(), std::numeric_limits<std::int64_t>::max()))
            return false;
    }
    return end_streams(p.sender);
}

bool print_end_report(playback_end end, const playback& p)
{
    std::fprintf(stderr, "\n");
    switch (end) {
    case playback_end::end_of_file:
        if (p.settings.passes != 1)
            std::fprintf(stderr, "Playback complete: %llu frames (%ld passes)\n", p.frames_sent, p.pass);
        else
            std::fprintf(stderr, "Playback complete: %llu frames\n", p.frames_sent);
        break;
    case playback_end::stopped:
        // Where to pick a rehearsal up again by hand.
        std::fprintf(stderr, "Stopped at line %llu (frame %llu of pass %ld)\n", p.frame_line, p.frames_sent, p.pass);
        break;
    case playback_end::read_error:
        std::perror("fgets");
        return false;
    case playback_end::send_failed:
        return false;
    }
    if (p.kind == file_kind::show)
        std::fprintf(stderr, "Universes played: %zu\n", p.sent.all().size());
    return true;
}
