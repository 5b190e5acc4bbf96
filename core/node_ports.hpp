#pragma once
// The output ports a node announces: the universes a receiver takes, grouped
// into replies of up to four that share Net and Sub-Net (as one reply's
// ports must), and when frames last came for each, which a reply reports.

#include "artpoll.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// The most ports a node announces: a whole rig of 256 universes.
constexpr std::size_t most_node_ports = 256;
// Replies are numbered by BindIndex from 1 to 255 in one byte; 0 would name
// the root device, so a 256th reply has no number of its own.
constexpr std::size_t most_replies = 255;

struct node_ports {
    std::array<std::uint16_t, most_node_ports> universes{}; // sorted, each once
    std::size_t count = 0;
    std::array<std::int64_t, most_node_ports> last_frame{}; // per port, 0 for none yet
    // Reply r describes the ports from reply_start[r] up to reply_start[r + 1].
    std::array<std::uint16_t, most_node_ports + 1> reply_start{};
    std::size_t replies = 0;
    std::size_t left_out = 0; // universes past the last reply
};

// The ports for `universes` (15-bit Port-Addresses; the first 256 distinct),
// as far as they fit in most_replies replies; those that do not are counted
// in `left_out`.
void set_ports(node_ports& ports, std::span<const std::uint16_t> universes);
// A frame for `universe` came in at `now`; universes without a port are
// passed over.
void note_port_frame(node_ports& ports, std::uint16_t universe, std::int64_t now);
// The universes of reply `index`, and whether frames came for each within
// `window_ns` before `now`.
std::size_t reply_ports(const node_ports& ports, std::size_t index, std::int64_t now, std::int64_t window_ns,
    std::span<std::uint16_t, ports_per_reply> universes, std::span<bool, ports_per_reply> outputting);
