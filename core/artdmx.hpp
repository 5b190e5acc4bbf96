#pragma once
// ArtDmx, the Art-Net packet that carries the levels: an 18-byte header and
// up to 512 levels of one DMX512 universe. And ArtSync, which a sender may
// send after the ArtDmx of one frame so that nodes change every universe at
// once; receivers here ignore it.

#include <cstddef>
#include <cstdint>
#include <span>

constexpr std::size_t channels_per_universe = 512;
// Every value a packet's 16-bit universe field can take: the size of the
// tables kept per universe.
constexpr std::size_t universe_field_values = 0x10000;
constexpr std::size_t artdmx_header_size = 18;
constexpr std::size_t artdmx_max_size = artdmx_header_size + channels_per_universe;
// A universe is a 15-bit Port-Address: Net (0..127) in the high byte, Sub-Net
// and Universe in the low one. The packet's field has one bit more, which no
// Port-Address sets.
constexpr std::uint16_t highest_port_address = 0x7fff;

// Writes the header and `data` (at most 512 bytes) into `packet`, which must
// hold 18 + data.size() bytes, and stores the datagram length in `out_length`.
void build_artdmx(std::span<std::uint8_t> packet, std::size_t& out_length, std::uint8_t sequence,
    std::uint16_t universe, std::span<const std::uint8_t> data);

// True for a well-formed ArtDmx. The universe is stored before the length is
// checked, so a rejected datagram may still have written it. On success the
// first `out_data_length` bytes of `out_data` hold the levels; the rest keep
// what they held.
bool parse_artdmx(std::span<const std::uint8_t> packet, std::uint16_t& out_universe,
    std::span<std::uint8_t, channels_per_universe> out_data, std::size_t& out_data_length);

// The Sequence field of a well-formed ArtDmx: 1 to 255 in turn, or 0 from a
// sender that does not number its packets.
std::uint8_t artdmx_sequence(std::span<const std::uint8_t> packet);

constexpr std::size_t artsync_size = 14;

// The whole ArtSync: the ID, OpCode 0x5200 (low byte first), ProtVer 14 (high
// byte first), Aux1 and Aux2 zero.
void build_artsync(std::span<std::uint8_t, artsync_size> packet);
