#include "e131.hpp"

#include "clock.hpp"
#include "descriptors.hpp"

#include <algorithm>
#include <cassert>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array<std::uint8_t, 12> acn_identifier = {'A', 'S', 'C', '-', 'E', '1', '.', '1', '7', 0, 0, 0};
constexpr std::uint32_t vector_root_data = 0x00000004;
constexpr std::uint32_t vector_root_extended = 0x00000008;
constexpr std::uint32_t vector_data_packet = 0x00000002;
constexpr std::uint32_t vector_synchronization = 0x00000001;
constexpr std::uint32_t vector_discovery = 0x00000002;
constexpr std::uint32_t vector_universe_list = 0x00000001;
constexpr std::uint8_t vector_dmp_set_property = 0x02;
constexpr std::uint8_t dmp_address_and_data_type = 0xa1;

// Where each layer begins: its flags and length come first.
constexpr std::size_t root_layer = 16;
constexpr std::size_t framing_layer = 38;
constexpr std::size_t dmp_layer = 115;
constexpr std::size_t discovery_layer = 112;

void put16(std::span<std::uint8_t> packet, std::size_t at, std::uint16_t value)
{
    packet[at] = static_cast<std::uint8_t>(value >> 8);
    packet[at + 1] = static_cast<std::uint8_t>(value);
}

void put32(std::span<std::uint8_t> packet, std::size_t at, std::uint32_t value)
{
    put16(packet, at, static_cast<std::uint16_t>(value >> 16));
    put16(packet, at + 2, static_cast<std::uint16_t>(value));
}

std::uint16_t get16(std::span<const std::uint8_t> packet, std::size_t at)
{
    return static_cast<std::uint16_t>(packet[at] << 8 | packet[at + 1]);
}

std::uint32_t get32(std::span<const std::uint8_t> packet, std::size_t at)
{
    return static_cast<std::uint32_t>(get16(packet, at)) << 16 | get16(packet, at + 2);
}

// A layer that runs from `at` to the end of a packet of `size` bytes.
void put_flags_and_length(std::span<std::uint8_t> packet, std::size_t at, std::size_t size)
{
    put16(packet, at, static_cast<std::uint16_t>(0x7000 | (size - at)));
}

bool has_flags_and_length(std::span<const std::uint8_t> packet, std::size_t at)
{
    return get16(packet, at) == (0x7000 | (packet.size() - at));
}

void put_root(std::span<std::uint8_t> packet, std::size_t size, std::uint32_t vector, const e131_cid& cid)
{
    put16(packet, 0, 0x0010); // preamble size
    put16(packet, 2, 0x0000); // post-amble size
    std::ranges::copy(acn_identifier, packet.begin() + 4);
    put_flags_and_length(packet, root_layer, size);
    put32(packet, 18, vector);
    std::ranges::copy(cid, packet.begin() + 22);
}

// The root layer of a packet that fills the whole datagram, and its vector.
bool has_root(std::span<const std::uint8_t> packet, std::uint32_t vector)
{
    return packet.size() >= framing_layer && get16(packet, 0) == 0x0010 && get16(packet, 2) == 0x0000
        && std::ranges::equal(packet.subspan(4, acn_identifier.size()), acn_identifier)
        && has_flags_and_length(packet, root_layer) && get32(packet, 18) == vector;
}

void read_cid(std::span<const std::uint8_t> packet, e131_cid& cid)
{
    std::ranges::copy(packet.subspan(22, e131_cid_size), cid.begin());
}

// The name up to its NUL, then zeros: always terminated, whatever the
// caller left in its last byte.
void put_name(std::span<std::uint8_t> packet, const e131_identity& source)
{
    const auto field = packet.subspan(44, e131_name_size);
    std::ranges::fill(field, 0);
    for (std::size_t i = 0; i + 1 < e131_name_size && source.name[i] != '\0'; ++i)
        field[i] = static_cast<std::uint8_t>(source.name[i]);
}

// How much of `name` fits in `most` bytes: a UTF-8 name must not end in half
// a character.
std::size_t name_length_within(std::string_view name, std::size_t most)
{
    if (name.size() <= most)
        return name.size();
    std::size_t length = most;
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xc0) == 0x80)
        --length;
    return length;
}

void fill_random(std::span<std::uint8_t> bytes)
{
    const unique_fd source(::open("/dev/urandom", O_RDONLY | O_CLOEXEC));
    std::size_t filled = 0;
    while (source && filled < bytes.size()) {
        const ssize_t got = ::read(source.get(), bytes.data() + filled, bytes.size() - filled);
        if (got <= 0)
            break;
        filled += static_cast<std::size_t>(got);
    }
    if (filled == bytes.size())
        return;
    // No random source: the clock and the process still make a CID that no
    // other run of this host shares.
    std::uint64_t state = static_cast<std::uint64_t>(monotonic_ns()) ^ static_cast<std::uint64_t>(::getpid()) << 32;
    for (std::uint8_t& byte : bytes) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        byte = static_cast<std::uint8_t>(state >> 56);
    }
}

} // namespace

e131_identity make_e131_identity(const char* program)
{
    e131_identity identity;
    fill_random(identity.cid);
    identity.cid[6] = static_cast<std::uint8_t>((identity.cid[6] & 0x0f) | 0x40); // version 4
    identity.cid[8] = static_cast<std::uint8_t>((identity.cid[8] & 0x3f) | 0x80); // the RFC 4122 variant

    std::array<char, 256> host{};
    const bool named = ::gethostname(host.data(), host.size() - 1) == 0 && host[0] != '\0';
    std::array<char, 512> full{};
    std::snprintf(full.data(), full.size(), "%s on %s", program, named ? host.data() : "this host");
    const std::string_view text(full.data());
    const std::size_t length = name_length_within(text, e131_name_size - 1);
    std::copy_n(text.begin(), length, identity.name.begin());
    return identity;
}

std::array<char, 37> format_cid(const e131_cid& cid)
{
    std::array<char, 37> text{};
    constexpr std::string_view digits = "0123456789abcdef";
    std::size_t at = 0;
    for (std::size_t i = 0; i < cid.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text[at++] = '-';
        text[at++] = digits[cid[i] >> 4];
        text[at++] = digits[cid[i] & 0x0f];
    }
    return text;
}

std::size_t build_e131_data(std::span<std::uint8_t, e131_data_max_size> packet, const e131_identity& source,
    const e131_frame_fields& fields, std::span<const std::uint8_t> levels)
{
    assert(levels.size() <= channels_per_universe);
    const std::size_t size = e131_data_header_size + levels.size();
    put_root(packet, size, vector_root_data, source.cid);

    put_flags_and_length(packet, framing_layer, size);
    put32(packet, 40, vector_data_packet);
    put_name(packet, source);
    packet[108] = fields.priority;
    put16(packet, 109, fields.sync_universe);
    packet[111] = fields.sequence;
    packet[112] = fields.options;
    put16(packet, 113, fields.universe);

    put_flags_and_length(packet, dmp_layer, size);
    packet[117] = vector_dmp_set_property;
    packet[118] = dmp_address_and_data_type;
    put16(packet, 119, 0x0000); // first property address
    put16(packet, 121, 0x0001); // address increment
    put16(packet, 123, static_cast<std::uint16_t>(1 + levels.size()));
    packet[125] = 0; // start code: levels
    std::ranges::copy(levels, packet.begin() + e131_data_header_size);
    return size;
}

void build_e131_sync(std::span<std::uint8_t, e131_sync_size> packet, const e131_cid& cid, std::uint8_t sequence,
    std::uint16_t sync_universe)
{
    put_root(packet, e131_sync_size, vector_root_extended, cid);
    put_flags_and_length(packet, framing_layer, e131_sync_size);
    put32(packet, 40, vector_synchronization);
    packet[44] = sequence;
    put16(packet, 45, sync_universe);
    put16(packet, 47, 0x0000); // reserved
}

std::size_t build_e131_discovery(std::span<std::uint8_t, e131_discovery_max_size> packet, const e131_identity& source,
    std::uint8_t page, std::uint8_t last_page, std::span<const std::uint16_t> universes)
{
    assert(universes.size() <= universes_per_discovery_page);
    const std::size_t size = e131_discovery_header_size + 2 * universes.size();
    put_root(packet, size, vector_root_extended, source.cid);

    put_flags_and_length(packet, framing_layer, size);
    put32(packet, 40, vector_discovery);
    put_name(packet, source);
    put32(packet, 108, 0); // reserved

    put_flags_and_length(packet, discovery_layer, size);
    put32(packet, 114, vector_universe_list);
    packet[118] = page;
    packet[119] = last_page;
    for (std::size_t i = 0; i < universes.size(); ++i)
        put16(packet, e131_discovery_header_size + 2 * i, universes[i]);
    return size;
}

bool parse_e131_data(std::span<const std::uint8_t> datagram, e131_data& out)
{
    if (datagram.size() < e131_data_header_size || datagram.size() > e131_data_max_size
        || !has_root(datagram, vector_root_data))
        return false;
    if (!has_flags_and_length(datagram, framing_layer) || get32(datagram, 40) != vector_data_packet)
        return false;
    if (!has_flags_and_length(datagram, dmp_layer) || datagram[117] != vector_dmp_set_property
        || datagram[118] != dmp_address_and_data_type || get16(datagram, 119) != 0x0000
        || get16(datagram, 121) != 0x0001 || get16(datagram, 123) != datagram.size() - (e131_data_header_size - 1))
        return false;
    const std::uint16_t universe = get16(datagram, 113);
    if (universe < lowest_e131_universe || universe > highest_e131_universe)
        return false;

    read_cid(datagram, out.cid);
    const auto name = reinterpret_cast<const char*>(datagram.data() + 44);
    out.source_name = std::string_view(name, std::find(name, name + e131_name_size - 1, '\0') - name);
    out.priority = datagram[108];
    out.sync_universe = get16(datagram, 109);
    out.sequence = datagram[111];
    out.options = datagram[112];
    out.universe = universe;
    out.start_code = datagram[125];
    out.levels = datagram.subspan(e131_data_header_size);
    return true;
}

bool parse_e131_discovery(std::span<const std::uint8_t> datagram, e131_discovery& out)
{
    if (datagram.size() < e131_discovery_header_size || datagram.size() > e131_discovery_max_size
        || datagram.size() % 2 != 0 || !has_root(datagram, vector_root_extended))
        return false;
    if (!has_flags_and_length(datagram, framing_layer) || get32(datagram, 40) != vector_discovery
        || !has_flags_and_length(datagram, discovery_layer) || get32(datagram, 114) != vector_universe_list)
        return false;
    read_cid(datagram, out.cid);
    out.page = datagram[118];
    out.last_page = datagram[119];
    out.list = datagram.subspan(e131_discovery_header_size);
    return true;
}
