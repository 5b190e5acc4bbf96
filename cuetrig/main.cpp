// cuetrig: watches one channel of one universe and runs commands when its
// level crosses between low and high, or leaves zero.

#include "artnet_receiver.hpp"
#include "command_line.hpp"
#include "descriptors.hpp"
#include "notices.hpp"
#include "signals.hpp"
#include "watch.hpp"

#include <cstdint>
#include <cstdio>

namespace {

// Receives until a stop signal or a failed receive. The first accepted packet
// only records the level: a transition needs a level seen before it.
void watch_channel(artnet_receiver& receiver, const watch_config& config)
{
    std::uint8_t last_value = 0;
    bool has_last_value = false;
    while (running) {
        const receive_event event = next_frame(receiver);
        if (event == receive_event::failed)
            break;
        // The whole 16-bit universe counts: 257 is not universe 1. A packet
        // too short to reach the channel says nothing about its level.
        if (event != receive_event::frame || receiver.universe != config.universe
            || config.channel_index >= receiver.levels.size())
            continue;
        const std::uint8_t value = receiver.levels[config.channel_index];
        if (has_last_value) {
            // While a command runs nothing is read: datagrams queue, and once
            // the queue is full the system drops them, transitions among them.
            const unsigned long long lost_before = datagrams_lost(receiver);
            run_triggers(config, last_value, value);
            if (const unsigned long long lost = datagrams_lost(receiver) - lost_before; lost != 0)
                std::fprintf(stderr, "Warning: %llu datagrams were lost while the command ran\n", lost);
        }
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
    artnet_receiver receiver;
    if (open_artnet_receiver(receiver, settings.port) != receiver_opening::opened)
        return 1;
    receiver.report_node_address = true;
    if (settings.answer_polls)
        answer_polls(receiver, "cuetrig", settings.watch.universe, false);
    print_report(settings, receiver.node);
    watch_channel(receiver, settings.watch);
    return 0;
}
