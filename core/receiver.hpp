#pragma once
// The receivers' one way in from the network (cuetrig, dmxscope, framelog):
// the socket on the Art-Net port, the node that answers polls on it (-N) and
// the buffers, behind one call that hands back ArtDmx frames only. Polls are
// answered on the way and every other datagram is dropped, so no program
// needs to know the node's order of calls. Under -E the same call hands back
// sACN instead: the merge of a universe's sources, each time a packet is
// taken or a source falls silent, with the groups joined on the way.

#include "artdmx.hpp"
#include "descriptors.hpp"
#include "e131_merge.hpp"
#include "multicast.hpp"
#include "node.hpp"
#include "options.hpp"
#include "signals.hpp"
#include "source_table.hpp"

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// The most that one receive takes: an ArtDmx is at most 530 bytes. Under
// sACN a discovery page is the longest packet, and one byte more marks a
// longer datagram, which no parser then takes.
constexpr std::size_t receive_buffer_size = 534;
constexpr std::size_t sacn_receive_buffer_size = e131_discovery_max_size + 1;
// With every universe, the groups that discovery lists are joined up to this
// many; universes beyond it are still taken by unicast.
constexpr std::size_t most_joined_universes = 1024;

// Under -E: the groups joined, and the merge of each universe's sources.
struct sacn_reception {
    bool enabled = false;
    bool discover = false;    // every universe: join what discovery lists
    bool join_failed = false; // at the start, told by a warning
    multicast_memberships groups;
    std::bitset<universe_field_values> joined; // by universe, the discovery universe among them
    e131_merge merge;
    const universe_merge* last = nullptr; // of the last frame, valid until the next call
};

struct dmx_receiver {
    unique_fd sock;
    artnet_node node;
    // Whether the node's line is printed (on standard error) when its replies
    // begin to leave from another address; a full-screen monitor has no room.
    bool report_node_address = false;
    // The last frame: its universe, and its levels, valid until the next call.
    std::uint16_t universe = 0;
    std::span<const std::uint8_t> levels;
    // False for an sACN frame that no packet brought: a source fell silent.
    bool from_packet = true;
    std::array<std::uint8_t, sacn_receive_buffer_size> datagram{};
    std::array<std::uint8_t, channels_per_universe> data{};
    sacn_reception sacn;
    // Once track_sources was called: who sends, and who sent the last
    // frame's packet, with the raw name of an sACN source (valid until the
    // next call) and the sequence gaps of its row since the row's frame
    // before (none when the table had no room for it).
    source_table sources;
    packet_source sender;
    std::string_view sender_name;
    unsigned long long sender_gaps = 0;
};

enum class receiver_opening { opened, failed, bind_failed };

// Socket, SO_REUSEADDR, SO_REUSEPORT (so that several receivers share the
// port), a large receive buffer (best effort), bind to every local IPv4
// address, non-blocking. A failure is reported here; a failed bind as
// "Failed to bind to port %d: %s", after which the program may add its hints.
receiver_opening open_artnet_receiver(dmx_receiver& receiver, int port);
// The hints after a failed bind: "Another process may be using this port.
// Try:" and what the user may do about it, on standard error.
void print_bind_hints(int port);

// The same socket on `net.port` for sACN, joined on `net.interface` to the
// groups of `universes`, or with `all_universes` to the discovery group and
// then to each universe that discovery lists as it comes. A group that
// cannot be joined is told once, as a warning: unicast is still taken.
receiver_opening open_sacn_receiver(
    dmx_receiver& receiver, const network_options& net, std::span<const std::uint16_t> universes, bool all_universes);
// The line that says so: which interface the groups are joined on.
void print_sacn_line(std::FILE* out, const dmx_receiver& receiver, const network_options& net);

// Answers ArtPoll on the receiver's socket from now on, as the node of
// `program` for one universe or for all.
void answer_polls(dmx_receiver& receiver, const char* program, std::uint16_t universe, bool all_universes);
// The same for a list of universes.
void answer_polls(dmx_receiver& receiver, const char* program, std::span<const std::uint16_t> universes);

// From now on every ArtDmx (or sACN data packet) of `universes`, or of every
// universe, is noted in `receiver.sources` as it comes.
void track_sources(dmx_receiver& receiver, std::span<const std::uint16_t> universes, bool all_universes);

enum class receive_event {
    frame,     // an ArtDmx, or an sACN merge: `universe` and `levels` hold it
    woken,     // a signal handler woke the wait (a stop request among them)
    ready,     // one of the caller's descriptors has its revents set
    timed_out, // `timeout_ms` passed
    failed,    // the receive or the wait failed, reported with perror: stop
};

// Waits for the next ArtDmx (or sACN merge), at most `timeout_ms`
// (no_timeout: no limit), watching `also_watch` too (at most most_watched - 1
// entries), and sending the node's replies or losing silent sACN sources as
// they fall due meanwhile.
receive_event next_frame(dmx_receiver& receiver, std::span<pollfd> also_watch = {}, int timeout_ms = no_timeout);

// How many datagrams the system dropped for want of room in the socket's
// queue since it was opened (while the program was busy elsewhere); 0 where
// the system does not tell.
unsigned long long datagrams_lost(const dmx_receiver& receiver);
