// Any datagram: the sACN parsers must never read out of bounds, and an
// accepted data packet must rebuild to the same bytes. Half the inputs are
// made well-formed first (their bytes giving the fields and one byte to
// spoil), so that the checks past the root layer are reached too. Accepted
// packets go on into one merge on a clock that they move, which must keep
// within its bounds and keep every name fit for a terminal.
#include "e131.hpp"
#include "e131_merge.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace {

bool fit_to_show(const std::array<char, e131_name_size>& name)
{
    return name.back() == '\0' && std::ranges::none_of(name, [](char c) { return (c > 0 && c < 0x20) || c == 0x7f; });
}

void merge(const e131_data& parsed)
{
    static e131_merge merged;
    static std::int64_t now = 0;
    now += static_cast<std::int64_t>(parsed.sequence) * 20'000'000; // up to 5 s a packet
    const universe_merge* u = take_e131_data(merged, parsed, {}, now);
    for (const universe_merge* lost = expire_e131_sources(merged, now); lost != nullptr;
         lost = expire_e131_sources(merged, now))
        for (const e131_source& source : lost->sources)
            if (now - source.last_ns >= e131_loss_timeout_ns)
                std::abort();
    if (u == nullptr)
        return;
    if (u->length > channels_per_universe || u->merged > most_sources_per_universe
        || u->sources.size() > most_sources_per_universe + most_ignored_sources_per_universe
        || (u->merged != 0 && u->winner >= u->sources.size()))
        std::abort();
    for (const e131_source& source : u->sources)
        if (!fit_to_show(source.name))
            std::abort();
}

void check(std::span<const std::uint8_t> datagram)
{
    e131_discovery discovery;
    if (parse_e131_discovery(datagram, discovery)) {
        for (std::size_t i = 0; i < discovery.count(); ++i)
            (void)discovery.universe(i);
    }
    e131_data parsed;
    if (!parse_e131_data(datagram, parsed))
        return;
    if (parsed.levels.size() > channels_per_universe || parsed.source_name.size() >= e131_name_size)
        std::abort();
    // Rebuilt from what was taken, the packet matches wherever the builder
    // writes what it was given (the name's padding and the start code aside).
    e131_identity source;
    source.cid = parsed.cid;
    std::ranges::copy(parsed.source_name, source.name.begin());
    std::array<std::uint8_t, e131_data_max_size> rebuilt{};
    const std::size_t size = build_e131_data(rebuilt, source,
        {parsed.universe, parsed.priority, parsed.sync_universe, parsed.sequence, parsed.options}, parsed.levels);
    const auto same = [&](std::size_t from, std::size_t to) {
        return std::equal(rebuilt.begin() + static_cast<std::ptrdiff_t>(from),
            rebuilt.begin() + static_cast<std::ptrdiff_t>(to), datagram.begin() + static_cast<std::ptrdiff_t>(from));
    };
    if (size != datagram.size() || !same(0, 44) || !same(108, 125) || !same(126, size))
        std::abort();
    merge(parsed);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span input(data, size);
    if (size < 8 || data[0] % 2 == 0) {
        check(input);
        return 0;
    }
    // Fields from the input, the rest of it as levels; then one byte spoilt.
    e131_identity source;
    std::ranges::copy(input.subspan(1, 7), source.cid.begin());
    const auto levels = input.subspan(8).first(std::min<std::size_t>(size - 8, channels_per_universe));
    std::array<std::uint8_t, e131_data_max_size> packet{};
    const std::size_t length = build_e131_data(packet, source,
        {static_cast<std::uint16_t>(data[1] << 8 | data[2]), data[3], data[4], data[5], data[6]}, levels);
    packet[data[7] % length] ^= data[1];
    check(std::span(packet).first(length));
    return 0;
}
