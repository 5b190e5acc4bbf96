// framelog: records the frames of one or every universe that differ from the
// last one written, as rows of a frame sequence CSV with their delays.

#include "artnet_receiver.hpp"
#include "descriptors.hpp"
#include "notices.hpp"
#include "recorder.hpp"
#include "signals.hpp"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string_view>

int main(int argc, char* argv[])
{
    ensure_standard_descriptors();
    if (!asks_for_help_or_version(argc, argv, option_letters))
        print_banner("framelog", "records Art-Net DMX to CSV");
    recorder_settings settings;
    if (const int status = read_options(argc, argv, settings); status >= 0)
        return status;
    install_stop_handlers();
    // A FIFO whose reader went away must end the recording with a report,
    // not kill it silently.
    std::signal(SIGPIPE, SIG_IGN);

    // The endpoint before the file, so that a port in use leaves an existing
    // recording untouched.
    artnet_receiver receiver;
    if (const receiver_opening opened = open_artnet_receiver(receiver, settings.port);
        opened != receiver_opening::opened) {
        if (opened == receiver_opening::bind_failed)
            print_bind_hints(settings.port);
        return 1;
    }
    // "-" records to standard output, for pipelines; a FIFO's open waits for
    // a reader, and a stop request ends that wait.
    const bool to_stdout = std::string_view(settings.path) == "-";
    unique_file file(to_stdout ? stdout : std::fopen(settings.path, "w"));
    if (!file && errno == EINTR && !running) {
        print_shutdown_report(recording_state{});
        return 0;
    }
    if (!file) {
        std::perror("fopen");
        return 1;
    }
    if (!write_header(file.get(), settings)) {
        if (running)
            return 1;
        print_shutdown_report(recording_state{});
        return 0;
    }
    receiver.report_node_address = true;
    if (settings.answer_polls)
        answer_polls(receiver, "framelog", settings.universe, settings.record_all);
    print_startup_report(settings, receiver.node);

    recording_state state;
    long complete_size = std::ftell(file.get());
    int exit_status = 0;
    while (running) {
        const receive_event event = next_frame(receiver);
        if (event == receive_event::failed)
            break;
        if (event != receive_event::frame || (!settings.record_all && receiver.universe != settings.universe))
            continue;
        ++state.packets_received;
        const std::int64_t now = get_time_ms();
        const std::span<const std::uint8_t> levels = receiver.levels;
        if (is_change(state, receiver.data, levels.size())) {
            if (!write_row(file.get(), row_delay(state, now, settings.min_delay), levels)) {
                // A stop request that cut short a write to a slow reader is
                // a stop like any other.
                if (!running)
                    break;
                drop_partial_row(file.get(), complete_size);
                exit_status = 1;
                break;
            }
            remember_row(state, receiver.data, levels.size(), now);
            complete_size = std::ftell(file.get());
        }
        print_status(state, receiver.universe, levels.size());
    }

    print_shutdown_report(state);
    if (std::fclose(file.release()) != 0) {
        std::perror("fclose");
        exit_status = 1;
    }
    return exit_status;
}
