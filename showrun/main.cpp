// showrun: plays a frame sequence CSV onto the network, every row as one
// ArtDmx held for the row's delay, or writes a demo file to try it with.

#include "artdmx.hpp"
#include "frame_csv.hpp"
#include "player.hpp"
#include "runtime.hpp"

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

// Sends every row of `file` and holds it for its delay, until the end of the
// file, a read error, a stop request or a failed send.
playback_end play(
    const sender_endpoint& endpoint, std::FILE* file, std::uint16_t universe, unsigned long long& frames_sent)
{
    std::array<char, 4096> line{};
    std::array<std::uint8_t, channels_per_universe> frame{};
    std::array<std::uint8_t, receive_buffer_size> packet{};
    std::uint8_t sequence = 1; // wraps 255 -> 0 -> 1
    std::int64_t hold_end = monotonic_ns();
    while (running) {
        if (std::fgets(line.data(), line.size(), file) == nullptr) {
            // A read of a pipe that a stop request cut short is a stop.
            if (std::ferror(file))
                return running ? playback_end::read_error : playback_end::stopped;
            return playback_end::end_of_file;
        }
        std::uint16_t delay = 0;
        std::size_t count = 0;
        const int parsed = parse_csv_line(line.data(), delay, frame, count);
        if (parsed < 0) {
            // Numbered by the frame it would have been, not by its line.
            end_status_line();
            std::fprintf(stderr, "Error parsing line %llu\n", frames_sent + 1);
        }
        if (parsed <= 0)
            continue;

        std::size_t length = 0;
        build_artdmx(packet, length, sequence++, universe, std::span(frame).first(count));
        if (!send_datagram(endpoint, std::span(packet).first(length)))
            return playback_end::stopped;
        ++frames_sent;
        std::fprintf(stderr, "Frame %llu: %zu channels, delay %d ms\r", frames_sent, count, delay);
        std::fflush(stderr);
        status_line_shown();

        hold_end = hold_until(hold_end, delay, monotonic_ns());
        // Another signal than a stop request only restarts the wait.
        while (running && !sleep_until(hold_end)) {
        }
    }
    return playback_end::stopped;
}

void print_end_report(playback_end end, unsigned long long frames_sent)
{
    std::fprintf(stderr, "\n");
    if (end == playback_end::end_of_file)
        std::fprintf(stderr, "Playback complete: %llu frames\n", frames_sent);
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
    const auto endpoint = open_sender(settings.target, settings.port);
    if (!endpoint)
        return 1;
    // A FIFO's open waits for a writer; a stop request ends that wait.
    const unique_file file(std::fopen(settings.file, "r"));
    if (!file && errno == EINTR && !running)
        return 0;
    if (!file) {
        std::perror("fopen");
        return 1;
    }
    print_report(settings);

    unsigned long long frames_sent = 0;
    const playback_end end = play(*endpoint, file.get(), settings.universe, frames_sent);
    print_end_report(end, frames_sent);
    return 0;
}
