// cuetrig: watches one channel of one universe and runs commands when its
// level crosses between low and high, or leaves zero.

#include "clock.hpp"
#include "command_line.hpp"
#include "descriptors.hpp"
#include "notices.hpp"
#include "receiver.hpp"
#include "signals.hpp"
#include "watch.hpp"

#include <cstdint>
#include <cstdio>
#include <span>

namespace {

// Datagrams lost while no command ran are told at most this often.
constexpr std::int64_t loss_look_interval_ns = 1'000'000'000;

// The datagrams that the system dropped for want of room in the socket's
// queue, as far as they have been told.
struct loss_count {
    unsigned long long told = 0;
    std::int64_t next_look = 0;
};

// A flood of datagrams can fill the queue while no command runs; that is
// said apart from the loss behind a command, and not on every frame.
void tell_queue_losses(const dmx_receiver& receiver, loss_count& losses)
{
    const std::int64_t now = monotonic_ns();
    if (now < losses.next_look)
        return;
    losses.next_look = now + loss_look_interval_ns;
    const unsigned long long lost = datagrams_lost(receiver);
    if (lost > losses.told)
        std::fprintf(stderr, "Warning: %llu datagrams were lost (the receive queue was full)\n", lost - losses.told);
    losses.told = lost;
}

// Runs the transition's commands. While a command runs nothing is read:
// datagrams queue, and once the queue is full the system drops them,
// transitions among them.
void run_and_count_losses(const dmx_receiver& receiver, const watch_config& config, std::uint8_t old_value,
    std::uint8_t new_value, loss_count& losses)
{
    const unsigned long long lost_before = datagrams_lost(receiver);
    run_triggers(config, old_value, new_value);
    const unsigned long long lost = datagrams_lost(receiver) - lost_before;
    if (lost != 0)
        std::fprintf(stderr, "Warning: %llu datagrams were lost while the command ran\n", lost);
    // Those lost before the command are still to be told.
    losses.told += lost;
}

// Receives until a stop signal or a failed receive. The first accepted packet
// only records the level: a transition needs a level seen before it.
void watch_channel(dmx_receiver& receiver, const watch_config& config)
{
    std::uint8_t last_value = 0;
    bool has_last_value = false;
    loss_count losses;
    while (running) {
        const receive_event event = next_frame(receiver);
        if (event == receive_event::failed)
            break;
        tell_queue_losses(receiver, losses);
        // The whole 16-bit universe counts: 257 is not universe 1. A packet
        // too short to reach the channel says nothing about its level.
        if (event != receive_event::frame || receiver.universe != config.universe
            || config.channel_index >= receiver.levels.size())
            continue;
        const std::uint8_t value = receiver.levels[config.channel_index];
        if (has_last_value && plan_triggers(config, last_value, value).count != 0)
            run_and_count_losses(receiver, config, last_value, value, losses);
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
    print_banner("cuetrig", settings.net.sacn ? "sACN channel trigger" : "Art-Net channel trigger");
    install_stop_handlers();
    dmx_receiver receiver;
    const receiver_opening opened = settings.net.sacn
        ? open_sacn_receiver(receiver, settings.net, std::span(&settings.watch.universe, 1), false)
        : open_artnet_receiver(receiver, settings.net.port);
    if (opened != receiver_opening::opened)
        return 1;
    receiver.report_node_address = true;
    if (settings.net.answer_polls)
        answer_polls(receiver, "cuetrig", settings.watch.universe, false);
    print_report(settings, receiver);
    watch_channel(receiver, settings.watch);
    return 0;
}
