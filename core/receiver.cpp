#include "receiver.hpp"

#include "clock.hpp"
#include "status_line.hpp"
#include "udp.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#if defined(__linux__)
#include <linux/sock_diag.h>
#endif

namespace {

// A burst of 256 universes overflows the default receive buffer while the
// loop waits; the system may grant less, which is fine.
constexpr int wanted_receive_buffer = 4 * 1024 * 1024;

enum class receive_status { datagram, idle, failed };

// One datagram that is waiting already, and its sender.
receive_status receive_waiting(dmx_receiver& receiver, std::size_t& out_length, sockaddr_in& source)
{
    socklen_t source_size = sizeof source;
    const std::size_t room = receiver.sacn.enabled ? receiver.datagram.size() : receive_buffer_size;
    const ssize_t received = ::recvfrom(
        receiver.sock.get(), receiver.datagram.data(), room, 0, reinterpret_cast<sockaddr*>(&source), &source_size);
    if (received >= 0) {
        out_length = static_cast<std::size_t>(received);
        return receive_status::datagram;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return receive_status::idle;
    end_status_line();
    std::perror("recvfrom");
    return receive_status::failed;
}

int sooner(int a_ms, int b_ms)
{
    if (a_ms == no_timeout)
        return b_ms;
    return b_ms == no_timeout ? a_ms : std::min(a_ms, b_ms);
}

void send_replies(dmx_receiver& receiver, std::int64_t now)
{
    if (send_due_replies(receiver.node, receiver.sock.get(), now) && receiver.report_node_address) {
        end_status_line();
        print_node_line(stderr, receiver.node);
    }
}

// The frame of a universe's merge.
void hand_over(dmx_receiver& receiver, const universe_merge& merged, bool from_packet)
{
    receiver.universe = merged.universe;
    receiver.levels = std::span(merged.levels).first(merged.length);
    receiver.from_packet = from_packet;
    receiver.sacn.last = &merged;
}

void tell_sender(dmx_receiver& receiver, const packet_source& from, std::string_view name, source_row* row)
{
    receiver.sender = from;
    receiver.sender_name = name;
    receiver.sender_gaps = row == nullptr ? 0 : row->gaps - std::exchange(row->gaps_told, row->gaps);
}

packet_source sender_of(const sockaddr_in& source, source_protocol protocol)
{
    packet_source from;
    from.protocol = protocol;
    from.address = source.sin_addr;
    from.port = ntohs(source.sin_port);
    return from;
}

bool join_universe(sacn_reception& sacn, int sock, std::uint16_t universe)
{
    if (sacn.joined.test(universe))
        return true;
    if (!join_group(sacn.groups, sock, e131_group(universe)))
        return false;
    sacn.joined.set(universe);
    return true;
}

// A data packet to merge, or a discovery page whose universes are joined.
bool take_sacn(dmx_receiver& receiver, std::span<const std::uint8_t> datagram, const sockaddr_in& source)
{
    sacn_reception& sacn = receiver.sacn;
    e131_data packet;
    if (parse_e131_data(datagram, packet)) {
        const std::int64_t now = monotonic_ns();
        packet_source from = sender_of(source, source_protocol::sacn);
        from.cid = packet.cid;
        from.priority = packet.priority;
        // Noted before the merge, which passes over a packet that comes late
        // or twice (a gap all the same) and those of other start codes or
        // preview data (which carry the source's sequence too).
        source_row* row = receiver.sources.enabled ? note_e131(receiver.sources, packet, from, now) : nullptr;
        const universe_merge* merged = take_e131_data(sacn.merge, packet, source.sin_addr, now);
        if (merged == nullptr)
            return false;
        hand_over(receiver, *merged, true);
        tell_sender(receiver, from, packet.source_name, row);
        return true;
    }
    e131_discovery page;
    if (!sacn.discover || !parse_e131_discovery(datagram, page))
        return false;
    for (std::size_t i = 0; i < page.count() && sacn.groups.joined < most_joined_universes; ++i) {
        const std::uint16_t universe = page.universe(i);
        if (universe >= lowest_e131_universe && universe <= highest_e131_universe)
            join_universe(sacn, receiver.sock.get(), universe);
    }
    return false;
}

int expiry_wait_ms(const dmx_receiver& receiver, std::int64_t now)
{
    const std::int64_t expiry = receiver.sacn.merge.next_expiry;
    return expiry == 0 ? no_timeout : ms_until(expiry, now);
}

} // namespace

receiver_opening open_artnet_receiver(dmx_receiver& receiver, int port)
{
    receiver.sock = open_udp_socket();
    const int sock = receiver.sock.get();
    if (!receiver.sock || !enable_socket_option(sock, SO_REUSEADDR, "setsockopt(SO_REUSEADDR)")
        || !enable_socket_option(sock, SO_REUSEPORT, "setsockopt(SO_REUSEPORT)")) {
        receiver.sock.reset();
        return receiver_opening::failed;
    }
    ::setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &wanted_receive_buffer, sizeof wanted_receive_buffer);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        std::fprintf(stderr, "Failed to bind to port %d: %s\n", port, std::strerror(errno));
        receiver.sock.reset();
        return receiver_opening::bind_failed;
    }
    set_nonblocking(sock);
    return receiver_opening::opened;
}

receiver_opening open_sacn_receiver(
    dmx_receiver& receiver, const network_options& net, std::span<const std::uint16_t> universes, bool all_universes)
{
    const receiver_opening opened = open_artnet_receiver(receiver, net.port);
    if (opened != receiver_opening::opened)
        return opened;
    sacn_reception& sacn = receiver.sacn;
    sacn.enabled = true;
    sacn.discover = all_universes;
    sacn.groups.local_interface = net.interface;
    const int sock = receiver.sock.get();
#if defined(IP_MULTICAST_ALL)
    // Already so by default: the memberships held by other sockets reach this one.
    const int on = 1;
    ::setsockopt(sock, IPPROTO_IP, IP_MULTICAST_ALL, &on, sizeof on);
#endif
    if (!all_universes)
        for (const std::uint16_t universe : universes)
            watch_e131_universe(sacn.merge, universe);
    const std::span<const std::uint16_t> joined_first
        = all_universes ? std::span(&e131_discovery_universe, 1) : universes;
    for (const std::uint16_t universe : joined_first) {
        sacn.join_failed = !join_universe(sacn, sock, universe);
        if (sacn.join_failed) {
            std::fprintf(stderr,
                "Warning: Failed to join the multicast group of universe %d: %s (unicast is still taken)\n", universe,
                std::strerror(errno));
            break;
        }
    }
    return receiver_opening::opened;
}

void print_sacn_line(std::FILE* out, const dmx_receiver& receiver, const network_options& net)
{
    std::array<char, INET_ADDRSTRLEN> address{};
    ::inet_ntop(AF_INET, &net.interface, address.data(), address.size());
    const sacn_reception& sacn = receiver.sacn;
    const char* joined = !sacn.join_failed ? "joined" : sacn.groups.joined == 0 ? "not joined" : "joined in part";
    std::fprintf(out, "sACN multicast %s on %s%s; unicast is taken too\n", joined,
        net.interface.s_addr == htonl(INADDR_ANY) ? "the system's interface" : address.data(),
        sacn.discover ? " for the universes that sources announce" : "");
}

void print_bind_hints(int port)
{
    std::fprintf(stderr, "Another process may be using this port. Try:\n");
    std::fprintf(stderr, "  - Using a different port with -p option\n");
    std::fprintf(stderr, "  - Stopping the other process using port %d\n", port);
}

void track_sources(dmx_receiver& receiver, std::span<const std::uint16_t> universes, bool all_universes)
{
    start_source_table(receiver.sources);
    for (const std::uint16_t universe : all_universes ? std::span<const std::uint16_t>() : universes)
        watch_source_universe(receiver.sources, universe);
}

void answer_polls(dmx_receiver& receiver, const char* program, std::uint16_t universe, bool all_universes)
{
    start_node(receiver.node, program, universe, all_universes);
}

void answer_polls(dmx_receiver& receiver, const char* program, std::span<const std::uint16_t> universes)
{
    start_node(receiver.node, program, universes);
}

receive_event next_frame(dmx_receiver& receiver, std::span<pollfd> also_watch, int timeout_ms)
{
    // Wait, then take the datagram: one wait and one receive per datagram,
    // the least a receiver can do, and no periodic wake-ups.
    std::array<pollfd, most_watched> watched{};
    if (also_watch.size() >= watched.size()) { // never dropped unseen
        errno = EINVAL;
        end_status_line();
        std::perror("poll");
        return receive_event::failed;
    }
    const auto all = std::span(watched).first(also_watch.size() + 1);
    const std::int64_t deadline = timeout_ms == no_timeout ? 0 : monotonic_ns() + timeout_ms * ns_per_ms;
    for (bool first_pass = true;; first_pass = false) {
        const std::int64_t now = monotonic_ns();
        send_replies(receiver, now);
        if (receiver.sacn.enabled) {
            if (const universe_merge* changed = expire_e131_sources(receiver.sacn.merge, now)) {
                hand_over(receiver, *changed, false);
                return receive_event::frame;
            }
        }
        // Checked on every pass, not only when the socket is idle: a flood
        // of other datagrams keeps it busy for ever. The first pass always
        // looks, so that a wait of 0 still takes what is waiting.
        if (!first_pass && timeout_ms != no_timeout && now >= deadline)
            return receive_event::timed_out;
        const int wait = sooner(
            sooner(timeout_ms == no_timeout ? no_timeout : ms_until(deadline, now), node_wait_ms(receiver.node, now)),
            expiry_wait_ms(receiver, now));
        watched[0] = {receiver.sock.get(), POLLIN, 0};
        std::copy(also_watch.begin(), also_watch.end(), watched.begin() + 1);
        const int ready = wait_for_events(all, wait);
        if (ready == wait_failed)
            return receive_event::failed;
        std::copy_n(watched.begin() + 1, also_watch.size(), also_watch.begin());
        if (ready == woken_by_signal)
            return receive_event::woken;
        if (std::ranges::any_of(also_watch, [](const pollfd& entry) { return entry.revents != 0; }))
            return receive_event::ready;
        if (watched[0].revents == 0)
            continue; // the time is up, or a reply fell due
        std::size_t length = 0;
        sockaddr_in source{};
        const receive_status status = receive_waiting(receiver, length, source);
        if (status == receive_status::failed)
            return receive_event::failed;
        if (status == receive_status::idle)
            continue;
        const auto datagram = std::span(receiver.datagram).first(length);
        if (receiver.sacn.enabled) {
            if (take_sacn(receiver, datagram, source))
                return receive_event::frame;
            continue;
        }
        std::size_t data_length = 0;
        if (parse_artdmx(datagram, receiver.universe, receiver.data, data_length)) {
            const std::int64_t arrival = monotonic_ns();
            note_frame(receiver.node, receiver.universe, arrival);
            receiver.levels = std::span(receiver.data).first(data_length);
            if (receiver.sources.enabled) {
                const packet_source from = sender_of(source, source_protocol::artnet);
                tell_sender(receiver, from, {},
                    note_artdmx(receiver.sources, receiver.universe, from, artdmx_sequence(datagram), receiver.levels,
                        arrival));
            }
            return receive_event::frame;
        }
        take_poll(receiver.node, datagram, source, monotonic_ns());
    }
}

unsigned long long datagrams_lost(const dmx_receiver& receiver)
{
#if defined(__linux__) && defined(SO_MEMINFO)
    std::array<std::uint32_t, SK_MEMINFO_VARS> info{};
    socklen_t size = sizeof info;
    if (::getsockopt(receiver.sock.get(), SOL_SOCKET, SO_MEMINFO, info.data(), &size) == 0
        && size >= (SK_MEMINFO_DROPS + 1) * sizeof info[0])
        return info[SK_MEMINFO_DROPS];
#else
    (void)receiver;
#endif
    return 0;
}
