#pragma once
// The senders' one way out to the network (linecast, rampgen, showrun), in
// either protocol: the socket, the destination, the sequence counters and the
// datagram buffer. Every packet a sender sends leaves through here, so what
// the wire asks of a packet is decided in one place.
//
// Art-Net: one ArtDmx per universe and frame, to the target (by default the
// limited broadcast address), with one sequence counter for the run.
// sACN: one data packet per universe and frame, to the universe's multicast
// group or to the target, with a sequence counter per universe; the source
// also lists its universes now and then, and ends every stream it began.

#include "artdmx.hpp"
#include "descriptors.hpp"
#include "e131.hpp"
#include "options.hpp"
#include "universe_frames.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <vector>

#include <netinet/in.h>

// A receiver drops an sACN source after 2.5 s without a packet. A source
// whose data stops changing sends the frame three times in all, a short gap
// apart, and then keeps each universe alive within a second.
constexpr int sacn_keep_alive_ms = 800;
constexpr int sacn_repeats = 2;
constexpr int sacn_repeat_gap_ms = 20;
// How often the source lists its universes, and how often a stream's end is
// told.
constexpr int sacn_discovery_interval_ms = 10000;
constexpr int sacn_termination_packets = 3;

struct dmx_sender {
    unique_fd sock;
    sockaddr_in destination{}; // the target; under sACN without -t, each universe's group instead
    bool sacn = false;
    bool multicast = false;
    // Art-Net: carried by the next ArtDmx: 1, 2, ..., 255, 0, 1, ... over the
    // run.
    std::uint8_t sequence = 1;

    // sACN, set up by open_sender: who sends, at what priority, and with -S
    // the synchronization universe (0: none) that the data packets name.
    e131_identity identity;
    std::uint8_t priority = default_e131_priority;
    std::uint16_t sync_universe = 0;
    std::uint8_t sync_sequence = 0;
    std::vector<std::uint8_t> sequences;  // per universe: carried by its next data packet
    std::optional<universe_frames> last;  // what each universe was last sent, for its end
    std::vector<std::uint16_t> universes; // sent so far, sorted, for the discovery list
    std::int64_t discovery_due = 0;       // the first after the first frame

    // Room for the largest packet of either protocol.
    std::array<std::uint8_t, std::max(artdmx_max_size, e131_discovery_max_size)> packet{};
};

// The socket and the destination from the options: the dotted target and
// the port; under -E, the multicast TTL of 1 and the interface of -I, and
// `identity` and the priority for the packets. Reports a failure itself
// ("Invalid target IP: %s" for a target that is not a dotted IPv4 address).
bool open_sender(dmx_sender& sender, const network_options& net, const e131_identity& identity = {});

// One packet of `levels` (at most 512) for `universe`, with the next
// sequence number. Art-Net sends an odd count with one more channel at 0;
// sACN sends the levels as they are. A failed send is reported with
// perror("sendto").
bool send_dmx(dmx_sender& sender, std::uint16_t universe, std::span<const std::uint8_t> levels);

// The number that the next packet of `universe` carries.
std::uint8_t next_sequence(const dmx_sender& sender, std::uint16_t universe);

// sACN: the levels last sent to `universe`, again, with its next sequence
// number; for a keep-alive whose sender kept no copy itself.
bool send_again(dmx_sender& sender, std::uint16_t universe);

// The synchronization packet after a frame: an ArtSync, or sACN's sync
// packet for the sync universe, to its group or to the target. Nodes that
// take part show every universe of the frame at once. Reported like send_dmx.
bool send_sync(dmx_sender& sender);

// sACN: the universe discovery list, once after the first frame and then
// every ten seconds, when `now` finds it due; the programs offer it after
// each frame and each round of keep-alive. Nothing under Art-Net.
bool announce_universes(dmx_sender& sender, std::int64_t now);

// sACN: the end of every stream the sender began, three packets per universe
// with Stream_Terminated and its last levels. Nothing under Art-Net.
bool end_streams(dmx_sender& sender);

// The target as a start-up report shows it: under sACN without -t, the word
// "multicast".
const char* shown_target(const network_options& net);

// The start-up report's lines under -E: the protocol and priority, the
// source's name and CID, and where the packets go.
void print_sacn_source(std::FILE* out, const network_options& net, const e131_identity& identity);
