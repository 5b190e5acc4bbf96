// framelog: records the frames of one or every universe that differ from the
// last one written, as rows of a frame sequence CSV with their delays.

#include "descriptors.hpp"
#include "notices.hpp"
#include "receiver.hpp"
#include "recorder.hpp"
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

// Receives and records until a stop request, a failed receive, a failed
// write or the output's hang-up. Returns the exit status.
int record(dmx_receiver& receiver, std::FILE* file, recorder& rec)
{
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
        const frame_taken taken
            = take_frame(rec, file, receiver.universe, receiver.levels, get_time_ms(), receiver.from_packet);
        if (taken != frame_taken::passed_over && receiver.from_packet)
            note_sender(
                rec.counts.senders, receiver.sender, receiver.sender_name, receiver.universe, receiver.sender_gaps);
        if (taken == frame_taken::write_failed) {
            // A stop request that cut short a write to a slow reader is a
            // stop like any other.
            if (!running)
                return 0;
            drop_partial_row(file, complete_size);
            return 1;
        }
        if (taken == frame_taken::passed_over)
            continue;
        if (taken == frame_taken::written)
            complete_size = std::ftell(file);
        print_status(rec.counts, receiver.universe, receiver.levels.size());
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
    if (!running) {
        recording_counts none;
        none.sacn = settings.net.sacn;
        print_shutdown_report(none);
    }
    return nullptr;
}

} // namespace

int main(int argc, char* argv[])
{
    ensure_standard_descriptors();
    if (!asks_for_help_or_version(argc, argv, option_letters))
        print_banner("framelog",
            asks_for_sacn(argc, argv, option_letters) ? "records sACN DMX to CSV" : "records Art-Net DMX to CSV");
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
    dmx_receiver receiver;
    if (const receiver_opening opened = settings.net.sacn
            ? open_sacn_receiver(receiver, settings.net, recorded_universes(settings), settings.record_all)
            : open_artnet_receiver(receiver, settings.net.port);
        opened != receiver_opening::opened) {
        if (opened == receiver_opening::bind_failed)
            print_bind_hints(settings.net.port);
        return 1;
    }
    int status = 0;
    unique_file file = open_recording(settings, status);
    if (!file)
        return status;
    track_sources(receiver, recorded_universes(settings), settings.record_all);
    receiver.report_node_address = true;
    if (settings.net.answer_polls && settings.record_all)
        answer_polls(receiver, "framelog", universe_not_given, true);
    else if (settings.net.answer_polls)
        answer_polls(receiver, "framelog", recorded_universes(settings));
    print_startup_report(settings, receiver);

    recorder rec;
    start_recorder(rec, settings);
    int exit_status = record(receiver, file.get(), rec);
    rec.counts.datagrams_lost = datagrams_lost(receiver);
    rec.counts.sources_seen = receiver.sacn.merge.seen.size();
    rec.counts.sources_ignored = receiver.sacn.merge.sources_ignored;
    print_shutdown_report(rec.counts);
    if (std::fclose(file.release()) != 0) {
        std::perror("fclose");
        exit_status = 1;
    }
    return exit_status;
}
