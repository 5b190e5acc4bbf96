#include "recorder.hpp"

#include "clock.hpp"
#include "frame_csv.hpp"
#include "notices.hpp"
#include "numbers.hpp"
#include "show_csv.hpp"
#include "signals.hpp"
#include "status_line.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

std::int64_t get_time_ms()
{
    return monotonic_ns() / 1'000'000;
}

namespace {

// True when the first `count` bytes differ; false for a count of 0.
bool has_changes(std::span<const std::uint8_t, channels_per_universe> last,
    std::span<const std::uint8_t, channels_per_universe> current, std::size_t count)
{
    return count > 0 && std::memcmp(last.data(), current.data(), std::min(count, channels_per_universe)) != 0;
}

} // namespace

bool is_change(
    const recording_state& state, std::span<const std::uint8_t, channels_per_universe> data, std::size_t length)
{
    // A new length alone is a change, even when one frame is a prefix of the other.
    return !state.have_last || length != state.last_length || has_changes(state.last_frame, data, length);
}

std::uint16_t row_delay(const recording_state& state, std::int64_t now_ms, std::uint16_t min_delay)
{
    if (!state.have_last)
        return 0;
    const auto gap = static_cast<std::uint16_t>(now_ms - state.last_row_time);
    return std::max(gap, min_delay);
}

void remember_row(recording_state& state, std::span<const std::uint8_t, channels_per_universe> data, std::size_t length,
    std::int64_t now_ms)
{
    std::copy_n(data.begin(), length, state.last_frame.begin());
    state.last_length = length;
    state.have_last = true;
    ++state.frames_recorded;
    // The real arrival, not a time pushed on by the minimum delay, so the
    // minimum stretches playback without shifting later gaps.
    state.last_row_time = now_ms;
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

} // namespace

namespace {

// The show file's: the format line by which players know it, and which
// universes it holds.
bool write_show_header(std::FILE* file, const recorder_settings& settings)
{
    bool written = std::fprintf(file,
                       "# Art-Net recording created by framelog\n"
                       "%.*s\n"
                       "# Each row is a frame of one universe, first column is delay before that frame\n"
                       "# Only records frames when DMX values change (change detection per universe)\n",
                       static_cast<int>(show_format_line.size()), show_format_line.data())
        >= 0;
    written = std::fprintf(file, settings.record_all ? "# Recording all universes" : "# Recording universes") >= 0
        && written;
    const std::span<const std::uint16_t> listed = listed_universes(settings.listed);
    for (std::size_t i = 0; i < listed.size() && !settings.record_all; ++i)
        written = std::fprintf(file, i == 0 ? " %d" : ", %d", listed[i]) >= 0 && written;
    written = std::fprintf(file, "\n\n") >= 0 && written;
    return flush(file, written);
}

} // namespace

bool write_header(std::FILE* file, const recorder_settings& settings)
{
    if (settings.show_file)
        return write_show_header(file, settings);
    bool written = std::fprintf(file,
                       "# Art-Net recording created by framelog\n"
                       "# Format: delay_ms,channel1,channel2,channel3,...\n"
                       "# Each row is a frame, first column is delay before that frame\n"
                       "# Only records frames when DMX values change (change detection enabled)\n")
        >= 0;
    if (settings.record_all)
        written = std::fprintf(file, "# Recording all universes\n") >= 0 && written;
    else
        written = std::fprintf(file, "# Recording universe %d\n", settings.universe) >= 0 && written;
    written = std::fprintf(file, "\n") >= 0 && written;
    return flush(file, written);
}

bool write_row(std::FILE* file, std::uint16_t delay, std::span<const std::uint8_t> data)
{
    return flush(file, write_csv_frame(file, delay, data));
}

bool write_universe_row(
    std::FILE* file, std::uint32_t delay, std::uint16_t universe, std::span<const std::uint8_t> data)
{
    return flush(file, write_show_row(file, delay, universe, data));
}

void drop_partial_row(std::FILE* file, long complete_size)
{
    // Devices and pipes cannot be cut (EINVAL); nothing was promised there.
    if (complete_size >= 0 && ::ftruncate(::fileno(file), complete_size) != 0 && errno != EINVAL) {
        end_status_line();
        std::perror("ftruncate");
    }
}

void print_startup_report(const recorder_settings& settings, const artnet_node& node)
{
    std::fprintf(stderr, "Recording to: %s\n", settings.path);
    std::fprintf(stderr, "Listening on port %d", settings.port);
    if (settings.record_all)
        std::fprintf(stderr, " (all universes)\n");
    else
        std::fprintf(stderr, " (universe %d only)\n", settings.universe);
    if (node.enabled)
        print_node_line(stderr, node);
    if (settings.min_delay != 0)
        std::fprintf(stderr, "Minimum delay: %d ms\n", settings.min_delay);
    std::fprintf(stderr, "Press Ctrl+C to stop\n");
    print_maker_line(stderr);
    std::fprintf(stderr, "\n");
}

void print_status(const recording_state& state, std::uint16_t universe, std::size_t length)
{
    std::fprintf(stderr, "\rFrames recorded: %llu | Packets: %llu (Universe %d, %zu channels)   ",
        state.frames_recorded, state.packets_received, universe, length);
    std::fflush(stderr);
    status_line_shown();
}

void print_shutdown_report(const recording_state& state)
{
    std::fprintf(stderr, "\nRecording stopped.\n");
    std::fprintf(stderr, "Frames recorded: %llu (only changes)\n", state.frames_recorded);
    std::fprintf(stderr, "Packets received: %llu\n", state.packets_received);
    if (state.universes_recorded != 0)
        std::fprintf(stderr, "Universes recorded: %zu\n", state.universes_recorded);
    if (state.datagrams_lost != 0)
        std::fprintf(stderr, "Datagrams lost: %llu (the receive queue was full)\n", state.datagrams_lost);
    if (state.packets_received != 0) {
        const double share = static_cast<double>(state.frames_recorded) / static_cast<double>(state.packets_received);
        std::fprintf(stderr, "Efficiency: %.1f%% reduction (recorded %llu of %llu packets)\n", 100.0 * (1.0 - share),
            state.frames_recorded, state.packets_received);
    }
}
