// framelog: records the frames of one or every universe that differ from the
// last one written, as rows of a frame sequence CSV with their delays.

#include "artnet_receiver.hpp"
#include "descriptors.hpp"
#include "notices.hpp"
#include "recorder.hpp"
#include "show_recording.hpp"
#include "signals.hpp"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include <sys/stat.h>

namespace {

// The output's hang-up, watched beside the socket when the output is a pipe,
// a FIFO or a terminal: once its reader has gone, the recording ends at once,
// not only at the next row written (which a static look may never bring).
pollfd output_watch(std::FILE* file)
{
    struct stat info { };
    const int fd = ::fileno(file);
    if (::fstat(fd, &info) != 0 || S_ISREG(info.st_mode))
        return {-1, 0, 0};
    return {fd, 0, 0}; // POLLHUP and POLLERR come unasked
}

// Whether the frame just received is a change, as the recording asks: against
// the last row written, or with -U the last row of its own universe.
bool is_new_row(const recorder_settings& settings, const recording_state& state, const show_recording& show,
    const artnet_receiver& receiver)
{
    if (settings.show_file)
        return is_universe_change(show, receiver.universe, receiver.levels);
    return is_change(state, receiver.data, receiver.levels.size());
}

// Writes the frame just received as a row; false after a failed write.
bool write_new_row(std::FILE* file, const recorder_settings& settings, recording_state& state, show_recording& show,
    const artnet_receiver& receiver, std::int64_t now)
{
    const std::span<const std::uint8_t> levels = receiver.levels;
    if (!settings.show_file) {
        if (!write_row(file, row_delay(state, now, settings.min_delay), levels))
            return false;
        remember_row(state, receiver.data, levels.size(), now);
        return true;
    }
    if (!write_universe_row(file, show_row_delay(show, now), receiver.universe, levels))
        return false;
    remember_universe_row(show, state, receiver.universe, levels, now);
    return true;
}

// Receives and writes until a stop request, a failed receive, a failed write
// or the output's hang-up. Returns the exit status.
int record(artnet_receiver& receiver, std::FILE* file, const recorder_settings& settings, recording_state& state)
{
    show_recording show;
    start_show_recording(show, settings);
    long complete_size = std::ftell(file);
    std::array<pollfd, 1> watched = {output_watch(file)};
    while (running) {
        const receive_event event = next_frame(receiver, watched);
        if (event == receive_event::failed)
            return 0;
        if (event == receive_event::ready)
            return 1; // nobody reads the recording any more
        if (event != receive_event::frame)
            continue;
        if (settings.show_file ? !is_recorded(show, receiver.universe)
                               : !settings.record_all && receiver.universe != settings.universe)
            continue;
        ++state.packets_received;
        const std::int64_t now = get_time_ms();
        if (is_new_row(settings, state, show, receiver)) {
            if (!write_new_row(file, settings, state, show, receiver, now)) {
                // A stop request that cut short a write to a slow reader is
                // a stop like any other.
                if (!running)
                    return 0;
                drop_partial_row(file, complete_size);
                return 1;
            }
            complete_size = std::ftell(file);
        }
        print_status(state, receiver.universe, receiver.levels.size());
    }
    return 0;
}

// The output with its header, or nothing and the exit status: a stop request
// that ends the wait for a FIFO's reader, or a slow reader's write, is a stop
// with the (empty) report.
unique_file open_recording(const recorder_settings& settings, int& status)
{
    // "-" records to standard output, for pipelines; a FIFO's open waits for
    // a reader, and a stop request ends that wait.
    const bool to_stdout = std::string_view(settings.path) == "-";
    unique_file file(to_stdout ? stdout : std::fopen(settings.path, "w"));
    if (!file && (errno != EINTR || running))
        std::perror("fopen");
    if (file && write_header(file.get(), settings))
        return file;
    status = running ? 1 : 0;
    if (!running)
        print_shutdown_report(recording_state{});
    return nullptr;
}

} // namespace

int main(int argc, char* argv[])
{
    ensure_standard_descriptors();
    if (!asks_for_help_or_version(argc, argv, option_letters))
        print_banner("framelog", "records Art-Net DMX to CSV");
    recorder_settings settings;
    if (const int status = read_options(argc, argv, settings); status >= 0)
        return status;
    install_stop_handlers();
    // A FIFO whose reader went away, and a file size limit (ulimit -f), must
    // end the recording with a report and its complete rows, not kill it.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);

    // The endpoint before the file, so that a port in use leaves an existing
    // recording untouched.
    artnet_receiver receiver;
    if (const receiver_opening opened = open_artnet_receiver(receiver, settings.port);
        opened != receiver_opening::opened) {
        if (opened == receiver_opening::bind_failed)
            print_bind_hints(settings.port);
        return 1;
    }
    int status = 0;
    unique_file file = open_recording(settings, status);
    if (!file)
        return status;
    receiver.report_node_address = true;
    if (settings.answer_polls && settings.show_file && !settings.record_all)
        answer_polls(receiver, "framelog", listed_universes(settings.listed));
    else if (settings.answer_polls)
        answer_polls(receiver, "framelog", settings.universe, settings.record_all);
    print_startup_report(settings, receiver.node);

    recording_state state;
    int exit_status = record(receiver, file.get(), settings, state);
    state.datagrams_lost = datagrams_lost(receiver);
    print_shutdown_report(state);
    if (std::fclose(file.release()) != 0) {
        std::perror("fclose");
        exit_status = 1;
    }
    return exit_status;
}
