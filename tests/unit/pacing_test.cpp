#include "pacing.hpp"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

TEST(Pacing, RoundsKeepTheirScheduleUnlessFarBehind)
{
    constexpr std::int64_t ms = 1'000'000;
    const struct {
        double unit_ns;
        std::int64_t max_lag;
        std::uint64_t units;
        int rounds; // each going out at `now`; the first was due at 1000 ms
        std::int64_t now;
        std::int64_t next;
    } cases[] = {
        {50 * ms, 50 * ms, 1, 1, 1000 * ms, 1050 * ms},         // a period of 50 ms, on time
        {50 * ms, 50 * ms, 1, 1, 1030 * ms, 1050 * ms},         // a late round is made up
        {50 * ms, 50 * ms, 1, 1, 1050 * ms, 1050 * ms},         // one period behind still holds
        {50 * ms, 50 * ms, 1, 1, 1050 * ms + 1, 1100 * ms + 1}, // further: afresh from now
        {50 * ms, 50 * ms, 1, 1, 3000 * ms, 3050 * ms},         // after a stall: one round, not forty
        {1e6, 1000 * ms, 100, 1, 1000 * ms, 1100 * ms},         // a timeline of ms, a second's lag
        {1e6, 1000 * ms, 100, 1, 1030 * ms, 1100 * ms},
        {1e6, 1000 * ms, 0, 1, 1030 * ms, 1000 * ms}, // delay 0: the next row at once
        {1e6, 1000 * ms, 100, 1, 2000 * ms, 1100 * ms}, {1e6, 1000 * ms, 100, 1, 2000 * ms + 1, 2100 * ms + 1},
        {1e6, 1000 * ms, 65535, 1, 1000 * ms, 66535 * ms},
        {1e6 / 3, 1000 * ms, 100, 2, 1000 * ms, 1066'666'667}, // rounding does not add up
    };
    for (const auto& c : cases) {
        pacing p;
        start_pacing(p, c.unit_ns, c.max_lag, 1000 * ms);
        std::int64_t next = 0;
        for (int k = 0; k < c.rounds; ++k)
            next = pace_next(p, c.units, c.now);
        EXPECT_EQ(next, c.next) << c.unit_ns << " " << c.now;
    }
}

TEST(Pacing, EachUniverseIsResentAnIntervalAfterItWasLastSentAndANewFrameRepeatsFirst)
{
    struct step {
        int sent; // the universe sent with a new frame at `now`; -1: the first one re-sent
        std::int64_t now;
        std::uint16_t first;
        std::int64_t first_due;
        bool repeating;
    };
    // An interval of 100 alone: a new frame puts a universe behind; after a
    // stall each goes once, afresh.
    const std::vector<step> keep_alive = {{1, 0, 1, 100, false}, {2, 10, 1, 100, false}, {1, 20, 2, 110, false},
        {-1, 150, 1, 120, false}, // 2, late within its interval, keeps to 210
        {-1, 2000, 2, 210, false}, {-1, 2000, 1, 2100, false}, {3, 2105, 1, 2100, false},
        {-1, 2110, 2, 2100, false}, // 1 keeps to 2200, but waits behind 3
        {-1, 2110, 3, 2205, false}, {-1, 2205, 1, 2205, false}};
    // Two repeats 20 apart. 1's last repeat goes late, at 41: its interval
    // counts from 40. A new frame of 1 at 100 repeats before 2's keep-alive.
    const std::vector<step> repeats = {{1, 0, 1, 20, true}, {2, 5, 1, 20, true}, {-1, 20, 2, 25, true},
        {-1, 25, 1, 40, true}, {-1, 41, 2, 45, true}, {-1, 45, 1, 140, false}, {1, 100, 1, 120, true},
        {-1, 120, 1, 140, true}, {-1, 200, 2, 145, false}, {-1, 200, 1, 240, false}};
    for (auto [schedule, steps] :
        {std::pair(resend_schedule(100), keep_alive), std::pair(resend_schedule(100, 2, 20), repeats)}) {
        EXPECT_TRUE(schedule.empty());
        for (const auto& s : steps) {
            if (s.sent >= 0)
                schedule.sent(static_cast<std::uint16_t>(s.sent), s.now);
            else
                schedule.resent(s.now);
            EXPECT_EQ(schedule.first(), s.first) << s.now;
            EXPECT_EQ(schedule.first_due(), s.first_due) << s.now;
            EXPECT_EQ(schedule.repeating(), s.repeating) << s.now;
        }
    }
}
