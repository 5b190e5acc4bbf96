#include "artpoll.hpp"

#include <algorithm>
#include <cassert>

namespace {

constexpr std::array<std::uint8_t, 8> artnet_id = {'A', 'r', 't', '-', 'N', 'e', 't', 0};
constexpr std::uint16_t op_poll = 0x2000;
constexpr std::uint16_t op_poll_reply = 0x2100;
constexpr std::uint16_t oldest_protocol = 14;
constexpr std::uint16_t artnet_port = 6454;
constexpr std::uint16_t oem_unknown = 0x00ff;
constexpr std::uint8_t port_outputs_dmx = 0x80;
constexpr std::uint8_t output_active = 0x80;
constexpr std::uint8_t style_node = 0x00;
constexpr std::uint8_t status2_port_address_15_bit = 0x08;

// `text` cut to leave room for the zero that always ends the field.
void put_text(std::span<std::uint8_t> field, std::string_view text)
{
    const std::size_t length = std::min(text.size(), field.size() - 1);
    std::ranges::copy(text.substr(0, length), field.begin());
}

} // namespace

bool parse_artpoll(std::span<const std::uint8_t> packet, artpoll& out)
{
    if (packet.size() < artpoll_min_size || !std::ranges::equal(packet.first(artnet_id.size()), artnet_id))
        return false;
    if ((packet[8] | packet[9] << 8) != op_poll)
        return false;
    // ProtVer travels high byte first.
    if ((packet[10] << 8 | packet[11]) < oldest_protocol)
        return false;
    out.flags = packet[12];
    out.diag_priority = packet[13];
    return true;
}

void build_artpollreply(std::span<std::uint8_t, artpollreply_size> packet, const artpollreply_fields& fields)
{
    assert(fields.port_count >= 1 && fields.port_count <= ports_per_reply);
    std::ranges::fill(packet, 0);
    std::ranges::copy(artnet_id, packet.begin());
    // OpCode and Port low byte first; VersInfo, Oem and NumPorts high byte first.
    packet[8] = op_poll_reply & 0xff;
    packet[9] = op_poll_reply >> 8;
    std::ranges::copy(fields.address, packet.begin() + 10);
    packet[14] = artnet_port & 0xff;
    packet[15] = artnet_port >> 8;
    packet[16] = fields.version_high;
    packet[17] = fields.version_low;
    const std::uint16_t first = fields.universes[0];
    packet[18] = (first >> 8) & 0x7f; // NetSwitch: Port-Address bits 14-8
    packet[19] = (first >> 4) & 0x0f; // SubSwitch: bits 7-4
    packet[20] = oem_unknown >> 8;
    packet[21] = oem_unknown & 0xff;
    put_text(packet.subspan(26, 18), fields.short_name);
    put_text(packet.subspan(44, 64), fields.long_name);
    put_text(packet.subspan(108, 64), fields.node_report);
    packet[172] = 0;
    packet[173] = static_cast<std::uint8_t>(fields.port_count);
    for (std::size_t port = 0; port < fields.port_count; ++port) {
        packet[174 + port] = port_outputs_dmx;
        packet[182 + port] = fields.outputting[port] ? output_active : 0;
        packet[190 + port] = fields.universes[port] & 0x0f; // SwOut: bits 3-0
    }
    packet[200] = style_node;
    std::ranges::copy(fields.address, packet.begin() + 207); // BindIp: the root's address
    packet[211] = fields.bind_index;
    packet[212] = status2_port_address_15_bit;
}
