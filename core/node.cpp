#include "node.hpp"

#include "clock.hpp"
#include "descriptors.hpp"
#include "signals.hpp"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string_view>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::int64_t longest_delay_ms = 1000;
constexpr unsigned long report_counter_wrap = 10000;

// xorshift32: enough to spread the nodes' answers, and no allocation.
std::uint32_t next_random(std::uint32_t& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// The parts one after the other, cut to leave room for the ending zero.
void join(std::span<char> out, std::initializer_list<std::string_view> parts)
{
    std::size_t length = 0;
    for (const std::string_view part : parts) {
        const std::size_t taken = std::min(part.size(), out.size() - 1 - length);
        std::copy_n(part.begin(), taken, out.begin() + static_cast<std::ptrdiff_t>(length));
        length += taken;
    }
    out[length] = '\0';
}

bool same_poller(const sockaddr_in& a, const sockaddr_in& b)
{
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

} // namespace

void start_node(artnet_node& node, const char* program, std::uint16_t universe, bool all_universes)
{
    node.enabled = true;
    node.program = program;
    node.universe = universe;
    node.all_universes = all_universes;
    std::array<char, 256> host{};
    const bool named = ::gethostname(host.data(), host.size() - 1) == 0;
    join(node.short_name, {"dmxkit ", program});
    join(node.long_name, {"dmxkit ", program, " on ", named ? host.data() : "this host"});
    node.random = static_cast<std::uint32_t>(monotonic_ns()) ^ static_cast<std::uint32_t>(::getpid()) << 16;
    if (node.random == 0)
        node.random = 1;
}

void note_frame(artnet_node& node, std::uint16_t universe, std::int64_t now)
{
    if (node.enabled && universe < node.last_frame.size())
        node.last_frame[universe] = now;
}

bool take_poll(artnet_node& node, std::span<const std::uint8_t> datagram, const sockaddr_in& source, std::int64_t now)
{
    artpoll poll;
    if (!node.enabled || !parse_artpoll(datagram, poll))
        return false;
    const auto waiting = std::span(node.pending).first(node.pending_count);
    if (node.pending_count == node.pending.size()
        || std::ranges::any_of(waiting, [&](const pending_poll& p) { return same_poller(p.poller, source); }))
        return true;
    const auto delay_ms = static_cast<std::int64_t>(next_random(node.random) % (longest_delay_ms + 1));
    node.pending[node.pending_count++] = {now + delay_ms * ns_per_ms, source};
    return true;
}

int node_wait_ms(const artnet_node& node, std::int64_t now)
{
    if (node.pending_count == 0)
        return no_timeout;
    std::int64_t soonest = node.pending[0].due;
    for (const pending_poll& p : std::span(node.pending).first(node.pending_count))
        soonest = std::min(soonest, p.due);
    return ms_until(soonest, now);
}

std::size_t reply_count(const artnet_node& node)
{
    return node.all_universes ? all_universe_replies : 1;
}

artpollreply_fields reply_fields(
    const artnet_node& node, std::size_t index, in_addr address, std::int64_t now, std::span<char> report)
{
    artpollreply_fields fields;
    const std::uint32_t host_order = ntohl(address.s_addr);
    fields.address = {static_cast<std::uint8_t>(host_order >> 24), static_cast<std::uint8_t>(host_order >> 16),
        static_cast<std::uint8_t>(host_order >> 8), static_cast<std::uint8_t>(host_order)};
    fields.short_name = node.short_name.data();
    fields.long_name = node.long_name.data();
    std::snprintf(report.data(), report.size(), "#0001 [%04lu] dmxkit %s ok",
        (node.replies_sent + 1) % report_counter_wrap, node.program);
    fields.node_report = report.data();
    fields.bind_index = static_cast<std::uint8_t>(index + 1);
    fields.port_count = node.all_universes ? ports_per_reply : 1;
    for (std::size_t port = 0; port < fields.port_count; ++port) {
        const auto universe
            = static_cast<std::uint16_t>(node.all_universes ? index * ports_per_reply + port : node.universe);
        fields.universes[port] = universe;
        const std::int64_t last = node.last_frame[universe];
        fields.outputting[port] = last != 0 && now - last < outputting_window_ns;
    }
    return fields;
}

in_addr local_address_toward(const sockaddr_in& destination)
{
    // Connecting a datagram socket sends nothing; it only asks the routing
    // table which local address would be used.
    in_addr address{};
    const unique_fd probe(::socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (probe && ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&destination), sizeof destination) == 0
        && ::getsockname(probe.get(), reinterpret_cast<sockaddr*>(&local), &size) == 0)
        address = local.sin_addr;
    return address;
}

bool send_due_replies(artnet_node& node, int sock, std::int64_t now)
{
    bool moved = false;
    for (std::size_t i = 0; i < node.pending_count;) {
        const pending_poll poll = node.pending[i];
        if (poll.due > now) {
            ++i;
            continue;
        }
        node.pending[i] = node.pending[--node.pending_count];
        const in_addr address = local_address_toward(poll.poller);
        moved = moved || node.replies_sent == 0 || address.s_addr != node.last_address.s_addr;
        node.last_address = address;
        for (std::size_t index = 0; index < reply_count(node); ++index) {
            std::array<char, 64> report{};
            std::array<std::uint8_t, artpollreply_size> packet{};
            build_artpollreply(packet, reply_fields(node, index, address, now, report));
            // A reply that cannot go out now is not retried: the controller polls again.
            if (::sendto(sock, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&poll.poller),
                    sizeof poll.poller)
                == static_cast<ssize_t>(packet.size()))
                ++node.replies_sent;
        }
    }
    return moved;
}

void print_node_line(std::FILE* out, const artnet_node& node)
{
    std::fprintf(out, "Answering ArtPoll as \"%s\" ", node.short_name.data());
    if (node.replies_sent == 0) {
        std::fprintf(out, "on every network\n");
        return;
    }
    std::array<char, INET_ADDRSTRLEN> address{};
    ::inet_ntop(AF_INET, &node.last_address, address.data(), address.size());
    std::fprintf(out, "at %s\n", address.data());
}
