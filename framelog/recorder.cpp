#include "recorder.hpp"

#include "clock.hpp"
#include "e131_merge.hpp"
#include "frame_csv.hpp"
#include "notices.hpp"
#include "show_csv.hpp"
#include "signals.hpp"
#include "status_line.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <string_view>
#include <tuple>

#include <arpa/inet.h>
#include <unistd.h>

std::int64_t get_time_ms()
{
    return monotonic_ns() / 1'000'000;
}

namespace {

// Without the flush the lines could sit in the buffer and be lost with the
// process; its failure is the one a full disk usually shows.
bool flush(std::FILE* file, bool written)
{
    if (written && std::fflush(file) == 0)
        return true;
    if (errno == EINTR && !running)
        return false; // stopped while a reader was slow: no error of the file
    end_status_line();
    std::perror(written ? "fflush" : "fprintf");
    return false;
}

// " 1, 16": every universe after the first set off by a comma.
bool print_universes(std::FILE* out, std::span<const std::uint16_t> universes)
{
    bool printed = true;
    for (std::size_t i = 0; i < universes.size(); ++i)
        printed = std::fprintf(out, i == 0 ? " %d" : ", %d", universes[i]) >= 0 && printed;
    return printed;
}

bool is_change(const recorder& rec, std::uint16_t slot, std::span<const std::uint8_t> levels)
{
    // A new length alone is a change, even when one frame is a prefix of the other.
    const universe_frame* last = rec.last.find(slot);
    return last == nullptr || last->length != levels.size()
        || !std::equal(levels.begin(), levels.end(), last->levels.begin());
}

std::uint32_t row_delay(const recorder& rec, std::int64_t now_ms)
{
    if (!rec.have_row)
        return 0;
    const std::int64_t gap = now_ms - rec.last_row_time;
    if (rec.per_universe)
        return static_cast<std::uint32_t>(std::clamp<std::int64_t>(gap, 0, 0xffffffff));
    return std::max(static_cast<std::uint16_t>(gap), rec.min_delay);
}

void remember_row(recorder& rec, std::uint16_t slot, std::span<const std::uint8_t> levels, std::int64_t now_ms)
{
    universe_frame& last = rec.last.find_or_add(slot);
    std::ranges::copy(levels, last.levels.begin());
    last.length = levels.size();
    rec.have_row = true;
    // The real arrival, not a time pushed on by the minimum delay, so the
    // minimum stretches playback without shifting later gaps.
    rec.last_row_time = now_ms;
    ++rec.counts.frames_recorded;
    if (rec.per_universe)
        rec.counts.universes_recorded = rec.last.all().size();
}

// " 1, 2, 7-9": runs of three or more universes as their first and last.
void print_universe_list(std::FILE* out, const std::bitset<universe_field_values>& universes)
{
    const char* separator = " ";
    for (std::size_t u = 0; u < universes.size(); ++u) {
        if (!universes.test(u))
            continue;
        std::size_t last = u;
        while (last + 1 < universes.size() && universes.test(last + 1))
            ++last;
        if (last >= u + 2) {
            std::fprintf(out, "%s%zu-%zu", separator, u, last);
        } else {
            for (std::size_t v = u; v <= last; ++v, separator = ", ")
                std::fprintf(out, "%s%zu", separator, v);
        }
        separator = ", ";
        u = last;
    }
}

void print_source_line(std::FILE* out, const reported_source& source)
{
    std::array<char, INET_ADDRSTRLEN> address{};
    ::inet_ntop(AF_INET, &source.from.address, address.data(), address.size());
    if (source.from.protocol == source_protocol::sacn)
        std::fprintf(out, "Source \"%s\" %s (sACN, priority %d):", source.name.data(), address.data(),
            static_cast<int>(source.from.priority));
    else
        std::fprintf(out, "Source %s:%d (Art-Net):", address.data(), static_cast<int>(source.from.port));
    std::fprintf(out, " universe%s", source.universes.count() == 1 ? "" : "s");
    print_universe_list(out, source.universes);
    std::fprintf(out, "; %llu packet%s; %llu sequence gap%s\n", source.packets, source.packets == 1 ? "" : "s",
        source.gaps, source.gaps == 1 ? "" : "s");
}

void print_sources(std::FILE* out, const source_report& report)
{
    std::array<const reported_source*, most_reported_sources> sorted{};
    const std::size_t count = std::min(report.sources.size(), sorted.size());
    for (std::size_t i = 0; i < count; ++i)
        sorted[i] = &report.sources[i];
    const auto key = [](const reported_source* source) {
        return std::tuple(ntohl(source->from.address.s_addr), source->from.port, source->from.cid);
    };
    std::sort(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(count),
        [&key](const reported_source* a, const reported_source* b) { return key(a) < key(b); });
    for (std::size_t i = 0; i < count; ++i)
        print_source_line(out, *sorted[i]);
    if (report.more.size() != 0)
        std::fprintf(out, "and %s%zu more\n", report.more.full() ? "at least " : "", report.more.size());
}

} // namespace

void note_sender(source_report& report, const packet_source& from, std::string_view raw_name, std::uint16_t universe,
    unsigned long long gaps)
{
    std::vector<reported_source>& sources = report.sources;
    if (report.last >= sources.size() || !same_source(sources[report.last].from, from)) {
        const auto known = std::ranges::find_if(
            sources, [&from](const reported_source& source) { return same_source(source.from, from); });
        if (known == sources.end() && sources.size() == most_reported_sources) {
            report.more.note(source_fingerprint(from), 0);
            return;
        }
        if (known == sources.end()) {
            sources.emplace_back();
            copy_shown_name(raw_name, sources.back().name);
        }
        report.last = known == sources.end() ? sources.size() - 1 : static_cast<std::size_t>(known - sources.begin());
    }
    reported_source& source = sources[report.last];
    source.from = from;
    source.universes.set(universe);
    ++source.packets;
    source.gaps += gaps;
}

void start_recorder(recorder& rec, const recorder_settings& settings)
{
    rec.counts.senders.sources.reserve(most_reported_sources);
    rec.per_universe = settings.show_file;
    rec.sacn = settings.net.sacn;
    rec.counts.sacn = settings.net.sacn;
    rec.all = settings.record_all;
    if (!rec.all)
        for (const std::uint16_t universe : recorded_universes(settings))
            rec.wanted.set(universe);
    rec.min_delay = settings.min_delay;
}

frame_taken take_frame(recorder& rec, std::FILE* file, std::uint16_t universe, std::span<const std::uint8_t> levels,
    std::int64_t now_ms, bool from_packet)
{
    if (!rec.all && !rec.wanted.test(universe))
        return frame_taken::passed_over;
    if (rec.per_universe && !rec.sacn && universe > highest_port_address) {
        ++rec.counts.packets_skipped;
        return frame_taken::passed_over;
    }
    if (from_packet)
        ++rec.counts.packets_received;
    const std::uint16_t slot = rec.per_universe ? universe : 0;
    if (!is_change(rec, slot, levels))
        return frame_taken::unchanged;
    const std::array<std::uint32_t, 2> leading = {row_delay(rec, now_ms), universe};
    if (!flush(file, write_csv_row(file, std::span(leading).first(rec.per_universe ? 2 : 1), levels)))
        return frame_taken::write_failed;
    remember_row(rec, slot, levels, now_ms);
    return frame_taken::written;
}

bool write_header(std::FILE* file, const recorder_settings& settings)
{
    const std::string_view first_line = settings.net.sacn ? sacn_recording_header : artnet_recording_header;
    bool written = std::fprintf(file, "%.*s\n", static_cast<int>(first_line.size()), first_line.data()) >= 0;
    if (settings.show_file) {
        // The format line by which players know a show file.
        written = std::fprintf(file,
                      "%.*s\n"
                      "# Each row is a frame of one universe, first column is delay before that frame\n"
                      "# Only records frames when DMX values change (change detection per universe)\n",
                      static_cast<int>(show_format_line.size()), show_format_line.data())
                >= 0
            && written;
    } else {
        written = std::fprintf(file,
                      "# Format: delay_ms,channel1,channel2,channel3,...\n"
                      "# Each row is a frame, first column is delay before that frame\n"
                      "# Only records frames when DMX values change (change detection enabled)\n")
                >= 0
            && written;
    }
    if (settings.record_all)
        written = std::fprintf(file, "# Recording all universes") >= 0 && written;
    else
        written = std::fprintf(file, settings.show_file ? "# Recording universes" : "# Recording universe") >= 0
            && print_universes(file, recorded_universes(settings)) && written;
    written = std::fprintf(file, "\n\n") >= 0 && written;
    return flush(file, written);
}

void drop_partial_row(std::FILE* file, long complete_size)
{
    // Devices and pipes cannot be cut (EINVAL); nothing was promised there.
    if (complete_size >= 0 && ::ftruncate(::fileno(file), complete_size) != 0 && errno != EINVAL) {
        end_status_line();
        std::perror("ftruncate");
    }
}

void print_startup_report(const recorder_settings& settings, const dmx_receiver& receiver)
{
    const artnet_node& node = receiver.node;
    std::fprintf(stderr, "Recording to: %s\n", settings.path);
    std::fprintf(stderr, "Listening on port %d", settings.net.port);
    const std::span<const std::uint16_t> recorded = recorded_universes(settings);
    if (settings.record_all) {
        std::fprintf(stderr, " (all universes)\n");
    } else if (recorded.size() == 1) {
        std::fprintf(stderr, " (universe %d only)\n", recorded[0]);
    } else {
        std::fprintf(stderr, " (universes");
        print_universes(stderr, recorded);
        std::fprintf(stderr, ")\n");
    }
    if (settings.net.sacn)
        print_sacn_line(stderr, receiver, settings.net);
    if (node.enabled) {
        print_node_line(stderr, node);
        print_unannounced_line(stderr, node);
    }
    if (settings.min_delay != 0)
        std::fprintf(stderr, "Minimum delay: %d ms\n", settings.min_delay);
    std::fprintf(stderr, "Press Ctrl+C to stop\n");
    print_maker_line(stderr);
    std::fprintf(stderr, "\n");
}

void print_status(const recording_counts& counts, std::uint16_t universe, std::size_t length)
{
    std::fprintf(stderr, "\rFrames recorded: %llu | Packets: %llu (Universe %d, %zu channels)   ",
        counts.frames_recorded, counts.packets_received, universe, length);
    std::fflush(stderr);
    status_line_shown();
}

void print_shutdown_report(const recording_counts& counts)
{
    std::fprintf(stderr, "\nRecording stopped.\n");
    std::fprintf(stderr, "Frames recorded: %llu (only changes)\n", counts.frames_recorded);
    std::fprintf(stderr, "Packets received: %llu\n", counts.packets_received);
    if (counts.packets_skipped != 0)
        std::fprintf(stderr, "Packets skipped: %llu (universe above %d, not a Port-Address)\n", counts.packets_skipped,
            highest_port_address);
    if (counts.universes_recorded != 0)
        std::fprintf(stderr, "Universes recorded: %zu\n", counts.universes_recorded);
    if (counts.sacn)
        std::fprintf(stderr, "sACN sources seen: %zu%s\n", counts.sources_seen,
            counts.sources_seen == most_counted_sources ? " or more" : "");
    if (counts.sources_ignored != 0)
        std::fprintf(stderr, "sACN sources ignored: %llu (more than %zu on a universe)\n", counts.sources_ignored,
            most_sources_per_universe);
    if (counts.datagrams_lost != 0)
        std::fprintf(stderr, "Datagrams lost: %llu (the receive queue was full)\n", counts.datagrams_lost);
    if (counts.packets_received != 0) {
        const double share = static_cast<double>(counts.frames_recorded) / static_cast<double>(counts.packets_received);
        std::fprintf(stderr, "Efficiency: %.1f%% reduction (recorded %llu of %llu packets)\n", 100.0 * (1.0 - share),
            counts.frames_recorded, counts.packets_received);
    }
    print_sources(stderr, counts.senders);
}
