// framelog: records the frames of one or every universe that differ from the
// last one written, as rows of a frame sequence CSV with their delays.

#include "artdmx.hpp"
#include "node.hpp"
#include "recorder.hpp"
#include "runtime.hpp"

#include <array>
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
    const unique_fd sock = open_receiver(settings.port, bind_hints::shown);
    if (!sock)
        return 1;
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
    artnet_node node;
    if (settings.answer_polls)
        start_node(node, "framelog", settings.universe, settings.record_all);
    print_startup_report(settings, node);
    set_nonblocking(sock.get());

    recording_state state;
    std::array<std::uint8_t, receive_buffer_size> buffer{};
    std::array<std::uint8_t, channels_per_universe> data{};
    long complete_size = std::ftell(file.get());
    int exit_status = 0;
    while (running) {
        std::size_t received = 0;
        sockaddr_in source{};
        const receive_status status
            = receive_datagram(sock.get(), buffer, received, {}, node_wait_ms(node, monotonic_ns()), &source);
        if (send_due_replies(node, sock.get(), monotonic_ns())) {
            end_status_line();
            print_node_line(stderr, node);
        }
        if (status == receive_status::failed)
            break;
        if (status != receive_status::datagram)
            continue;
        const auto datagram = std::span(buffer).first(received);
        std::uint16_t universe = 0;
        std::size_t length = 0;
        if (!parse_artdmx(datagram, universe, data, length)) {
            take_poll(node, datagram, source, monotonic_ns());
            continue;
        }
        note_frame(node, universe, monotonic_ns());
        if (!settings.record_all && universe != settings.universe)
            continue;
        ++state.packets_received;
        const std::int64_t now = get_time_ms();
        if (is_change(state, data, length)) {
            if (!write_row(file.get(), row_delay(state, now, settings.min_delay), std::span(data).first(length))) {
                // A stop request that cut short a write to a slow reader is
                // a stop like any other.
                if (!running)
                    break;
                drop_partial_row(file.get(), complete_size);
                exit_status = 1;
                break;
            }
            remember_row(state, data, length, now);
            complete_size = std::ftell(file.get());
        }
        print_status(state, universe, length);
    }

    print_shutdown_report(state);
    if (std::fclose(file.release()) != 0) {
        std::perror("fclose");
        exit_status = 1;
    }
    return exit_status;
}
