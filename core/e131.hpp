#pragma once
// sACN (ANSI E1.31), the other way levels travel: the data packet that
// carries one universe, the synchronization packet that releases a frame held
// for it, and the universe discovery packet in which a source lists what it
// sends. Each packet is a stack of layers (root, framing, then DMP or the
// discovery list), each opening with flags and its length. Every multi-byte
// field is big-endian, unlike ArtDmx's universe.

#include "artdmx.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

constexpr int e131_port = 5568;
// Data universes; 64214 carries the discovery packets.
constexpr int lowest_e131_universe = 1;
constexpr int highest_e131_universe = 63999;
constexpr std::uint16_t e131_discovery_universe = 64214;
constexpr int default_e131_priority = 100;
constexpr int highest_e131_priority = 200;

// The Options field.
constexpr std::uint8_t e131_preview_data = 0x80;
constexpr std::uint8_t e131_stream_terminated = 0x40;
constexpr std::uint8_t e131_force_synchronization = 0x20;

constexpr std::size_t e131_cid_size = 16;
constexpr std::size_t e131_name_size = 64;
// A data packet up to its start code, and with every slot.
constexpr std::size_t e131_data_header_size = 126;
constexpr std::size_t e131_data_max_size = e131_data_header_size + channels_per_universe;
constexpr std::size_t e131_sync_size = 49;
constexpr std::size_t e131_discovery_header_size = 120;
constexpr std::size_t universes_per_discovery_page = 512;
constexpr std::size_t e131_discovery_max_size = e131_discovery_header_size + 2 * universes_per_discovery_page;

using e131_cid = std::array<std::uint8_t, e131_cid_size>;

// A source as every packet names it: its CID (a UUID, one per run) and its
// name, UTF-8, NUL-terminated and zero-padded.
struct e131_identity {
    e131_cid cid{};
    std::array<char, e131_name_size> name{};
};

// A fresh identity for a run of `program`: a version 4 UUID from the system's
// random source, and the name "<program> on <host name>" cut to 63 bytes
// where a character begins.
e131_identity make_e131_identity(const char* program);
// The CID as text, 8-4-4-4-12 lower-case hex digits, NUL-terminated.
std::array<char, 37> format_cid(const e131_cid& cid);

// The multicast group of a universe, 239.255.hi.lo, in host byte order.
constexpr std::uint32_t e131_group(std::uint16_t universe)
{
    return 0xefff0000u | universe;
}

// The framing layer's fields of one data packet.
struct e131_frame_fields {
    std::uint16_t universe = 1;
    std::uint8_t priority = default_e131_priority;
    std::uint16_t sync_universe = 0; // 0: not synchronized
    std::uint8_t sequence = 0;
    std::uint8_t options = 0;
};

// A data packet of start code 0 and `levels` (at most 512 slots, not padded).
// Returns its length, 126 + the slots.
std::size_t build_e131_data(std::span<std::uint8_t, e131_data_max_size> packet, const e131_identity& source,
    const e131_frame_fields& fields, std::span<const std::uint8_t> levels);

// The synchronization packet of `sync_universe`.
void build_e131_sync(std::span<std::uint8_t, e131_sync_size> packet, const e131_cid& cid, std::uint8_t sequence,
    std::uint16_t sync_universe);

// One page of a discovery list: `universes`, sorted, at most 512. Returns its
// length, 120 + 2 per universe.
std::size_t build_e131_discovery(std::span<std::uint8_t, e131_discovery_max_size> packet, const e131_identity& source,
    std::uint8_t page, std::uint8_t last_page, std::span<const std::uint16_t> universes);

// A data packet as a receiver takes it. The views point into the datagram.
struct e131_data {
    e131_cid cid{};
    std::string_view source_name; // up to its NUL, at most 63 bytes
    std::uint8_t priority = 0;
    std::uint16_t sync_universe = 0;
    std::uint8_t sequence = 0;
    std::uint8_t options = 0;
    std::uint16_t universe = 0;
    std::uint8_t start_code = 0;
    std::span<const std::uint8_t> levels; // 0..512 slots after the start code
};

// True for a well-formed data packet: the preamble, the identifier, root
// vector 4, framing vector 2, DMP vector 2 with type 0xA1, first address 0
// and increment 1, a property value count of 1..513 that is what the
// datagram holds, every layer's flags 0x7 and length matching the datagram,
// and a universe of 1..63999. Preview data and other start codes are
// reported, not refused: what to do with them is the receiver's choice.
bool parse_e131_data(std::span<const std::uint8_t> datagram, e131_data& out);

// A universe discovery page as a receiver takes it.
struct e131_discovery {
    e131_cid cid{};
    std::uint8_t page = 0;
    std::uint8_t last_page = 0;
    std::span<const std::uint8_t> list; // two bytes a universe, high byte first
    std::size_t count() const { return list.size() / 2; }
    std::uint16_t universe(std::size_t i) const
    {
        return static_cast<std::uint16_t>(list[2 * i] << 8 | list[2 * i + 1]);
    }
};

// True for a well-formed discovery page (root vector 8, framing vector 2,
// discovery vector 1, lengths matching, at most 512 universes).
bool parse_e131_discovery(std::span<const std::uint8_t> datagram, e131_discovery& out);
