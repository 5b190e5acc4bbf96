#include "e131_merge.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// One run of packets and looks at the silence on a made-up clock. A step of
// source '-' only looks; `count` sources in turn (from `source` on) send the
// same packet; `merged` < 0 means nothing comes back.
TEST(E131Merge, PriorityHighestLevelSequenceEndAndLossOnAMadeUpClock)
{
    const std::uint8_t ends = e131_stream_terminated;
    const struct {
        int at_ms;
        char source;
        std::uint8_t priority, sequence, options;
        std::vector<std::uint8_t> levels;
        int merged; // sources merged in what comes back, or -1
        std::vector<std::uint8_t> out;
        int count = 1;
        std::uint16_t universe = 1;
    } steps[] = {
        {0, 'A', 100, 1, 0, {10, 20, 30}, 1, {10, 20, 30}},
        {10, 'B', 100, 7, 0, {30, 5}, 2, {30, 20, 30}},
        {20, 'A', 100, 1, 0, {0}, -1, {}},                      // the same sequence number
        {30, 'A', 100, 238, 0, {0}, -1, {}},                    // 19 behind
        {40, 'A', 100, 237, 0, {0, 0, 0, 0}, 2, {30, 5, 0, 0}}, // 20 behind: a restart
        {50, 'C', 150, 9, 0, {1}, 1, {1}},
        {60, 'B', 100, 8, 0, {99}, 1, {1}}, // outranked
        {70, 'C', 150, 10, e131_preview_data, {7}, -1, {}},
        {80, 'C', 150, 11, ends, {}, 2, {99, 0, 0, 0}},
        {90, 'C', 150, 12, ends, {}, -1, {}},
        {100, 'D', 100, 0, 0, {1}, -1, {}, 1, 2}, // a universe not watched
        {2539, '-', 0, 0, 0, {}, -1, {}},
        {2540, '-', 0, 0, 0, {}, 1, {99}},
        {2560, '-', 0, 0, 0, {}, 0, {}},
        {2570, '-', 0, 0, 0, {}, -1, {}},
        // Sixteen sources, then one beyond the bound, which takes the place
        // of one that ends.
        {3000, 'a', 100, 1, 0, {1}, 16, {1}, 16},
        {3010, 'q', 100, 1, 0, {200}, -1, {}},
        {3020, 'a', 100, 2, ends, {}, 15, {1}},
        {3030, 'q', 100, 2, 0, {200}, 16, {200}},
    };
    e131_merge merge;
    watch_e131_universe(merge, 1);
    watch_e131_universe(merge, 3);
    for (const auto& step : steps) {
        const std::string name = std::to_string(step.at_ms) + " ms, source " + step.source;
        const std::int64_t now = step.at_ms * std::int64_t{1'000'000};
        const universe_merge* got = nullptr;
        for (int i = 0; i < step.count; ++i) {
            e131_data packet{
                {}, "desk\x1b[2J", step.priority, 0, step.sequence, step.options, step.universe, 0, step.levels};
            packet.cid.fill(static_cast<std::uint8_t>(step.source + i));
            got = step.source == '-' ? expire_e131_sources(merge, now) : take_e131_data(merge, packet, {}, now);
        }
        ASSERT_EQ(got == nullptr, step.merged < 0) << name;
        if (got == nullptr)
            continue;
        EXPECT_EQ(got->merged, static_cast<std::size_t>(step.merged)) << name;
        EXPECT_EQ(
            std::vector(got->levels.begin(), got->levels.begin() + static_cast<std::ptrdiff_t>(got->length)), step.out)
            << name;
        if (got->merged == 1) {
            EXPECT_STREQ(got->sources[got->winner].name.data(), "desk?[2J") << name;
        }
    }
    EXPECT_EQ(merge.seen.size(), 20u);
    EXPECT_EQ(merge.sources_ignored, 1u);
}
