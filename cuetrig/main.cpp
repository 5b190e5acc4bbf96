// cuetrig: watches one channel of one universe and runs commands when its
// level crosses between low and high, or leaves zero.

#include "artdmx.hpp"
#include "command_line.hpp"
#include "runtime.hpp"
#include "watch.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace {

// Receives until a stop signal or a failed receive. The first accepted packet
// only records the level: a transition needs a level seen before it.
void watch_channel(int sock, const watch_config& config, artnet_node& node)
{
    std::array<std::uint8_t, receive_buffer_size> datagram{};
    std::array<std::uint8_t, channels_per_universe> dmx_data{};
    std::uint8_t last_value = 0;
    bool has_last_value = false;
    while (running) {
        std::size_t length = 0;
        sockaddr_in source{};
        const receive_status status
            = receive_datagram(sock, datagram, length, {}, node_wait_ms(node, monotonic_ns()), &source);
        if (send_due_replies(node, sock, monotonic_ns()))
            print_node_line(stderr, node);
        if (status == receive_status::failed)
            break;
        if (status != receive_status::datagram)
            continue;
        const auto received = std::span(datagram).first(length);
        std::uint16_t universe = 0;
        std::size_t data_length = 0;
        if (!parse_artdmx(received, universe, dmx_data, data_length)) {
            take_poll(node, received, source, monotonic_ns());
            continue;
        }
        note_frame(node, universe, monotonic_ns());
        // The whole 16-bit universe counts: 257 is not universe 1. A packet
        // too short to reach the channel says nothing about its level.
        if (universe != config.universe || config.channel_index >= data_length)
            continue;
        const std::uint8_t value = dmx_data[config.channel_index];
        if (has_last_value)
            run_triggers(config, last_value, value);
        last_value = value;
        has_last_value = true;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    ensure_standard_descriptors();
    cuetrig_settings settings;
    if (const int status = read_command_line(argc, argv, settings); status >= 0)
        return status;
    print_banner("cuetrig", "Art-Net channel trigger");
    install_stop_handlers();
    const unique_fd sock = open_receiver(settings.port, bind_hints::hidden);
    if (!sock)
        return 1;
    set_nonblocking(sock.get());
    artnet_node node;
    if (settings.answer_polls)
        start_node(node, "cuetrig", settings.watch.universe, false);
    print_report(settings, node);
    watch_channel(sock.get(), settings.watch, node);
    return 0;
}
