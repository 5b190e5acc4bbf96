#pragma once
// A receiver acting as an Art-Net node (-N): it answers every ArtPoll on its
// socket with ArtPollReply datagrams that describe the universes it receives
// as output ports, so that controllers which send ArtDmx only to discovered
// nodes send here too. Replies go to the poller alone, after a random delay
// of up to a second (as the protocol asks, so that many nodes do not answer
// at one instant), and the loop stays free meanwhile.

#include "artpoll.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include <netinet/in.h>

// Polls waiting for their replies; more controllers than this polling within
// one second are unusual, and a poll that finds no room is answered at the
// next one.
constexpr std::size_t pending_polls_capacity = 16;
// A port counts as outputting while its frames came within this time.
constexpr std::int64_t outputting_window_ns = 4'000'000'000;
// With every universe: 64 replies of 4 ports.
constexpr std::size_t all_universe_replies = 256 / ports_per_reply;

struct pending_poll {
    std::int64_t due = 0;
    sockaddr_in poller{};
};

struct artnet_node {
    bool enabled = false;
    const char* program = "";
    std::uint16_t universe = 0; // the one universe, unless all_universes
    bool all_universes = false;
    std::array<char, 18> short_name{};          // "dmxkit <program>"
    std::array<char, 64> long_name{};           // "dmxkit <program> on <host name>"
    std::array<std::int64_t, 256> last_frame{}; // per universe, 0 for none yet
    std::array<pending_poll, pending_polls_capacity> pending{};
    std::size_t pending_count = 0;
    unsigned long replies_sent = 0;
    std::uint32_t random = 1;
    in_addr last_address{}; // answered from, for the report
};

// Readies the node of `program` ("framelog") for one universe or for all.
void start_node(artnet_node& node, const char* program, std::uint16_t universe, bool all_universes);
// A frame for `universe` came in at `now`.
void note_frame(artnet_node& node, std::uint16_t universe, std::int64_t now);
// Schedules the answer when `datagram` is an ArtPoll (true). Anything else is
// not the node's (false), and neither is anything while the node is off.
bool take_poll(artnet_node& node, std::span<const std::uint8_t> datagram, const sockaddr_in& source, std::int64_t now);
// Milliseconds until the next reply is due, or no_timeout.
int node_wait_ms(const artnet_node& node, std::int64_t now);
// Sends the replies that are due from `sock`. True when they went out from
// another address than the replies before them (the first included): the
// caller may report it.
bool send_due_replies(artnet_node& node, int sock, std::int64_t now);

// The report line: `Answering ArtPoll as "dmxkit <program>"`, then "at" and
// the address the last replies went out from, or "on every network" before
// the first.
void print_node_line(std::FILE* out, const artnet_node& node);

// How many replies answer one poll: one, or 64 with every universe.
std::size_t reply_count(const artnet_node& node);
// The fields of reply `index` of an answer sent from `address` at `now`, the
// node report counting `replies_sent` + 1.
artpollreply_fields reply_fields(
    const artnet_node& node, std::size_t index, in_addr address, std::int64_t now, std::span<char> report);
// The local address that datagrams to `destination` leave from.
in_addr local_address_toward(const sockaddr_in& destination);
