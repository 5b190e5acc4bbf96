#pragma once
// ArtPoll and ArtPollReply, the discovery packets of Art-Net: a controller
// polls, and every node answers with a reply that describes it and its ports.
// Controllers that send ArtDmx by unicast send it only to the nodes that
// announced the universe this way.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

constexpr std::size_t artpoll_min_size = 14;
constexpr std::size_t artpollreply_size = 239;
// The most ports one reply describes.
constexpr std::size_t ports_per_reply = 4;

// What a node needs of an ArtPoll. TalkToMe's bits concern diagnostics and
// when replies are wanted unasked; the priority belongs to diagnostics.
struct artpoll {
    std::uint8_t flags = 0;
    std::uint8_t diag_priority = 0;
};

// True for an ArtPoll a node answers: the Art-Net ID, OpCode 0x2000 (low byte
// first), at least 14 bytes and a protocol version of 14 or more. What follows
// the fields it knows (Art-Net 4's additions) is ignored.
bool parse_artpoll(std::span<const std::uint8_t> packet, artpoll& out);

// A reply's content: the node, and the output ports (1 to 4) that this reply
// describes. The ports' universes share their top 11 bits, as Net and
// Sub-Net are the reply's.
struct artpollreply_fields {
    std::array<std::uint8_t, 4> address{}; // the node's IPv4 address, first octet first
    std::uint8_t version_high = 1;
    std::uint8_t version_low = 0;
    std::string_view short_name;  // cut to 17 characters
    std::string_view long_name;   // cut to 63
    std::string_view node_report; // cut to 63
    std::uint8_t bind_index = 1;
    std::array<std::uint16_t, ports_per_reply> universes{}; // 15-bit Port-Addresses
    std::array<bool, ports_per_reply> outputting{};         // frames for the port arrive
    std::size_t port_count = 1;
};

// Writes a whole 239-byte ArtPollReply: a DMX node (StNode) with output ports
// only, Art-Net port 6454, OEM unknown, 15-bit Port-Addresses understood, and
// BindIp equal to the node's address. Every name is zero-terminated.
void build_artpollreply(std::span<std::uint8_t, artpollreply_size> packet, const artpollreply_fields& fields);
