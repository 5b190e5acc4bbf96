#include "artdmx.hpp"

#include <algorithm>
#include <array>
#include <cassert>

namespace {

constexpr std::array<std::uint8_t, 8> artnet_id = {'A', 'r', 't', '-', 'N', 'e', 't', 0};
constexpr std::uint16_t op_dmx = 0x5000;
constexpr std::uint16_t op_sync = 0x5200;
constexpr std::uint8_t protocol_version = 14;

} // namespace

void build_artdmx(std::span<std::uint8_t> packet, std::size_t& out_length, std::uint8_t sequence,
    std::uint16_t universe, std::span<const std::uint8_t> data)
{
    assert(data.size() <= channels_per_universe);
    assert(packet.size() >= artdmx_header_size + data.size());
    const auto length = static_cast<std::uint16_t>(data.size());

    std::ranges::copy(artnet_id, packet.begin());
    // OpCode and universe travel low byte first, Length high byte first.
    packet[8] = op_dmx & 0xff;
    packet[9] = op_dmx >> 8;
    packet[10] = 0;
    packet[11] = protocol_version;
    packet[12] = sequence;
    packet[13] = 0;
    packet[14] = universe & 0xff;
    packet[15] = universe >> 8;
    packet[16] = length >> 8;
    packet[17] = length & 0xff;
    std::ranges::copy(data, packet.begin() + artdmx_header_size);
    out_length = artdmx_header_size + length;
}

bool parse_artdmx(std::span<const std::uint8_t> packet, std::uint16_t& out_universe,
    std::span<std::uint8_t, channels_per_universe> out_data, std::size_t& out_data_length)
{
    if (packet.size() < artdmx_header_size)
        return false;
    if (!std::ranges::equal(packet.first(artnet_id.size()), artnet_id))
        return false;
    if ((packet[8] | packet[9] << 8) != op_dmx)
        return false;
    out_universe = static_cast<std::uint16_t>(packet[14] | packet[15] << 8);
    const std::size_t length = static_cast<std::size_t>(packet[16]) << 8 | packet[17];
    if (length > channels_per_universe || packet.size() < artdmx_header_size + length)
        return false;
    std::ranges::copy(packet.subspan(artdmx_header_size, length), out_data.begin());
    out_data_length = length;
    return true;
}

std::uint8_t artdmx_sequence(std::span<const std::uint8_t> packet)
{
    return packet[12];
}

void build_artsync(std::span<std::uint8_t, artsync_size> packet)
{
    std::ranges::copy(artnet_id, packet.begin());
    packet[8] = op_sync & 0xff;
    packet[9] = op_sync >> 8;
    packet[10] = 0;
    packet[11] = protocol_version;
    packet[12] = 0; // Aux1
    packet[13] = 0; // Aux2
}
