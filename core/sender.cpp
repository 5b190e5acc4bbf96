#include "sender.hpp"

#include "clock.hpp"
#include "status_line.hpp"
#include "udp.hpp"

#include <algorithm>
#include <cstdio>

#include <arpa/inet.h>
#include <sys/socket.h>

namespace {

bool send_packet(const dmx_sender& sender, std::size_t length, const sockaddr_in& to)
{
    const ssize_t sent = ::sendto(
        sender.sock.get(), sender.packet.data(), length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent < 0) {
        end_status_line();
        std::perror("sendto");
        return false;
    }
    return true;
}

// Where a packet for `universe` goes: its multicast group, or the target.
sockaddr_in destination_of(const dmx_sender& sender, std::uint16_t universe)
{
    sockaddr_in to = sender.destination;
    if (sender.multicast)
        to.sin_addr.s_addr = htonl(e131_group(universe));
    return to;
}

bool set_multicast_options(int fd, const network_options& net)
{
    // Show networks keep multicast on their own segment. A byte, as the
    // BSDs ask; Linux takes it as well.
    const unsigned char ttl = 1;
    if (::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) < 0) {
        std::perror("setsockopt(IP_MULTICAST_TTL)");
        return false;
    }
    if (net.interface_text != nullptr
        && ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &net.interface, sizeof net.interface) < 0) {
        std::perror("setsockopt(IP_MULTICAST_IF)");
        return false;
    }
    return true;
}

// One sACN data packet, which becomes what the universe was last sent.
bool send_e131(dmx_sender& sender, std::uint16_t universe, std::span<const std::uint8_t> levels, std::uint8_t options)
{
    if (sender.last->find(universe) == nullptr) {
        // The first packet of a universe: the only time the list grows.
        const auto at = std::ranges::lower_bound(sender.universes, universe);
        sender.universes.insert(at, universe);
    }
    universe_frame& kept = sender.last->find_or_add(universe);
    if (levels.data() != kept.levels.data())
        std::ranges::copy(levels, kept.levels.begin());
    kept.length = levels.size();

    const e131_frame_fields fields{
        universe, sender.priority, sender.sync_universe, sender.sequences[universe]++, options};
    const std::size_t length
        = build_e131_data(std::span(sender.packet).first<e131_data_max_size>(), sender.identity, fields, levels);
    return send_packet(sender, length, destination_of(sender, universe));
}

} // namespace

bool open_sender(dmx_sender& sender, const network_options& net, const e131_identity& identity)
{
    sender.sock = open_udp_socket();
    if (!sender.sock || !enable_socket_option(sender.sock.get(), SO_BROADCAST, "setsockopt(SO_BROADCAST)"))
        return false;
    sender.destination = {};
    sender.destination.sin_family = AF_INET;
    sender.destination.sin_port = htons(static_cast<std::uint16_t>(net.port));
    if (::inet_pton(AF_INET, net.target, &sender.destination.sin_addr) != 1) {
        std::fprintf(stderr, "Invalid target IP: %s\n", net.target);
        sender.sock.reset();
        return false;
    }
    sender.sacn = net.sacn;
    if (!net.sacn)
        return true;
    if (!set_multicast_options(sender.sock.get(), net)) {
        sender.sock.reset();
        return false;
    }
    sender.multicast = !net.target_given;
    sender.identity = identity;
    sender.priority = static_cast<std::uint8_t>(net.priority);
    sender.sequences.assign(universe_field_values, 0);
    sender.last.emplace();
    return true;
}

bool send_dmx(dmx_sender& sender, std::uint16_t universe, std::span<const std::uint8_t> levels)
{
    if (sender.sacn)
        return send_e131(sender, universe, levels, 0);
    // Art-Net asks for an even Length, and receivers made by others drop a
    // frame of odd length (one channel alone among them): one more channel
    // of level 0 makes it even.
    std::array<std::uint8_t, channels_per_universe> padded{};
    if (levels.size() % 2 != 0) {
        std::ranges::copy(levels, padded.begin());
        levels = std::span(padded).first(levels.size() + 1);
    }
    std::size_t length = 0;
    build_artdmx(sender.packet, length, sender.sequence++, universe, levels);
    return send_packet(sender, length, sender.destination);
}

std::uint8_t next_sequence(const dmx_sender& sender, std::uint16_t universe)
{
    return sender.sacn ? sender.sequences[universe] : sender.sequence;
}

bool send_again(dmx_sender& sender, std::uint16_t universe)
{
    const universe_frame* frame = sender.last->find(universe);
    return send_e131(sender, universe, std::span(frame->levels).first(frame->length), 0);
}

bool send_sync(dmx_sender& sender)
{
    if (!sender.sacn) {
        build_artsync(std::span(sender.packet).first<artsync_size>());
        return send_packet(sender, artsync_size, sender.destination);
    }
    build_e131_sync(std::span(sender.packet).first<e131_sync_size>(), sender.identity.cid, sender.sync_sequence++,
        sender.sync_universe);
    return send_packet(sender, e131_sync_size, destination_of(sender, sender.sync_universe));
}

bool announce_universes(dmx_sender& sender, std::int64_t now)
{
    if (!sender.sacn || sender.universes.empty() || now < sender.discovery_due)
        return true;
    sender.discovery_due = now + sacn_discovery_interval_ms * ns_per_ms;
    const std::span<const std::uint16_t> all(sender.universes);
    const std::size_t pages = (all.size() + universes_per_discovery_page - 1) / universes_per_discovery_page;
    for (std::size_t page = 0; page < pages; ++page) {
        const std::size_t first = page * universes_per_discovery_page;
        const std::size_t count = std::min(universes_per_discovery_page, all.size() - first);
        const std::size_t length
            = build_e131_discovery(std::span(sender.packet).first<e131_discovery_max_size>(), sender.identity,
                static_cast<std::uint8_t>(page), static_cast<std::uint8_t>(pages - 1), all.subspan(first, count));
        if (!send_packet(sender, length, destination_of(sender, e131_discovery_universe)))
            return false;
    }
    return true;
}

bool end_streams(dmx_sender& sender)
{
    if (!sender.sacn)
        return true;
    for (int round = 0; round < sacn_termination_packets; ++round) {
        for (const universe_frame& frame : sender.last->all()) {
            const auto levels = std::span(frame.levels).first(frame.length);
            if (!send_e131(sender, frame.universe, levels, e131_stream_terminated))
                return false;
        }
    }
    return true;
}

const char* shown_target(const network_options& net)
{
    return net.sacn && !net.target_given ? "multicast" : net.target;
}

void print_sacn_source(std::FILE* out, const network_options& net, const e131_identity& identity)
{
    std::fprintf(out, "Protocol: sACN (E1.31) | Priority: %d\n", net.priority);
    std::fprintf(out, "Source: %s | CID: %s\n", identity.name.data(), format_cid(identity.cid).data());
    if (net.target_given)
        std::fprintf(out, "Unicast: every packet to %s:%d\n", net.target, net.port);
    else
        std::fprintf(out, "Multicast: each universe to its group 239.255.<hi>.<lo>:%d, TTL 1, interface %s\n", net.port,
            net.interface_text != nullptr ? net.interface_text : "chosen by the system");
}
