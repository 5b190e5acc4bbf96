#pragma once
// The receivers' one way in from the network (cuetrig, dmxscope, framelog):
// the socket on the Art-Net port, the node that answers polls on it (-N) and
// the buffers, behind one call that hands back ArtDmx frames only. Polls are
// answered on the way and every other datagram is dropped, so no program
// needs to know the node's order of calls.

#include "artdmx.hpp"
#include "descriptors.hpp"
#include "node.hpp"
#include "signals.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// The most that one receive takes: an ArtDmx is at most 530 bytes.
constexpr std::size_t receive_buffer_size = 534;

struct artnet_receiver {
    unique_fd sock;
    artnet_node node;
    // Whether the node's line is printed (on standard error) when its replies
    // begin to leave from another address; a full-screen monitor has no room.
    bool report_node_address = false;
    // The last frame: its universe, and its levels, valid until the next call.
    std::uint16_t universe = 0;
    std::span<const std::uint8_t> levels;
    std::array<std::uint8_t, receive_buffer_size> datagram{};
    std::array<std::uint8_t, channels_per_universe> data{};
};

enum class receiver_opening { opened, failed, bind_failed };

// Socket, SO_REUSEADDR, SO_REUSEPORT (so that several receivers share the
// port), a large receive buffer (best effort), bind to every local IPv4
// address, non-blocking. A failure is reported here; a failed bind as
// "Failed to bind to port %d: %s", after which the program may add its hints.
receiver_opening open_artnet_receiver(artnet_receiver& receiver, int port);
// The hints after a failed bind: "Another process may be using this port.
// Try:" and what the user may do about it, on standard error.
void print_bind_hints(int port);

// Answers ArtPoll on the receiver's socket from now on, as the node of
// `program` for one universe or for all.
void answer_polls(artnet_receiver& receiver, const char* program, std::uint16_t universe, bool all_universes);
// The same for a list of universes.
void answer_polls(artnet_receiver& receiver, const char* program, std::span<const std::uint16_t> universes);

enum class receive_event {
    frame,     // an ArtDmx: `universe` and `levels` hold it
    woken,     // a signal handler woke the wait (a stop request among them)
    ready,     // one of the caller's descriptors has its revents set
    timed_out, // `timeout_ms` passed
    failed,    // the receive or the wait failed, reported with perror: stop
};

// Waits for the next ArtDmx, at most `timeout_ms` (no_timeout: no limit),
// watching `also_watch` too (at most most_watched - 1 entries), and sending
// the node's replies as they fall due meanwhile.
receive_event next_frame(artnet_receiver& receiver, std::span<pollfd> also_watch = {}, int timeout_ms = no_timeout);

// How many datagrams the system dropped for want of room in the socket's
// queue since it was opened (while the program was busy elsewhere); 0 where
// the system does not tell.
unsigned long long datagrams_lost(const artnet_receiver& receiver);
