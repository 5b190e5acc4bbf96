#include "source_table.hpp"

#include "e131_merge.hpp"

#include <algorithm>
#include <cstring>
#include <tuple>

#include <arpa/inet.h>

namespace {

// Rows that have left are cleared away at most this often; until then they
// are only passed over.
constexpr std::int64_t sweep_interval_ns = 1'000'000'000;
// A packet this far behind its row's last one, or equal to it, comes late or
// twice: it counts as a gap and does not move the row on.
constexpr int late_window = 20;
constexpr std::int64_t rate_window_ns = 1'000'000'000;

constexpr std::uint64_t fnv_offset = 0xcbf29ce484222325ULL;
constexpr std::uint64_t fnv_prime = 0x100000001b3ULL;

std::uint64_t mix(std::uint64_t hash, std::uint8_t byte)
{
    return (hash ^ byte) * fnv_prime;
}

// The Art-Net sequence that follows `last`: 1 to 255, 0 being "not used".
std::uint8_t artnet_after(std::uint8_t last)
{
    return last == 255 ? 1 : static_cast<std::uint8_t>(last + 1);
}

// How far `sequence` is behind `last` among 1 to 255 (0: the same).
int artnet_behind(std::uint8_t sequence, std::uint8_t last)
{
    return (last - sequence + 255) % 255;
}

int e131_behind(std::uint8_t sequence, std::uint8_t last)
{
    return static_cast<std::uint8_t>(last - sequence);
}

bool has_left(const source_row& row, std::int64_t now)
{
    if (row.from.protocol == source_protocol::artnet)
        return now - row.last_ns >= source_leave_ns;
    const std::int64_t gone = row.ended ? row.ended_ns : row.last_ns + e131_loss_timeout_ns;
    return now - gone >= source_leave_ns;
}

bool is_live(const source_row& row, std::int64_t now)
{
    return !row.ended && now - row.last_ns < e131_loss_timeout_ns;
}

void count_packet(source_row& row, std::int64_t now)
{
    const std::int64_t bucket = now / rate_bucket_ns;
    for (std::int64_t b = std::max(row.newest_bucket + 1, bucket - std::int64_t{rate_buckets} + 1); b <= bucket; ++b)
        row.counts[static_cast<std::size_t>(b) % rate_buckets] = 0;
    row.newest_bucket = std::max(row.newest_bucket, bucket);
    std::uint16_t& count = row.counts[static_cast<std::size_t>(bucket) % rate_buckets];
    count = static_cast<std::uint16_t>(std::min(count + 1, 0xffff));
    ++row.packets;
    row.last_ns = now;
}

void unlink(source_table& table, std::size_t index)
{
    source_row& row = table.rows[index];
    std::uint16_t* link = &table.first_of[row.universe];
    while (*link != index + 1)
        link = &table.rows[*link - 1].next;
    *link = row.next;
    if (row.sender != 0)
        --table.senders[row.sender - 1].rows;
    row = source_row{};
    --table.listed;
}

void sweep(source_table& table, std::int64_t now)
{
    if (now < table.next_sweep)
        return;
    table.next_sweep = now + sweep_interval_ns;
    for (std::size_t i = 0; i < table.rows.size(); ++i)
        if (table.rows[i].used && has_left(table.rows[i], now))
            unlink(table, i);
    table.beyond.forget_before(now - source_leave_ns);
}

std::uint16_t find_sender(source_table& table, const packet_source& from)
{
    std::size_t free = table.senders.size();
    for (std::size_t i = 0; i < table.senders.size(); ++i) {
        if (table.senders[i].rows == 0)
            free = std::min(free, i);
        else if (same_source(table.senders[i].from, from))
            return static_cast<std::uint16_t>(i + 1);
    }
    if (free == table.senders.size())
        return 0;
    table.senders[free] = {from};
    return static_cast<std::uint16_t>(free + 1);
}

// The row of `from` on `universe`, made when there is room; null otherwise,
// the source then counted.
source_row* find_or_add(source_table& table, std::uint16_t universe, const packet_source& from, std::int64_t now)
{
    if (!table.all && !table.wanted.test(universe))
        return nullptr;
    sweep(table, now);
    std::uint16_t* link = &table.first_of[universe];
    for (; *link != 0; link = &table.rows[*link - 1].next)
        if (same_source(table.rows[*link - 1].from, from))
            return &table.rows[*link - 1];
    const auto free = table.listed == table.rows.size() ? table.rows.end()
                                                        : std::ranges::find(table.rows, false, &source_row::used);
    if (free == table.rows.end()) {
        table.beyond.note(source_fingerprint(from, universe), now);
        return nullptr;
    }
    *link = static_cast<std::uint16_t>(free - table.rows.begin() + 1);
    free->used = true;
    free->universe = universe;
    free->from = from;
    free->newest_bucket = now / rate_bucket_ns;
    if (from.protocol == source_protocol::artnet && (free->sender = find_sender(table, from)) != 0)
        ++table.senders[free->sender - 1].rows;
    ++table.listed;
    return &*free;
}

} // namespace

bool same_source(const packet_source& a, const packet_source& b)
{
    if (a.protocol != b.protocol)
        return false;
    if (a.protocol == source_protocol::sacn)
        return a.cid == b.cid;
    return a.address.s_addr == b.address.s_addr && a.port == b.port;
}

std::uint64_t source_fingerprint(const packet_source& from)
{
    std::uint64_t hash = mix(fnv_offset, static_cast<std::uint8_t>(from.protocol));
    if (from.protocol == source_protocol::sacn) {
        for (const std::uint8_t byte : from.cid)
            hash = mix(hash, byte);
    } else {
        std::array<std::uint8_t, 4> address{};
        std::memcpy(address.data(), &from.address.s_addr, address.size());
        for (const std::uint8_t byte : address)
            hash = mix(hash, byte);
        hash = mix(mix(hash, from.port >> 8), from.port & 0xff);
    }
    return hash == 0 ? 1 : hash;
}

std::uint64_t source_fingerprint(const packet_source& from, std::uint16_t universe)
{
    const std::uint64_t hash = mix(mix(source_fingerprint(from), universe >> 8), universe & 0xff);
    return hash == 0 ? 1 : hash;
}

void fingerprint_set::note(std::uint64_t key, std::int64_t now)
{
    if (slots_.empty())
        return;
    // At most half the slots are used: a free one always ends the search.
    for (std::size_t i = key % slots_.size();; i = (i + 1) % slots_.size()) {
        slot& s = slots_[i];
        if (s.key == key) {
            s.last = now;
            return;
        }
        if (s.key == 0) {
            if (count_ == room_) {
                full_ = true;
                return;
            }
            s = {key, now};
            ++count_;
            return;
        }
    }
}

void fingerprint_set::forget_before(std::int64_t time)
{
    if (count_ == 0)
        return;
    // Taken out and put back, so that no search stops at a hole.
    slots_.swap(spare_);
    std::ranges::fill(slots_, slot{});
    count_ = 0;
    full_ = false;
    for (const slot& s : spare_)
        if (s.key != 0 && s.last >= time)
            note(s.key, s.last);
}

void start_source_table(source_table& table)
{
    table.enabled = true;
    table.rows.assign(most_listed_sources, {});
    table.first_of.assign(universe_field_values, 0);
    table.senders.assign(most_listed_sources, {});
    table.beyond = fingerprint_set(most_sources_beyond);
}

void watch_source_universe(source_table& table, std::uint16_t universe)
{
    table.all = false;
    table.wanted.set(universe);
}

source_row* note_artdmx(source_table& table, std::uint16_t universe, const packet_source& from, std::uint8_t sequence,
    std::span<const std::uint8_t> levels, std::int64_t now)
{
    source_row* row = find_or_add(table, universe, from, now);
    if (row == nullptr)
        return nullptr;
    count_packet(*row, now);
    row->length = levels.size();
    std::ranges::copy(levels, row->levels.begin());
    if (sequence == 0)
        return row;
    artnet_sender* sender = row->sender != 0 ? &table.senders[row->sender - 1] : nullptr;
    const bool in_order = !row->sequenced || artnet_after(row->sequence) == sequence
        || (sender != nullptr && sender->sequenced && artnet_after(sender->sequence) == sequence);
    if (!in_order)
        ++row->gaps;
    if (in_order || artnet_behind(sequence, row->sequence) >= late_window) {
        row->sequence = sequence;
        row->sequenced = true;
    }
    if (sender != nullptr) {
        sender->sequence = sequence;
        sender->sequenced = true;
    }
    return row;
}

source_row* note_e131(source_table& table, const e131_data& packet, const packet_source& from, std::int64_t now)
{
    source_row* row = find_or_add(table, packet.universe, from, now);
    if (row == nullptr)
        return nullptr;
    if (row->packets == 0)
        copy_shown_name(packet.source_name, row->name);
    count_packet(*row, now);
    const bool in_order = !row->sequenced || packet.sequence == static_cast<std::uint8_t>(row->sequence + 1);
    if (!in_order)
        ++row->gaps;
    if (!in_order && e131_behind(packet.sequence, row->sequence) < late_window)
        return row;
    row->sequence = packet.sequence;
    row->sequenced = true;
    if (packet.start_code != 0 || (packet.options & e131_preview_data) != 0)
        return row;
    row->from = from;
    row->length = packet.levels.size();
    row->ended = (packet.options & e131_stream_terminated) != 0;
    row->ended_ns = now;
    return row;
}

bool is_listed(const source_row& row, std::int64_t now)
{
    return row.used && !has_left(row, now);
}

unsigned packet_rate(const source_row& row, std::int64_t now)
{
    const std::int64_t current = now / rate_bucket_ns;
    const std::int64_t buckets = rate_window_ns / rate_bucket_ns;
    unsigned total = 0;
    for (std::int64_t b = current - buckets; b < current; ++b)
        if (b >= 0 && b <= row.newest_bucket && b > row.newest_bucket - std::int64_t{rate_buckets})
            total += row.counts[static_cast<std::size_t>(b) % rate_buckets];
    return total;
}

source_state state_of(const source_table& table, const source_row& row, std::int64_t now)
{
    if (row.from.protocol == source_protocol::artnet)
        return source_state::sending;
    if (row.ended)
        return source_state::ended;
    if (!is_live(row, now))
        return source_state::lost;
    std::uint8_t highest = 0;
    std::size_t at_highest = 0;
    for (std::uint16_t i = table.first_of[row.universe]; i != 0; i = table.rows[i - 1].next) {
        const source_row& other = table.rows[i - 1];
        if (other.from.protocol != source_protocol::sacn || !is_live(other, now))
            continue;
        if (other.from.priority > highest)
            at_highest = 0;
        highest = std::max(highest, other.from.priority);
        at_highest += other.from.priority == highest ? 1 : 0;
    }
    if (row.from.priority < highest)
        return source_state::outranked;
    return at_highest == 1 ? source_state::winning : source_state::merged;
}

const char* state_name(source_state state)
{
    switch (state) {
    case source_state::winning:
        return "winning";
    case source_state::merged:
        return "merged";
    case source_state::outranked:
        return "outranked";
    case source_state::ended:
        return "ended";
    case source_state::lost:
        return "lost";
    default:
        return "";
    }
}

std::size_t list_sources(const source_table& table, std::int64_t now, bool all, std::uint16_t universe,
    std::span<const source_row*, most_listed_sources> out)
{
    std::size_t count = 0;
    for (const source_row& row : table.rows)
        if (is_listed(row, now) && (all || row.universe == universe))
            out[count++] = &row;
    const auto key = [](const source_row* row) {
        return std::tuple(row->universe, ntohl(row->from.address.s_addr), row->from.port, row->from.cid);
    };
    std::sort(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(count),
        [&key](const source_row* a, const source_row* b) { return key(a) < key(b); });
    return count;
}

std::size_t sources_beyond(const source_table& table)
{
    return table.beyond.size();
}

universe_senders artnet_senders(const source_table& table, std::uint16_t universe, std::int64_t now)
{
    universe_senders senders;
    if (!table.enabled)
        return senders;
    const source_row* first = nullptr;
    for (std::uint16_t i = table.first_of[universe]; i != 0; i = table.rows[i - 1].next) {
        const source_row& row = table.rows[i - 1];
        if (row.from.protocol != source_protocol::artnet || now - row.last_ns >= rate_window_ns)
            continue;
        ++senders.count;
        if (first == nullptr) {
            first = &row;
            continue;
        }
        const std::size_t shared = std::min(first->length, row.length);
        senders.levels_differ = senders.levels_differ
            || !std::equal(
                row.levels.begin(), row.levels.begin() + static_cast<std::ptrdiff_t>(shared), first->levels.begin());
    }
    return senders;
}
