// showrun: plays a frame sequence CSV onto the network, every row as one
// ArtDmx held for the row's delay, or writes a demo file to try it with.

#include "artnet_sender.hpp"
#include "clock.hpp"
#include "descriptors.hpp"
#include "file_lines.hpp"
#include "frame_csv.hpp"
#include "notices.hpp"
#include "player.hpp"
#include "signals.hpp"
#include "status_line.hpp"
#include "timeline.hpp"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include <sys/stat.h>

namespace {

enum class playback_end { end_of_file, read_error, send_failed, stopped };

void print_report(const player_settings& settings)
{
    std::fprintf(stderr, "Playing: %s\n", settings.file);
    std::fprintf(stderr, "Universe: %d | Target: %s:%d\n", settings.universe, settings.target, settings.port);
    std::fprintf(stderr, "Press Ctrl+C to stop\n");
    print_maker_line(stderr);
    std::fprintf(stderr, "\n");
}

// What playback carries from row to row and from pass to pass.
struct playback {
    playback(artnet_sender& out, const player_settings& s) : sender(out), settings(s) { }

    artnet_sender& sender;
    const player_settings& settings;
    std::array<std::uint8_t, channels_per_universe> frame{};
    std::size_t count = 0; // of the last frame sent
    unsigned long long frames_sent = 0;
    long pass = 0;
    unsigned long long line = 0;       // of the file, in this pass
    unsigned long long frame_line = 0; // the line of the last frame sent
    playback_clock clock;
    std::array<char, longest_line + 1> text{};
};

// Sends the last frame again, with the next sequence number.
bool send_frame(playback& p)
{
    return send_dmx(p.sender, p.settings.universe, std::span(p.frame).first(p.count));
}

// Holds the frame sent at `sent` until the clock's end, re-sending it every
// keep-alive interval meanwhile. False when a re-send failed.
bool hold(playback& p, std::int64_t sent)
{
    const std::int64_t interval = std::int64_t{p.settings.keep_alive_ms} * 1'000'000;
    std::int64_t next = sent + interval;
    while (running) {
        const bool keep_alive = interval > 0 && next < p.clock.end;
        // Another signal than a stop request only restarts the wait.
        if (!sleep_until(keep_alive ? next : p.clock.end))
            continue;
        if (!keep_alive)
            return true;
        if (!send_frame(p))
            return false;
        next += interval;
    }
    return true;
}

void print_frame_line(const playback& p, std::uint16_t delay)
{
    std::fprintf(stderr, "Frame %llu: %zu channels, delay %d ms", p.frames_sent, p.count, delay);
    if (p.settings.passes == 0)
        std::fprintf(stderr, " | Pass %ld", p.pass);
    else if (p.settings.passes != 1)
        std::fprintf(stderr, " | Pass %ld/%ld", p.pass, p.settings.passes);
    std::fprintf(stderr, "\r");
    std::fflush(stderr);
    status_line_shown();
}

// Sends every row of `file` and holds it for its delay, until the end of the
// file, a read error, a stop request or a failed send.
playback_end play_pass(playback& p, std::FILE* file)
{
    std::array<std::uint8_t, channels_per_universe> parsed_frame{};
    p.line = 0;
    while (running) {
        const line_read read = read_file_line(file, p.text);
        // A read of a pipe that a stop request cut short is a stop.
        if (read == line_read::failed)
            return running ? playback_end::read_error : playback_end::stopped;
        if (read == line_read::end_of_file)
            return playback_end::end_of_file;
        ++p.line;
        std::uint16_t delay = 0;
        std::size_t count = 0;
        const int parsed = parse_csv_line(p.text.data(), delay, parsed_frame, count);
        if (parsed < 0) {
            // Numbered by the frame it would have been, not by its line.
            end_status_line();
            std::fprintf(stderr, "Error parsing line %llu\n", p.frames_sent + 1);
        }
        if (parsed <= 0)
            continue;

        p.frame = parsed_frame;
        p.count = count;
        if (!send_frame(p))
            return playback_end::send_failed;
        const std::int64_t sent = monotonic_ns();
        ++p.frames_sent;
        p.frame_line = p.line;
        print_frame_line(p, delay);
        hold_until(p.clock, delay, sent);
        if (!hold(p, sent))
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
    if (start > p.clock.end)
        start_clock(p.clock, p.settings.speed, start);
    return running != 0;
}

// Plays the file as many times as asked. A pass that sends nothing ends an
// endless playback: there is nothing to repeat.
playback_end play(playback& p, std::FILE* file)
{
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

// The report, and whether playback ended as asked (the end of the file, or a
// stop request) rather than by a failure.
bool print_end_report(playback_end end, const playback& p)
{
    std::fprintf(stderr, "\n");
    switch (end) {
    case playback_end::end_of_file:
        if (p.settings.passes != 1)
            std::fprintf(stderr, "Playback complete: %llu frames (%ld passes)\n", p.frames_sent, p.pass);
        else
            std::fprintf(stderr, "Playback complete: %llu frames\n", p.frames_sent);
        return true;
    case playback_end::stopped:
        // Where to pick a rehearsal up again by hand.
        std::fprintf(stderr, "Stopped at line %llu (frame %llu of pass %ld)\n", p.frame_line, p.frames_sent, p.pass);
        return true;
    case playback_end::read_error:
        std::perror("fgets");
        return false;
    case playback_end::send_failed:
        return false;
    }
    return false;
}

// The file to play, checked before it is opened: a directory is no file,
// and only a file that can go back to its start can be played again (a
// FIFO's open would also wait for a writer first). A FIFO's open waits for a
// writer; a stop request ends that wait and the program (status 0).
unique_file open_show_file(const player_settings& settings, int& status)
{
    status = 1;
    struct stat info { };
    const bool known = ::stat(settings.file, &info) == 0;
    if (known && S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        std::perror("fopen");
        return nullptr;
    }
    if (settings.passes != 1 && known && !S_ISREG(info.st_mode)) {
        std::fprintf(stderr, "Error: Cannot loop a file that cannot be rewound\n");
        return nullptr;
    }
    unique_file file(std::fopen(settings.file, "r"));
    if (!file && errno == EINTR && !running)
        status = 0;
    else if (!file)
        std::perror("fopen");
    return file;
}

} // namespace

int main(int argc, char* argv[])
{
    ensure_standard_descriptors();
    if (!asks_for_help_or_version(argc, argv, option_letters))
        print_banner("showrun", "plays Art-Net DMX recordings");
    player_settings settings;
    if (const int status = read_options(argc, argv, settings); status >= 0)
        return status;
    if (settings.demo)
        return create_demo_csv(settings.demo_file) ? 0 : 1;
    if (settings.file == nullptr) {
        std::fprintf(stderr, "Error: -f <file.csv> is required (or use -d to create demo file)\n");
        usage(argv[0]);
        return 1;
    }
    install_stop_handlers();
    artnet_sender sender;
    if (!open_artnet_sender(sender, settings.target, settings.port))
        return 1;
    int status = 0;
    const unique_file file = open_show_file(settings, status);
    if (!file)
        return status;
    print_report(settings);

    playback p(sender, settings);
    start_clock(p.clock, settings.speed, monotonic_ns());
    const playback_end end = play(p, file.get());
    return print_end_report(end, p) ? 0 : 1;
}
