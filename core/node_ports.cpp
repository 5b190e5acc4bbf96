#include "node_ports.hpp"

#include <algorithm>

void set_ports(node_ports& ports, std::span<const std::uint16_t> universes)
{
    ports.count = 0;
    ports.left_out = 0;
    for (const std::uint16_t universe : universes) {
        const auto taken = std::span(ports.universes).first(ports.count);
        if (ports.count < most_node_ports && std::ranges::find(taken, universe) == taken.end())
            ports.universes[ports.count++] = universe;
    }
    const auto taken = std::span(ports.universes).first(ports.count);
    std::ranges::sort(taken);
    ports.last_frame.fill(0);
    // A new reply where Net and Sub-Net change, or after four ports; the
    // ports that would start a reply past the last number are left out.
    ports.replies = 0;
    for (std::size_t i = 0; i < ports.count; ++i) {
        const std::size_t first = ports.replies == 0 ? 0 : ports.reply_start[ports.replies - 1];
        if (ports.replies != 0 && i - first < ports_per_reply && taken[i] >> 4 == taken[first] >> 4)
            continue;
        if (ports.replies == most_replies) {
            ports.left_out = ports.count - i;
            ports.count = i;
            break;
        }
        ports.reply_start[ports.replies++] = static_cast<std::uint16_t>(i);
    }
    ports.reply_start[ports.replies] = static_cast<std::uint16_t>(ports.count);
}

void note_port_frame(node_ports& ports, std::uint16_t universe, std::int64_t now)
{
    const auto taken = std::span(ports.universes).first(ports.count);
    const auto found = std::ranges::lower_bound(taken, universe);
    if (found != taken.end() && *found == universe)
        ports.last_frame[static_cast<std::size_t>(found - taken.begin())] = now;
}

std::size_t reply_ports(const node_ports& ports, std::size_t index, std::int64_t now, std::int64_t window_ns,
    std::span<std::uint16_t, ports_per_reply> universes, std::span<bool, ports_per_reply> outputting)
{
    const std::size_t first = ports.reply_start[index];
    const std::size_t count = ports.reply_start[index + 1] - first;
    for (std::size_t port = 0; port < count; ++port) {
        universes[port] = ports.universes[first + port];
        const std::int64_t last = ports.last_frame[first + port];
        outputting[port] = last != 0 && now - last < window_ns;
    }
    return count;
}
