#include "node.hpp"

#include "clock.hpp"
#include "descriptors.hpp"
#include "signals.hpp"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <memory>
#include <string_view>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::int64_t longest_delay_ms = 1000;
constexpr unsigned long report_counter_wrap = 10000;
// An address silent for longer than controllers wait between polls has left.
constexpr std::int64_t forget_after_ns = 4'000'000'000;

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

// A source an answer can reach: not a multicast group, not the broadcast
// address, not "this network" (0.0.0.0/8), not the directed broadcast of a
// network of this host, and with a port. Other directed broadcasts cannot be
// told from unicast; the system refuses to send to those of networks added
// since the start, as the socket does not broadcast.
bool answerable(const artnet_node& node, const sockaddr_in& source)
{
    const std::uint32_t address = ntohl(source.sin_addr.s_addr);
    return source.sin_port != 0 && address >> 24 != 0 && address >> 28 != 0xe && address != INADDR_BROADCAST
        && std::ranges::find(node.broadcast_addresses, source.sin_addr.s_addr) == node.broadcast_addresses.end();
}

void read_broadcast_addresses(artnet_node& node)
{
    ifaddrs* first = nullptr;
    if (::getifaddrs(&first) != 0)
        return;
    const std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> list(first, ::freeifaddrs);
    std::size_t count = 0;
    for (const ifaddrs* i = first; i != nullptr && count < node.broadcast_addresses.size(); i = i->ifa_next) {
        if (i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET && (i->ifa_flags & IFF_BROADCAST) != 0
            && i->ifa_broadaddr != nullptr)
            node.broadcast_addresses[count++] = reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr)->sin_addr.s_addr;
    }
}

// An address that polled again within the second after a poll it had
// taken: controllers poll every 2.5 to 3 seconds, a flood does not wait.
bool noisy(const poller_entry& entry)
{
    return entry.refused > entry.taken;
}

// The entry a new address takes: a free one, or one whose address has been
// silent for longer than controllers wait between polls; else the noisy one
// answered most recently. Quiet addresses keep their place, waiting or not,
// so that no flood pushes out a controller that polls as it should; the
// newcomer then finds no room (nullptr) until an entry is forgotten.
poller_entry* room_for_newcomer(std::span<poller_entry> pollers, std::int64_t now)
{
    poller_entry* noisiest = nullptr;
    for (poller_entry& entry : pollers) {
        if (!entry.waiting && (entry.taken == 0 || now - entry.taken >= forget_after_ns))
            return &entry;
        if (noisy(entry) && (noisiest == nullptr || entry.answered > noisiest->answered))
            noisiest = &entry;
    }
    return noisiest;
}

// Whether `a` is answered before `b` when both are due: a quiet address
// before a noisy one, one answered before (a controller that keeps the node
// in its list) before a new one, then the one answered longest ago, then the
// one due first.
bool answered_before(const poller_entry& a, const poller_entry& b)
{
    if (noisy(a) != noisy(b))
        return !noisy(a);
    if ((a.answered == 0) != (b.answered == 0))
        return a.answered != 0;
    return a.answered != b.answered ? a.answered < b.answered : a.due < b.due;
}

// How many replies answer one poll: one per four universes that share Net
// and Sub-Net; 64 with every universe of Net 0.
std::size_t reply_count(const artnet_node& node)
{
    return node.ports.replies;
}

// When the budget holds the replies of one more answer.
std::int64_t budget_ready_at(const artnet_node& node)
{
    return node.budget_whole_at - (reply_burst - static_cast<std::int64_t>(reply_count(node))) * reply_spacing_ns;
}

} // namespace

void start_node(artnet_node& node, const char* program, std::uint16_t universe, bool all_universes)
{
    std::array<std::uint16_t, most_node_ports> every{};
    for (std::size_t i = 0; i < every.size(); ++i)
        every[i] = static_cast<std::uint16_t>(i);
    start_node(node, program, all_universes ? std::span<const std::uint16_t>(every) : std::span(&universe, 1));
}

void start_node(artnet_node& node, const char* program, std::span<const std::uint16_t> universes)
{
    node.enabled = true;
    node.program = program;
    set_ports(node.ports, universes);
    std::array<char, 256> host{};
    const bool named = ::gethostname(host.data(), host.size() - 1) == 0;
    join(node.short_name, {"dmxkit ", program});
    join(node.long_name, {"dmxkit ", program, " on ", named ? host.data() : "this host"});
    read_broadcast_addresses(node);
    node.random = static_cast<std::uint32_t>(monotonic_ns()) ^ static_cast<std::uint32_t>(::getpid()) << 16;
    if (node.random == 0)
        node.random = 1;
}

void note_frame(artnet_node& node, std::uint16_t universe, std::int64_t now)
{
    if (node.enabled)
        note_port_frame(node.ports, universe, now);
}

bool take_poll(artnet_node& node, std::span<const std::uint8_t> datagram, const sockaddr_in& source, std::int64_t now)
{
    artpoll poll;
    if (!node.enabled || !parse_artpoll(datagram, poll))
        return false;
    if (!answerable(node, source))
        return true;
    const auto known = std::ranges::find_if(node.pollers,
        [&](const poller_entry& entry) { return entry.poller.sin_addr.s_addr == source.sin_addr.s_addr; });
    poller_entry* entry = nullptr;
    if (known != node.pollers.end()) {
        const bool too_soon = now - known->taken < poll_spacing_ns;
        if (too_soon)
            known->refused = now;
        if (too_soon || known->waiting)
            return true;
        entry = &*known;
    } else {
        entry = room_for_newcomer(node.pollers, now);
        if (entry == nullptr)
            return true;
        *entry = {};
    }
    const auto delay_ms = static_cast<std::int64_t>(next_random(node.random) % (longest_delay_ms + 1));
    entry->poller = source;
    entry->taken = now;
    entry->due = now + delay_ms * ns_per_ms;
    entry->waiting = true;
    return true;
}

int node_wait_ms(const artnet_node& node, std::int64_t now)
{
    constexpr std::int64_t never = std::numeric_limits<std::int64_t>::max();
    std::int64_t soonest = never;
    for (const poller_entry& entry : node.pollers) {
        if (entry.waiting)
            soonest = std::min(soonest, entry.due);
    }
    if (soonest == never)
        return no_timeout;
    soonest = std::max(soonest, budget_ready_at(node));
    return ms_until(soonest, now);
}

namespace {

// The local address that datagrams to `destination` leave from.
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

// Takes the poll to answer at `now` and charges its replies to the budget
// (true), or finds none due or no budget left (false).
bool next_answer(artnet_node& node, std::int64_t now, sockaddr_in& poller)
{
    if (budget_ready_at(node) > now)
        return false;
    poller_entry* chosen = nullptr;
    for (poller_entry& entry : node.pollers) {
        if (entry.waiting && entry.due <= now && (chosen == nullptr || answered_before(entry, *chosen)))
            chosen = &entry;
    }
    if (chosen == nullptr)
        return false;
    chosen->waiting = false;
    chosen->answered = now;
    node.budget_whole_at
        = std::max(node.budget_whole_at, now) + static_cast<std::int64_t>(reply_count(node)) * reply_spacing_ns;
    poller = chosen->poller;
    return true;
}

// The fields of reply `index` of an answer sent from `address` at `now`, the
// node report counting `replies_sent` + 1.
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
    fields.port_count = reply_ports(node.ports, index, now, outputting_window_ns, fields.universes, fields.outputting);
    return fields;
}

} // namespace

bool send_reply(int sock, std::span<const std::uint8_t> reply, const sockaddr_in& to)
{
    return ::sendto(sock, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to)
        == static_cast<ssize_t>(reply.size());
}

bool send_due_replies(artnet_node& node, int sock, std::int64_t now, reply_sender send)
{
    bool moved = false;
    sockaddr_in poller{};
    while (next_answer(node, now, poller)) {
        const in_addr address = local_address_toward(poller);
        const unsigned long before = node.replies_sent;
        for (std::size_t index = 0; index < reply_count(node); ++index) {
            std::array<char, 64> report{};
            std::array<std::uint8_t, artpollreply_size> packet{};
            build_artpollreply(packet, reply_fields(node, index, address, now, report));
            // An answer that cannot go out now is not retried: the controller
            // polls again. A refused destination refuses every reply.
            if (!send(sock, packet, poller))
                break;
            ++node.replies_sent;
        }
        if (node.replies_sent == before)
            continue;
        moved = moved || before == 0 || address.s_addr != node.last_address.s_addr;
        node.last_address = address;
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

void print_unannounced_line(std::FILE* out, const artnet_node& node)
{
    const std::size_t left_out = node.ports.left_out;
    if (left_out == 0)
        return;
    std::fprintf(out, "Warning: %zu universe%s not announced: a node answers ArtPoll with at most %zu replies\n",
        left_out, left_out == 1 ? " is" : "s are", most_replies);
}
