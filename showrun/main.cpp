// showrun: plays a frame sequence CSV onto the network, every row as one
// ArtDmx held for the row's delay, or writes a demo file to try it with.

#include "artnet_sender.hpp"
#include "clock.hpp"
#include "descriptors.hpp"
#include "frame_csv.hpp"
#include "notices.hpp"
#include "player.hpp"
#include "signals.hpp"
#include "status_line.hpp"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace {

enum class playback_end { end_of_file, read_error, stopped };

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
    playback_clock clock;
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
    std::array<char, 4096> line{};
    std::array<std::uint8_t, channels_per_universe> parsed_frame{};
    while (running) {
        if (std::fgets(line.data(), line.size(), file) == nullptr) {
            // A read of a pipe that a stop request cut short is a stop.
            if (std::ferror(file))
                return running ? playback_end::read_error : playback_end::stopped;
            return playback_end::end_of_file;
        }
        std::uint16_t delay = 0;
        std::size_t count = 0;
        const int parsed = parse_csv_line(line.data(), delay, parsed_frame, count);
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
            return playback_end::stopped;
        const std::int64_t sent = monotonic_ns();
        ++p.frames_sent;
        print_frame_line(p, delay);
        hold_until(p.clock, delay, sent);
        if (!hold(p, sent))
            return playback_end::stopped;
    }
    return playback_end::stopped;
}

// Plays the file as many times as asked. A pass that sends nothing ends an
// endless playback: there is nothing to repeat.
playback_end play(playback& p, std::FILE* file)
{
    for (;;) {
        ++p.pass;
        const unsigned long long before = p.frames_sent;
        const playback_end end = play_pass(p, file);
        if (end != playback_end::end_of_file || p.pass == p.settings.passes
            || (p.settings.passes == 0 && p.frames_sent == before) || !running)
            return end;
        std::rewind(file);
    }
}

void print_end_report(playback_end end, const playback& p)
{
    std::fprintf(stderr, "\n");
    if (end == playback_end::end_of_file && p.settings.passes != 1)
        std::fprintf(stderr, "Playback complete: %llu frames (%ld passes)\n", p.frames_sent, p.pass);
    else if (end == playback_end::end_of_file)
        std::fprintf(stderr, "Playback complete: %llu frames\n", p.frames_sent);
    else if (end == playback_end::read_error)
        std::perror("fgets");
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
    // A FIFO's open waits for a writer; a stop request ends that wait.
    const unique_file file(std::fopen(settings.file, "r"));
    if (!file && errno == EINTR && !running)
        return 0;
    if (!file) {
        std::perror("fopen");
        return 1;
    }
    // Only a file that can go back to its start can be played again.
    if (settings.passes != 1 && std::fseek(file.get(), 0, SEEK_SET) != 0) {
        std::fprintf(stderr, "Error: Cannot loop a file that cannot be rewound\n");
        return 1;
    }
    print_report(settings);

    playback p(sender, settings);
    start_clock(p.clock, settings.speed, monotonic_ns());
    const playback_end end = play(p, file.get());
    print_end_report(end, p);
    return 0;
}
