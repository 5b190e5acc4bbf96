#include "source_table.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include <arpa/inet.h>

// A run of packets on a made-up clock. Upper-case sources send Art-Net from
// 10.0.0.x:6454; lower-case ones are sACN CIDs, 'z' at priority 50 and the
// rest at 100; 'M' is `count` Art-Net sources at once, one packet each.
// After each step the row of the source is looked at (`count` 0: only looked).
TEST(SourceTable, RatesGapsStatesAgingAndTheBoundOnAMadeUpClock)
{
    const struct {
        int at_ms;
        char source;
        std::uint16_t universe;
        std::uint8_t sequence;
        int count;
        unsigned long long gaps;
        unsigned rate;
        const char* state;
        std::size_t listed, beyond = 0;
        bool ends = false;
    } steps[] = {
        {0, 'A', 1, 254, 1, 0, 0, "", 1},
        {10, 'A', 1, 255, 1, 0, 0, "", 1},
        {20, 'A', 1, 0, 1, 0, 0, "", 1}, // not used
        {30, 'A', 1, 1, 1, 0, 0, "", 1}, // 1 follows 255
        {40, 'A', 1, 3, 1, 1, 0, "", 1}, // one missing
        {50, 'A', 1, 2, 1, 2, 0, "", 1}, // late: the row stays at 3
        {60, 'A', 1, 4, 1, 2, 0, "", 1},
        {70, 'A', 2, 5, 1, 0, 0, "", 2},
        {80, 'A', 1, 6, 1, 2, 0, "", 2}, // one count for all its universes
        {90, 'B', 1, 9, 1, 0, 0, "", 3},
        // The rate: the ten tenths of a second before the current one.
        {1000, 'C', 3, 0, 30, 0, 0, "", 4},
        {1100, 'C', 3, 0, 14, 0, 30, "", 4},
        {2050, 'C', 3, 0, 1, 0, 44, "", 4},
        {2150, 'C', 3, 0, 0, 0, 15, "", 4},
        {2200, 'x', 5, 255, 1, 0, 0, "winning", 5},
        {2210, 'y', 5, 7, 1, 0, 0, "merged", 6},
        {2220, 'z', 5, 1, 1, 0, 0, "outranked", 7},
        {2230, 'x', 5, 0, 1, 0, 0, "merged", 7},   // 0 follows 255
        {2240, 'x', 5, 250, 1, 1, 0, "merged", 7}, // late
        {2250, 'x', 5, 1, 1, 1, 0, "ended", 7, 0, true},
        {2260, 'y', 5, 8, 1, 0, 0, "winning", 7},
        {4760, 'y', 5, 0, 0, 0, 0, "lost", 7}, // 2.5 s silent
        {10085, 'B', 1, 0, 0, 0, 0, "", 5},    // A's rows left after 10 s
        {11000, 'M', 7, 0, 300, 0, 0, "", 256, 48},
        {21100, 'A', 1, 0, 1, 0, 0, "", 1, 0},
    };
    source_table table;
    start_source_table(table);
    std::array<const source_row*, most_listed_sources> listed{};
    for (const auto& step : steps) {
        const std::string name = std::to_string(step.at_ms) + " ms, source " + step.source;
        const std::int64_t now = step.at_ms * std::int64_t{1'000'000};
        packet_source from;
        from.protocol = step.source >= 'a' ? source_protocol::sacn : source_protocol::artnet;
        from.address.s_addr = htonl(0x0a000000u + static_cast<std::uint8_t>(step.source));
        from.port = 6454;
        from.cid.fill(static_cast<std::uint8_t>(step.source));
        from.priority = step.source == 'z' ? 50 : 100;
        const std::array<std::uint8_t, 3> levels = {1, 2, 3};
        const source_row* row = nullptr;
        for (int i = 0; i < step.count; ++i) {
            from.port = static_cast<std::uint16_t>(step.source == 'M' ? 1000 + i : 6454);
            const e131_data packet{from.cid, "desk", from.priority, 0, step.sequence,
                static_cast<std::uint8_t>(step.ends ? e131_stream_terminated : 0), step.universe, 0, levels};
            row = from.protocol == source_protocol::sacn
                ? note_e131(table, packet, from, now)
                : note_artdmx(table, step.universe, from, step.sequence, levels, now);
        }
        for (std::size_t i = 0; step.count == 0 && i < table.rows.size(); ++i)
            if (table.rows[i].used && table.rows[i].universe == step.universe && same_source(table.rows[i].from, from))
                row = &table.rows[i];
        EXPECT_EQ(list_sources(table, now, true, 0, listed), step.listed) << name;
        EXPECT_EQ(sources_beyond(table), step.beyond) << name;
        if (step.source == 'M')
            continue;
        ASSERT_NE(row, nullptr) << name;
        EXPECT_EQ(row->gaps, step.gaps) << name;
        EXPECT_EQ(packet_rate(*row, now), step.rate) << name;
        EXPECT_STREQ(state_name(state_of(table, *row, now)), step.state) << name;
    }
    watch_source_universe(table, 1);
    EXPECT_NE(note_artdmx(table, 1, {}, 0, {}, 0), nullptr);
    EXPECT_EQ(note_artdmx(table, 2, {}, 0, {}, 0), nullptr) << "a universe not watched";
}
