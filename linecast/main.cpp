// linecast: sends every line of standard input as one frame (ArtDmx, or sACN
// with -E), numbers as levels and other characters as their byte codes.

#include "clock.hpp"
#include "descriptors.hpp"
#include "lines.hpp"
#include "notices.hpp"
#include "options.hpp"
#include "pacing.hpp"
#include "sender.hpp"
#include "signals.hpp"
#include "udp.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <poll.h>
#include <unistd.h>

namespace {

struct line_settings {
    std::uint16_t universe = universe_not_given;
    std::uint16_t channel = 0; // as typed, 1..512; 0 until -c is given
    network_options net;       // -p, -t, -E, -P, -I
    bool verbose = false;
    bool sync = false;     // -S: a sync packet after every frame
    int keep_alive_ms = 0; // -k; 0 re-sends nothing (sACN's interval under -E)
};

// fgets keeps one byte for the terminating zero: a longer line comes in
// pieces of 4095 bytes, each handled as a line of its own.
constexpr std::size_t line_buffer_size = 4096;

// -1 to go on, otherwise the exit status.
int read_options(int argc, char* argv[], line_settings& settings)
{
    constexpr const char* letters = POSIX_OPTIONS("u:c:t:p:vhk:EP:I:S");
    settings.net.sacn = asks_for_sacn(argc, argv, letters);
    settings.net.target_bounded = true;
    int option;
    while ((option = next_option(argc, argv, letters)) != -1) {
        switch (option) {
        case 'u':
            if (!check_universe(optarg, settings.universe, settings.net.sacn))
                return 1;
            break;
        case 'c':
            if (!check_channel(optarg, settings.channel))
                return 1;
            break;
        case 't':
        case 'p':
        case 'E':
        case 'P':
        case 'I':
            if (!read_network_option(option, optarg, settings.net))
                return 1;
            break;
        case 'v':
            settings.verbose = true;
            break;
        case 'S':
            settings.sync = true;
            break;
        case 'k':
            if (!check_keep_alive(optarg, settings.keep_alive_ms, settings.net.sacn)) {
                usage(argv[0]);
                return 1;
            }
            break;
        case 'h':
        case help_option:
        case version_option:
            return answer_help_option(option, "linecast", argv[0], usage);
        default:
            usage(argv[0]);
            return 1;
        }
    }
    if (settings.universe == universe_not_given || settings.channel == 0) {
        std::fprintf(stderr, "Error: Both -u and -c must be specified\n");
        usage(argv[0]);
        return 1;
    }
    // An sACN source always keeps its stream alive.
    if (settings.net.sacn && settings.keep_alive_ms == 0)
        settings.keep_alive_ms = sacn_keep_alive_ms;
    return finish_network_options(settings.net) ? -1 : 1;
}

void print_report(const line_settings& settings, const e131_identity& identity)
{
    std::fprintf(stderr, "Universe: %d | Starting Channel: %d | Target: %s:%d\n", settings.universe, settings.channel,
        shown_target(settings.net), settings.net.port);
    if (settings.net.sacn)
        print_sacn_source(stderr, settings.net, identity);
    if (settings.verbose)
        std::fprintf(stderr, "Verbose mode: ON\n");
    std::fprintf(stderr, "Reading from stdin...\n");
    if (isatty(STDIN_FILENO))
        std::fprintf(stderr, "Interactive mode: Type lines and press Enter (Ctrl+D to exit)\n");
    print_maker_line(stderr);
    std::fprintf(stderr, "\n");
}

// The last frame sent, re-sent with the next sequence number when no new line
// comes for a keep-alive interval (-k), so that nodes which black out without
// data stay lit. Under sACN every new frame is also repeated twice at once.
struct keep_alive {
    explicit keep_alive(const line_settings& settings)
        : resends(
            settings.keep_alive_ms * ns_per_ms, settings.net.sacn ? sacn_repeats : 0, sacn_repeat_gap_ms * ns_per_ms)
    {
    }
    resend_schedule resends; // empty until a frame was sent, and without -k
    std::array<std::uint8_t, channels_per_universe> frame{};
    std::size_t length = 0;
};

// One frame out: its packet, the sync packet of -S, and the universe list
// when it is due.
bool send_frame(const line_settings& settings, dmx_sender& sender, std::span<const std::uint8_t> levels)
{
    return send_dmx(sender, settings.universe, levels) && (!settings.sync || send_sync(sender))
        && announce_universes(sender, monotonic_ns());
}

void remember_sent(keep_alive& k, const line_settings& settings, std::span<const std::uint8_t> payload)
{
    if (settings.keep_alive_ms == 0)
        return;
    std::copy(payload.begin(), payload.end(), k.frame.begin());
    k.length = payload.size();
    k.resends.sent(settings.universe, monotonic_ns());
}

// The re-send that is due, at `now`; after a stop of the process, one and
// then the interval again.
bool resend(keep_alive& k, const line_settings& settings, dmx_sender& sender, std::int64_t now)
{
    k.resends.resent(now);
    return send_frame(settings, sender, std::span(k.frame).first(k.length));
}

// Until standard input has a line (or its end), re-sending whenever a
// keep-alive is due. False after a stop request or a failed re-send or wait.
bool wait_for_input(keep_alive& k, const line_settings& settings, dmx_sender& sender)
{
    while (running && !k.resends.empty()) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = wait_for_events(std::span(&input, 1), ms_until(k.resends.first_due(), monotonic_ns()));
        if (ready > 0)
            return true; // the line, the end, or an error for fgets to report
        if (ready == wait_failed)
            return false;
        if (const std::int64_t now = monotonic_ns();
            running && now >= k.resends.first_due() && !resend(k, settings, sender, now))
            return false;
    }
    return running != 0;
}

// At the end of input: one more interval of keep-alive, then the end.
bool keep_alive_after_input(keep_alive& k, const line_settings& settings, dmx_sender& sender)
{
    if (k.resends.empty())
        return true;
    const std::int64_t end = monotonic_ns() + k.resends.interval();
    while (running && k.resends.first_due() <= end) {
        if (!sleep_until(k.resends.first_due()))
            continue; // a stop request ends the wait
        if (!resend(k, settings, sender, monotonic_ns()))
            return false;
    }
    while (running && !sleep_until(end)) {
    }
    return true;
}

// One packet per line that yields values. Returns the exit status: 0 at the
// end of input or on a stop request, 1 after a failed send or read.
int send_lines(const line_settings& settings, dmx_sender& sender)
{
    std::array<char, line_buffer_size> line{};
    std::array<std::uint8_t, channels_per_universe> frame{};
    unsigned long long line_number = 0;
    const std::size_t first = settings.channel - 1;
    keep_alive k(settings);

    while (wait_for_input(k, settings, sender)
        && std::fgets(line.data(), static_cast<int>(line.size()), stdin) != nullptr) {
        ++line_number;
        // A zero byte ends the line, whatever fgets read after it.
        std::size_t length = std::strlen(line.data());
        if (length > 0 && line[length - 1] == '\n')
            line[--length] = '\0';
        if (length == 0) {
            if (settings.verbose)
                std::fprintf(stderr, "Line %llu: Empty line, skipping\n", line_number);
            continue;
        }
        if (settings.verbose)
            std::fprintf(stderr, "Line %llu: Processing \"%s\"\n", line_number, line.data());

        // Every packet holds its own line's values and zeros below the start
        // channel, nothing of an earlier line.
        frame.fill(0);
        std::size_t count = 0;
        if (parse_values(line.data(), std::span(frame).subspan(first), count, settings.verbose, stderr) < 0) {
            if (settings.verbose)
                std::fprintf(stderr, "  No values extracted from line\n");
            continue;
        }
        const std::size_t payload_length = first + count;
        const std::uint8_t carried = next_sequence(sender, settings.universe);
        if (settings.verbose)
            std::fprintf(stderr, "  Sending %zu values to channels %d-%d (payload length: %d)\n", count,
                settings.channel, static_cast<int>(first + count), static_cast<int>(payload_length));
        if (!send_frame(settings, sender, std::span(frame).first(payload_length)))
            return 1;
        remember_sent(k, settings, std::span(frame).first(payload_length));
        if (settings.verbose)
            std::fprintf(stderr, "  Packet sent successfully (sequence: %d)\n\n", carried);
        else
            std::fprintf(stderr, "Sent %zu value(s) to channel %d\n", count, settings.channel);
    }
    // A stop request may also have cut a read short: the streams end as at the
    // end of input.
    if (!running)
        return 0;
    // A read error loses the rest of the input just as a failed send does, so
    // it must not pass for a clean end.
    if (std::ferror(stdin)) {
        std::perror("fgets");
        return 1;
    }
    if (!std::feof(stdin)) // a re-send or the wait failed
        return 1;
    return keep_alive_after_input(k, settings, sender) ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    ensure_standard_descriptors();
    line_settings settings;
    if (const int status = read_options(argc, argv, settings); status >= 0)
        return status;
    print_banner("linecast", "sends standard-input lines as Art-Net DMX");
    const e131_identity identity = settings.net.sacn ? make_e131_identity("linecast") : e131_identity{};
    dmx_sender sender;
    if (!open_sender(sender, settings.net, identity))
        return 1;
    if (settings.sync)
        sender.sync_universe = settings.universe;
    print_report(settings, identity);
    // An sACN source ends its stream when it is stopped, too; without -E the
    // signals keep their default actions.
    if (settings.net.sacn)
        install_stop_handlers();
    // Each typed or piped line is handed over as soon as it is complete.
    // With keep-alive the wait for the next line watches the descriptor, so
    // no line may sit unseen in the stream's buffer: one byte per read.
    std::setvbuf(stdin, nullptr, settings.keep_alive_ms > 0 ? _IONBF : _IOLBF, 0);
    const int status = send_lines(settings, sender);
    return end_streams(sender) ? status : 1;
}
