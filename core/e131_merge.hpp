#pragma once
// What a node on an sACN network would output for each universe: the merge
// of the sources that send it. A source (a CID) is live for a universe from
// its first packet until it says it is ending (Stream_Terminated) or falls
// silent for 2.5 s. Only the live sources of the highest priority count, and
// among them each channel takes the highest level, as nodes commonly merge.
// Decided here on packets and times alone, so that every case can be checked
// with a made-up clock; the receiver does the sockets and the waiting.

#include "artdmx.hpp"
#include "e131.hpp"

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include <netinet/in.h>

// Sources merged per universe; more than a rig ever has, few enough that the
// per-packet merge stays cheap.
constexpr std::size_t most_sources_per_universe = 16;
// Sources beyond that bound are remembered, without their levels, up to this
// many more, so that each is counted once and not once per packet.
constexpr std::size_t most_ignored_sources_per_universe = 16;
// A source silent this long is lost.
constexpr std::int64_t e131_loss_timeout_ns = 2'500'000'000;
// Distinct CIDs told apart over a run, for the reports.
constexpr std::size_t most_counted_sources = 1024;

// A live source of one universe, as its last packet left it.
struct e131_source {
    e131_cid cid{};
    // As its first packet named it, NUL-terminated, with control characters
    // replaced so that it can be shown on a terminal as it is.
    std::array<char, e131_name_size> name{};
    in_addr address{}; // that its last packet came from
    std::uint8_t priority = 0;
    std::uint8_t sequence = 0; // of its last packet taken
    // Beyond the bound: neither merged nor sequence-checked; it takes the
    // place of a source that leaves at its next packet.
    bool ignored = false;
    std::int64_t last_ns = 0; // when its last packet came
    std::size_t length = 0;
    std::array<std::uint8_t, channels_per_universe> levels{};
};

// One universe: its live sources and what they make together.
struct universe_merge {
    std::uint16_t universe = 0;
    std::vector<e131_source> sources; // in the order they came
    std::uint8_t priority = 0;        // the highest among the sources merged
    std::size_t merged = 0;           // sources of that priority; 0: none live
    std::size_t winner = 0;           // the index of the one when merged is 1
    std::size_t ignored = 0;          // sources beyond the bound now
    std::size_t length = 0;           // the longest among the sources merged
    std::array<std::uint8_t, channels_per_universe> levels{};
};

// Every universe that came, made the first time it came.
struct e131_merge {
    bool all = true;                           // every universe, or only those wanted
    std::bitset<universe_field_values> wanted; // when not all
    std::vector<std::uint16_t> slot_of;        // index + 1 per universe, made with the first
    std::vector<universe_merge> universes;
    // No source can fall silent before this (0: none is live); packets only
    // put the true time later, so it is looked at again when it comes.
    std::int64_t next_expiry = 0;
    std::size_t expiry_cursor = 0;          // the universe the look goes on from
    std::vector<e131_cid> seen;             // distinct CIDs, the first most_counted_sources
    unsigned long long sources_ignored = 0; // a source each time it found the bound reached
};

// A source's name as it may be shown on a terminal, NUL-terminated: every
// byte that is not printable ASCII or part of a well-formed UTF-8 character
// other than a control becomes '?' (a character cut by the end, too).
void copy_shown_name(std::string_view raw, std::array<char, e131_name_size>& out);

// From now on only the universes watched are taken.
void watch_e131_universe(e131_merge& merge, std::uint16_t universe);

// Takes a data packet that came from `from` at `now` (ns). Preview data,
// other start codes, a universe not watched, a packet of the 20 sequence
// numbers up to the source's last one, the end of a source not live and a
// source beyond the bound are ignored (null). Otherwise the source is taken
// or ended and the universe merged again: its merge is returned, changed or
// not (an outranked source changes nothing), valid until the next call.
const universe_merge* take_e131_data(e131_merge& merge, const e131_data& packet, in_addr from, std::int64_t now);

// Drops the sources that fell silent by `now`, a universe at a time: the
// next universe that lost one, or null when no more did.
const universe_merge* expire_e131_sources(e131_merge& merge, std::int64_t now);
