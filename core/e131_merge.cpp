#include "e131_merge.hpp"

#include <algorithm>

namespace {

// A whole rig of 256 universes is kept without moving a merge.
constexpr std::size_t usual_universes = 256;
// Packets this far behind the last one taken, or equal to it, come late or
// twice; anything else is taken, so that a restarted source is heard at once.
constexpr int sequence_window = 20;

bool is_stale(std::uint8_t sequence, std::uint8_t last)
{
    const auto difference = static_cast<std::int8_t>(static_cast<std::uint8_t>(sequence - last));
    return difference <= 0 && difference > -sequence_window;
}

// The length of the well-formed UTF-8 character at the start of `text`, 0
// for anything else: a stray or missing continuation byte, an overlong form,
// or a C1 control (U+0080 to U+009F), which terminals act on.
std::size_t utf8_character(std::string_view text)
{
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    const std::size_t length = lead >= 0xf5 ? 0 : lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 ? 2 : 0;
    if (length == 0 || length > text.size() || (lead == 0xc2 && byte(1) < 0xa0))
        return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(i) & 0xc0) != 0x80)
            return 0;
    const bool overlong = (lead == 0xe0 && byte(1) < 0xa0) || (lead == 0xf0 && byte(1) < 0x90);
    const bool too_high = lead == 0xf4 && byte(1) >= 0x90;
    return overlong || too_high ? 0 : length;
}

} // namespace

void copy_shown_name(std::string_view raw, std::array<char, e131_name_size>& out)
{
    out.fill('\0');
    std::size_t at = 0;
    while (!raw.empty() && at + 1 < out.size()) {
        const auto byte = static_cast<unsigned char>(raw[0]);
        std::size_t length = byte >= 0x20 && byte < 0x7f ? 1 : utf8_character(raw);
        if (length == 0 || at + length >= out.size()) {
            out[at++] = '?';
            length = std::max<std::size_t>(length, 1);
        } else {
            std::copy_n(raw.begin(), length, out.begin() + static_cast<std::ptrdiff_t>(at));
            at += length;
        }
        raw.remove_prefix(length);
    }
}

namespace {

void note_seen(e131_merge& merge, const e131_cid& cid)
{
    if (merge.seen.size() < most_counted_sources && std::ranges::find(merge.seen, cid) == merge.seen.end())
        merge.seen.push_back(cid);
}

// The merge of the sources of the highest priority, each channel taking the
// highest level among them; a channel that only some of them send takes the
// highest of those.
void merge_again(universe_merge& u)
{
    u.ignored = static_cast<std::size_t>(std::ranges::count_if(u.sources, &e131_source::ignored));
    u.priority = 0;
    for (const e131_source& source : u.sources)
        if (!source.ignored)
            u.priority = std::max(u.priority, source.priority);
    u.merged = 0;
    u.length = 0;
    for (std::size_t i = 0; i < u.sources.size(); ++i) {
        const e131_source& source = u.sources[i];
        if (source.ignored || source.priority != u.priority)
            continue;
        if (u.merged++ == 0)
            u.winner = i;
        if (source.length > u.length) {
            std::fill(u.levels.begin() + static_cast<std::ptrdiff_t>(u.length),
                u.levels.begin() + static_cast<std::ptrdiff_t>(source.length), 0);
            u.length = source.length;
        }
        for (std::size_t c = 0; c < source.length; ++c)
            u.levels[c] = std::max(u.levels[c], source.levels[c]);
    }
}

void take_levels(e131_source& source, const e131_data& packet, in_addr from, std::int64_t now)
{
    source.address = from;
    source.priority = packet.priority;
    source.sequence = packet.sequence;
    source.last_ns = now;
    source.length = packet.levels.size();
    std::ranges::copy(packet.levels, source.levels.begin());
}

universe_merge& find_or_add(e131_merge& merge, std::uint16_t universe)
{
    if (merge.slot_of.empty()) {
        merge.slot_of.assign(universe_field_values, 0);
        merge.universes.reserve(usual_universes);
    }
    std::uint16_t& slot = merge.slot_of[universe];
    if (slot == 0) {
        merge.universes.push_back({});
        merge.universes.back().universe = universe;
        slot = static_cast<std::uint16_t>(merge.universes.size());
    }
    return merge.universes[slot - 1];
}

// A packet of a source the universe does not know: a new live source, or
// one beyond the bound remembered as ignored (false).
bool add_source(e131_merge& merge, universe_merge& u, const e131_data& packet, in_addr from, std::int64_t now)
{
    const std::size_t live = u.sources.size() - u.ignored;
    if (live >= most_sources_per_universe && u.ignored >= most_ignored_sources_per_universe)
        return false;
    if (merge.next_expiry == 0)
        merge.next_expiry = now + e131_loss_timeout_ns;
    note_seen(merge, packet.cid);
    e131_source& source = u.sources.emplace_back();
    source.cid = packet.cid;
    copy_shown_name(packet.source_name, source.name);
    source.ignored = live >= most_sources_per_universe;
    if (source.ignored) {
        source.last_ns = now;
        ++u.ignored;
        ++merge.sources_ignored;
        return false;
    }
    take_levels(source, packet, from, now);
    return true;
}

std::int64_t earliest_expiry(const e131_merge& merge)
{
    std::int64_t earliest = 0;
    for (const universe_merge& u : merge.universes)
        for (const e131_source& source : u.sources)
            if (earliest == 0 || source.last_ns + e131_loss_timeout_ns < earliest)
                earliest = source.last_ns + e131_loss_timeout_ns;
    return earliest;
}

} // namespace

void watch_e131_universe(e131_merge& merge, std::uint16_t universe)
{
    merge.all = false;
    merge.wanted.set(universe);
}

const universe_merge* take_e131_data(e131_merge& merge, const e131_data& packet, in_addr from, std::int64_t now)
{
    if ((packet.options & e131_preview_data) != 0 || packet.start_code != 0
        || (!merge.all && !merge.wanted.test(packet.universe)))
        return nullptr;
    const bool ending = (packet.options & e131_stream_terminated) != 0;
    if (ending && (merge.slot_of.empty() || merge.slot_of[packet.universe] == 0))
        return nullptr;
    universe_merge& u = find_or_add(merge, packet.universe);
    const auto known = std::ranges::find(u.sources, packet.cid, &e131_source::cid);
    if (known == u.sources.end()) {
        if (ending || !add_source(merge, u, packet, from, now))
            return nullptr;
    } else if (!known->ignored && is_stale(packet.sequence, known->sequence)) {
        return nullptr;
    } else if (ending) {
        const bool was_ignored = known->ignored;
        u.sources.erase(known);
        merge_again(u);
        return was_ignored ? nullptr : &u;
    } else if (known->ignored) {
        known->last_ns = now;
        if (u.sources.size() - u.ignored >= most_sources_per_universe)
            return nullptr;
        known->ignored = false; // a place came free
        take_levels(*known, packet, from, now);
    } else {
        take_levels(*known, packet, from, now);
    }
    merge_again(u);
    return &u;
}

const universe_merge* expire_e131_sources(e131_merge& merge, std::int64_t now)
{
    const auto silent = [now](const e131_source& source) { return now - source.last_ns >= e131_loss_timeout_ns; };
    // A pass that ends sets the next time to look, which may have come
    // already for the universes it passed before this one: one more pass.
    for (int pass = 0; pass < 2 && merge.next_expiry != 0 && now >= merge.next_expiry; ++pass) {
        while (merge.expiry_cursor < merge.universes.size()) {
            universe_merge& u = merge.universes[merge.expiry_cursor++];
            if (std::erase_if(u.sources, silent) != 0) {
                merge_again(u);
                return &u;
            }
        }
        merge.expiry_cursor = 0;
        merge.next_expiry = earliest_expiry(merge);
    }
    return nullptr;
}
