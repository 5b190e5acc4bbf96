#pragma once
// A receiver acting as an Art-Net node (-N): it answers ArtPoll on its
// socket with ArtPollReply datagrams that describe the universes it receives
// as output ports, so that controllers which send ArtDmx only to discovered
// nodes send here too. Replies go to the poller alone, after a random delay
// of up to a second (as the protocol asks, so that many nodes do not answer
// at one instant), and the loop stays free meanwhile. Budgets per address
// and in all keep a flood of polls from starving a controller's answers or
// from turning the node into an amplifier.

#include "artpoll.hpp"
#include "node_ports.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include <netinet/in.h>

// Addresses the node keeps track of, each with at most one poll waiting.
// More controllers than this on one network are unusual; how a flood from
// more addresses shares the room is told at take_poll.
constexpr std::size_t pollers_capacity = 32;
// A port counts as outputting while its frames came within this time.
constexpr std::int64_t outputting_window_ns = 4'000'000'000;
// With every universe of Net 0: 64 replies of 4 ports.
constexpr std::size_t all_universe_replies = 256 / ports_per_reply;
// At most one poll a second from an address is answered; controllers poll
// every 2.5 to 3 seconds.
constexpr std::int64_t poll_spacing_ns = 1'000'000'000;
// All answers together send at most 256 replies (61 kB) in any second, so
// that a 14-byte poll cannot draw more than that: one whole answer of 64 at
// once, then 192 a second.
constexpr std::int64_t reply_burst = all_universe_replies;
constexpr std::int64_t reply_spacing_ns = 1'000'000'000 / (256 - reply_burst);

// An address that polled: the poll to answer, and when it was last answered.
struct poller_entry {
    sockaddr_in poller{};      // the answer goes to its address and port
    std::int64_t taken = 0;    // when its latest poll to answer came, 0 for none
    std::int64_t answered = 0; // 0 for never
    std::int64_t due = 0;      // the answer's time, after the random delay
    std::int64_t refused = 0;  // a poll within the second after `taken` makes it noisy
    bool waiting = false;
};

struct artnet_node {
    bool enabled = false;
    const char* program = "";
    node_ports ports;                  // the universes announced
    std::array<char, 18> short_name{}; // "dmxkit <program>"
    std::array<char, 64> long_name{};  // "dmxkit <program> on <host name>"
    std::array<poller_entry, pollers_capacity> pollers{};
    // The reply budget: the time at which it is whole again (a token bucket
    // kept as one time, so that it needs no timer).
    std::int64_t budget_whole_at = 0;
    unsigned long replies_sent = 0;
    std::uint32_t random = 1;
    in_addr last_address{}; // answered from, for the report
    // The directed broadcast addresses of this host's networks at the start;
    // none of them is a poller (unused entries are 0).
    std::array<in_addr_t, 8> broadcast_addresses{};
};

// Readies the node of `program` ("framelog") for one universe or for all
// 256 of Net 0, or for a list of universes.
void start_node(artnet_node& node, const char* program, std::uint16_t universe, bool all_universes);
void start_node(artnet_node& node, const char* program, std::span<const std::uint16_t> universes);
// A frame for `universe` came in at `now`.
void note_frame(artnet_node& node, std::uint16_t universe, std::int64_t now);
// Schedules the answer when `datagram` is an ArtPoll (true). Anything else is
// not the node's (false), and neither is anything while the node is off.
// A poll goes unanswered from a source no answer can reach (a multicast
// group, a broadcast address, 0.0.0.0/8 or port 0), from an address whose
// poll still waits or came less than a second ago (whatever its port), and
// from a new address while every entry belongs to a quiet address: a new
// address takes the place of a noisy one, never of a controller polling as
// it should.
bool take_poll(artnet_node& node, std::span<const std::uint8_t> datagram, const sockaddr_in& source, std::int64_t now);
// Milliseconds until the next reply is due, or no_timeout.
int node_wait_ms(const artnet_node& node, std::int64_t now);
// Sends one reply from `sock` to `to`; false when it did not go out whole.
using reply_sender = bool (*)(int sock, std::span<const std::uint8_t> reply, const sockaddr_in& to);
bool send_reply(int sock, std::span<const std::uint8_t> reply, const sockaddr_in& to);
// Sends the replies that are due from `sock`, one per group of ports. True
// when replies went out, from another address than the replies before them
// (the first included): the caller may report it. A destination the system
// refuses, such as a directed broadcast address of a local network, gets
// nothing and changes nothing. Among the polls due, quiet addresses go
// before noisy ones, and those answered before in turn, the one answered
// longest ago first, so that no address takes another's turn.
bool send_due_replies(artnet_node& node, int sock, std::int64_t now, reply_sender send = send_reply);

// The report line: `Answering ArtPoll as "dmxkit <program>"`, then "at" and
// the address the last replies went out from, or "on every network" before
// the first.
void print_node_line(std::FILE* out, const artnet_node& node);

// When some universes had no room in the replies, a line saying how many are
// not announced; nothing otherwise.
void print_unannounced_line(std::FILE* out, const artnet_node& node);
