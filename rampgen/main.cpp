// rampgen: sends a moving ramp to one, several or all universes at a fixed
// interval, over Art-Net or sACN.

#include "clock.hpp"
#include "descriptors.hpp"
#include "notices.hpp"
#include "numbers.hpp"
#include "pacing.hpp"
#include "ramp.hpp"
#include "sender.hpp"
#include "signals.hpp"
#include "status_line.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

struct ramp_settings {
    network_options net; // -t, -p, -E, -P, -I
    int interval_ms = 50;
    int frame_count = -1; // unlimited
    bool verbose = false;
    bool stamp = false;         // -s
    bool sync = false;          // -S: a sync packet after every frame
    universe_list universes;    // -u, or what -a fills in
    bool all_universes = false; // -a: every universe 0..255 (1..256 under -E)
};

// -1 to go on, otherwise the exit status.
int read_options(int argc, char* argv[], ramp_settings& settings)
{
    settings.net.sacn = asks_for_sacn(argc, argv, option_letters);
    int option;
    while ((option = next_option(argc, argv, option_letters)) != -1) {
        switch (option) {
        case 't':
        case 'p':
        case 'E':
        case 'P':
        case 'I':
            if (!read_network_option(option, optarg, settings.net))
                return 1;
            break;
        case 'i':
            settings.interval_ms = saturating_atoi(optarg);
            if (settings.interval_ms < 1) {
                std::fprintf(stderr, "Interval must be >= 1 ms\n");
                return 1;
            }
            break;
        case 'c':
            settings.frame_count = saturating_atoi(optarg);
            if (settings.frame_count < 0) {
                std::fprintf(stderr, "Frame count must be >= 0\n");
                return 1;
            }
            break;
        case 'a':
            settings.all_universes = true;
            break;
        case 'u': {
            std::uint16_t universe = 0;
            if (!check_universe(optarg, universe, settings.net.sacn))
                return 1;
            // Refused at once: a full list takes no further -u, not even one
            // of a universe listed already.
            if (settings.universes.count == most_listed_universes) {
                print_too_many_universes();
                return 1;
            }
            add_universe(settings.universes, universe);
            break;
        }
        case 'v':
            settings.verbose = true;
            break;
        case 's':
            settings.stamp = true;
            break;
        case 'S':
            settings.sync = true;
            break;
        case help_option:
        case version_option:
            return answer_help_option(option, "rampgen", argv[0], usage);
        default:
            usage(argv[0]);
            return 1;
        }
    }
    if (!settings.all_universes && settings.universes.count == 0) {
        std::fprintf(stderr, "Specify at least one universe with -u or use -a for all universes.\n");
        usage(argv[0]);
        return 1;
    }
    if (settings.all_universes) {
        settings.universes.count = 0;
        const int first = first_universe_of_all(settings.net.sacn);
        for (int universe = first; universe <= first + highest_universe_of_all; ++universe)
            add_universe(settings.universes, static_cast<std::uint16_t>(universe));
    }
    return finish_network_options(settings.net) ? -1 : 1;
}

void print_report(const ramp_settings& settings, const e131_identity& identity)
{
    std::fprintf(stderr, "Sending %s test data...\n", settings.net.sacn ? "sACN" : "Art-Net");
    if (settings.net.sacn)
        print_sacn_source(stderr, settings.net, identity);
    if (!settings.verbose) {
        print_maker_line(stderr);
        return;
    }
    if (settings.all_universes) {
        const int first = first_universe_of_all(settings.net.sacn);
        std::fprintf(stderr, "Universes: All (%d-%d)\n", first, first + highest_universe_of_all);
    } else {
        std::fprintf(stderr, "Universes: ");
        for (std::size_t i = 0; i < settings.universes.count; ++i)
            std::fprintf(stderr, i == 0 ? "%d" : ", %d", settings.universes.universes[i]);
        std::fprintf(stderr, "\n");
    }
    std::fprintf(
        stderr, "Target: %s:%d | Interval: %d ms", shown_target(settings.net), settings.net.port, settings.interval_ms);
    if (settings.frame_count >= 0)
        std::fprintf(stderr, " | Frames: %d", settings.frame_count);
    std::fprintf(stderr, "\n");
    if (settings.stamp)
        std::fprintf(stderr, "Universe stamp: channel 512 = universe, channel 511 = frame\n");
    if (settings.sync && settings.net.sacn)
        std::fprintf(stderr, "Sync packets for universe %u after every frame\n",
            static_cast<unsigned>(settings.universes.universes[0]));
    else if (settings.sync)
        std::fprintf(stderr, "ArtSync after every frame\n");
    print_maker_line(stderr);
    std::fprintf(stderr, "\n");
}

void print_status(const ramp_settings& settings, unsigned long long frames_sent, std::uint8_t offset,
    std::span<const std::uint8_t> frame)
{
    std::fprintf(stderr, "\rFrame: %llu | Ramp offset: %d | Ch 1-8: ", frames_sent, offset);
    for (const std::uint8_t level : frame.first(8))
        std::fprintf(stderr, "%3d ", level);
    if (settings.frame_count >= 0)
        std::fprintf(stderr, "| Progress: %llu/%d", frames_sent, settings.frame_count);
    std::fprintf(stderr, "   ");
    std::fflush(stderr);
    status_line_shown();
}

// With frames further apart than a receiver waits, an sACN source keeps each
// universe alive between them: the frame twice more at once, then within a
// second.
constexpr int longest_unkept_interval_ms = 1000;

// The sync packet of -S and the universe list when it is due, after a frame
// or a round of keep-alive.
bool end_frame(dmx_sender& sender, const ramp_settings& settings)
{
    return (!settings.sync || send_sync(sender)) && announce_universes(sender, monotonic_ns());
}

// Sends one frame of the ramp to every universe of the run, then, with -S,
// its sync packet. False after a failed send.
bool send_frame(dmx_sender& sender, const ramp_settings& settings, std::span<std::uint8_t, channels_per_universe> frame,
    unsigned long long frame_number, std::optional<resend_schedule>& resends)
{
    std::array<std::uint8_t, channels_per_universe> stamped{};
    for (const std::uint16_t universe : listed_universes(settings.universes)) {
        if (settings.stamp) {
            // Each universe stamps its own copy: a stamp may cover the ramp
            // that the next universe still carries.
            std::ranges::copy(frame, stamped.begin());
            stamp_universe(stamped, universe, frame_number);
        }
        if (!send_dmx(sender, universe, settings.stamp ? std::span(stamped) : frame))
            return false;
        if (resends)
            resends->sent(universe, monotonic_ns());
    }
    // Nodes that take part hold what came until the sync packet: every
    // universe of the frame changes at once.
    return end_frame(sender, settings);
}

// Until `next`, when the next frame is due, keeping the universes alive on
// the way when there is a schedule. False after a stop request or a failed
// send.
bool wait_for_frame(
    dmx_sender& sender, const ramp_settings& settings, std::optional<resend_schedule>& resends, std::int64_t next)
{
    while (running) {
        std::int64_t now = monotonic_ns();
        if (now >= next)
            return true;
        if (!resends || resends->first_due() > now) {
            sleep_until(resends ? std::min(resends->first_due(), next) : next);
            continue;
        }
        while (resends->first_due() <= now) {
            if (!send_again(sender, resends->first()))
                return false;
            resends->resent(now);
            now = monotonic_ns();
        }
        if (!end_frame(sender, settings))
            return false;
    }
    return false;
}

// Sends the frames, each due at start + k intervals, so that sending time
// and the sleep's own lateness do not add up into a slower rate. Returns the
// exit status.
int send_ramp(dmx_sender& sender, const ramp_settings& settings)
{
    std::array<std::uint8_t, channels_per_universe> frame{};
    std::uint8_t offset = 0;
    unsigned long long frames_sent = 0;
    unsigned long long last_status = 0;
    std::optional<resend_schedule> resends;
    if (settings.net.sacn && settings.interval_ms > longest_unkept_interval_ms)
        resends.emplace(sacn_keep_alive_ms * ns_per_ms, sacn_repeats, sacn_repeat_gap_ms * ns_per_ms);
    pacing pace;
    start_periodic(pace, settings.interval_ms * ns_per_ms, monotonic_ns());
    while (
        running && (settings.frame_count < 0 || frames_sent < static_cast<unsigned long long>(settings.frame_count))) {
        const std::int64_t now = monotonic_ns();
        fill_ramp(frame, offset);
        const std::uint8_t frame_offset = offset++;
        if (!send_frame(sender, settings, frame, frames_sent, resends))
            return 1;
        ++frames_sent;
        if (settings.verbose && (frames_sent == 1 || frames_sent - last_status >= 10)) {
            print_status(settings, frames_sent, frame_offset, frame);
            last_status = frames_sent;
        }
        // Far behind (a suspended process, a slow network), the frames go on
        // from this one rather than in a burst of late ones.
        if (!wait_for_frame(sender, settings, resends, pace_next(pace, 1, now)) && running)
            return 1;
    }
    if (settings.verbose)
        std::fprintf(stderr, "\n");
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    ensure_standard_descriptors();
    if (!asks_for_help_or_version(argc, argv, option_letters))
        print_banner("rampgen", "Art-Net test pattern generator");
    ramp_settings settings;
    if (const int status = read_options(argc, argv, settings); status >= 0)
        return status;
    const e131_identity identity = settings.net.sacn ? make_e131_identity("rampgen") : e131_identity{};
    print_report(settings, identity);
    dmx_sender sender;
    if (!open_sender(sender, settings.net, identity))
        return 1;
    if (settings.sync)
        sender.sync_universe = settings.universes.universes[0];
    // An sACN source ends its streams when it is stopped, too; without -E the
    // signals keep their default actions.
    if (settings.net.sacn)
        install_stop_handlers();
    const int status = send_ramp(sender, settings);
    return end_streams(sender) ? status : 1;
}
