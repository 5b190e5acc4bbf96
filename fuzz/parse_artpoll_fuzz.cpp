// Any datagram as a receiver with -N takes it: an ArtPoll is accepted only
// with the ID, OpCode 0x2000, 14 bytes or more and ProtVer 14 or more, and
// the reply built for it always ends its names with a zero.
#include "artpoll.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> packet(data, size);
    artpoll poll;
    const bool taken = parse_artpoll(packet, poll);
    const bool expected = size >= artpoll_min_size
        && std::string_view(reinterpret_cast<const char*>(data), 8) == std::string_view("Art-Net\0", 8)
        && data[8] == 0x00 && data[9] == 0x20 && (data[10] << 8 | data[11]) >= 14;
    if (taken != expected)
        std::abort();
    if (!taken)
        return 0;
    // The rest of the datagram as names of any length, and as ports.
    const std::string_view rest(reinterpret_cast<const char*>(data) + artpoll_min_size, size - artpoll_min_size);
    artpollreply_fields fields;
    fields.short_name = rest;
    fields.long_name = rest;
    fields.node_report = rest;
    fields.port_count = 1 + poll.flags % ports_per_reply;
    for (std::size_t port = 0; port < fields.port_count; ++port)
        fields.universes[port] = static_cast<std::uint16_t>(poll.diag_priority * 16 + port);
    std::array<std::uint8_t, artpollreply_size> reply{};
    build_artpollreply(reply, fields);
    if (reply[26 + 17] != 0 || reply[44 + 63] != 0 || reply[108 + 63] != 0 || reply[173] != fields.port_count)
        std::abort();
    return 0;
}
