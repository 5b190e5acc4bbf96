#pragma once
// Who sends each universe, as a receiver sees them. A source is an address
// and port under Art-Net, a CID under sACN; a row is one source on one
// universe: its packets of the last second, the time of its last packet, the
// sequence gaps, its channels and last levels, and under sACN its name and
// priority and whether it ended or was lost. An Art-Net row leaves after
// 10 s of silence, an sACN row 10 s after its source ended or was lost.
// Decided on packets and times alone, so that every case can be checked with
// a made-up clock; the receiver feeds it as the packets come. Room is made
// once, at the start: a packet only updates a row or counts a source.

#include "artdmx.hpp"
#include "e131.hpp"

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <netinet/in.h>

// Rows kept at once: a rig of 256 universes from one desk, or two desks on
// half as many. Sources beyond it are counted, not kept.
constexpr std::size_t most_listed_sources = 256;
// Sources beyond that bound told apart, so that each counts once.
constexpr std::size_t most_sources_beyond = 1024;
constexpr std::int64_t source_leave_ns = 10'000'000'000;
// The rate counts packets in tenths of a second: the ten before the current one.
constexpr std::int64_t rate_bucket_ns = 100'000'000;
constexpr std::size_t rate_buckets = 11;

enum class source_protocol : std::uint8_t { artnet, sacn };
enum class source_state : std::uint8_t { sending, winning, merged, outranked, ended, lost };

// Who sent a packet: the address and port it came from, and under sACN the
// CID that names the source and the priority it asked for.
struct packet_source {
    source_protocol protocol = source_protocol::artnet;
    in_addr address{};
    std::uint16_t port = 0; // in host order
    e131_cid cid{};
    std::uint8_t priority = 0;
};

bool same_source(const packet_source& a, const packet_source& b);
// A 64-bit digest of who sent, never 0; of a source on one universe with `universe`.
std::uint64_t source_fingerprint(const packet_source& from);
std::uint64_t source_fingerprint(const packet_source& from, std::uint16_t universe);

// Distinct fingerprints and when each was last seen, up to a bound: beyond
// it, `full` says that there are more.
class fingerprint_set {
public:
    explicit fingerprint_set(std::size_t room = 0) : slots_(2 * room), spare_(2 * room), room_(room) { }
    void note(std::uint64_t key, std::int64_t now);
    // Forgets the fingerprints last seen before `time`.
    void forget_before(std::int64_t time);
    std::size_t size() const { return count_; }
    bool full() const { return full_; }

private:
    struct slot {
        std::uint64_t key = 0; // 0: free
        std::int64_t last = 0;
    };
    std::vector<slot> slots_; // open addressing, at most half used
    std::vector<slot> spare_; // as many, for forgetting without allocating
    std::size_t room_;
    std::size_t count_ = 0;
    bool full_ = false;
};

struct source_row {
    bool used = false;
    std::uint16_t universe = 0;
    packet_source from;
    // sACN: as its first packet named it, fit to show on a terminal.
    std::array<char, e131_name_size> name{};
    bool sequenced = false; // a sequence number to follow is known
    std::uint8_t sequence = 0;
    bool ended = false; // sACN: Stream_Terminated
    std::int64_t ended_ns = 0;
    std::int64_t last_ns = 0;
    unsigned long long packets = 0;
    unsigned long long gaps = 0;
    unsigned long long gaps_told = 0; // handed on by the receiver with its frames
    std::int64_t newest_bucket = 0;
    std::array<std::uint16_t, rate_buckets> counts{}; // packets per bucket, by bucket % rate_buckets
    std::uint16_t sender = 0;                         // Art-Net: its sender's index + 1, 0 for none
    std::uint16_t next = 0;                           // the next row of its universe: index + 1
    std::size_t length = 0;
    std::array<std::uint8_t, channels_per_universe> levels{}; // Art-Net: the last
};

// An Art-Net sender, whichever universe it sends: many count one sequence
// for all their universes, others one per universe.
struct artnet_sender {
    packet_source from;
    bool sequenced = false;
    std::uint8_t sequence = 0;
    std::int64_t last_ns = 0;
    std::size_t rows = 0; // its rows in the table
};

struct source_table {
    bool enabled = false;
    bool all = true;                           // every universe, or only those wanted
    std::bitset<universe_field_values> wanted; // when not all
    std::vector<source_row> rows;
    std::vector<std::uint16_t> first_of; // per universe: index + 1 of its first row
    std::vector<artnet_sender> senders;
    std::size_t listed = 0;
    fingerprint_set beyond; // the sources on a universe that found no room
    std::int64_t next_sweep = 0;
};

// Makes the room: from now on the table takes what it is given, of every
// universe or, once one is watched, of those watched only.
void start_source_table(source_table& table);
void watch_source_universe(source_table& table, std::uint16_t universe);

// Takes an ArtDmx of `universe` from `from` at `now` (ns): its row, or null
// for a universe not watched or when there was no room for it. A sequence of 0 is "not used" and never a
// gap; otherwise a packet is in order when it follows the last one of its
// row, or the last one its sender sent on any universe, counting 1 to 255.
source_row* note_artdmx(source_table& table, std::uint16_t universe, const packet_source& from, std::uint8_t sequence,
    std::span<const std::uint8_t> levels, std::int64_t now);
// Takes an sACN data packet, whatever its start code. Every sequence number
// counts, 0 to 255; a packet of the 20 up to the last one of its row comes
// late or twice: a gap that leaves the row as it was. Only the levels
// (start code 0, not preview data) tell the priority, channels and end.
source_row* note_e131(source_table& table, const e131_data& packet, const packet_source& from, std::int64_t now);

// Whether a row is still in the list at `now`.
bool is_listed(const source_row& row, std::int64_t now);
// Its packets in the last whole second.
unsigned packet_rate(const source_row& row, std::int64_t now);
// sending for Art-Net; for sACN, ended, lost (2.5 s silent), or among the
// live sources of the universe: winning alone at the highest priority,
// merged with others at it, or outranked.
source_state state_of(const source_table& table, const source_row& row, std::int64_t now);
const char* state_name(source_state state);

// The rows listed at `now` (of one universe unless `all`), sorted by
// universe, then address, port and CID, into `out`; returns how many.
std::size_t list_sources(const source_table& table, std::int64_t now, bool all, std::uint16_t universe,
    std::span<const source_row*, most_listed_sources> out);
// The sources that found no room, counted while they send.
std::size_t sources_beyond(const source_table& table);

// The Art-Net sources that sent `universe` within the last second, and
// whether their last levels differ on a channel that both sent.
struct universe_senders {
    std::size_t count = 0;
    bool levels_differ = false;
};
universe_senders artnet_senders(const source_table& table, std::uint16_t universe, std::int64_t now);
