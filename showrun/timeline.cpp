#include "timeline.hpp"

#include "clock.hpp"

#include <algorithm>
#include <cmath>

void start_clock(playback_clock& clock, double speed, std::int64_t now)
{
    clock = {speed, now, 0, now};
}

std::int64_t hold_until(playback_clock& clock, std::uint32_t delay_ms, std::int64_t now)
{
    // The row was due when the previous wait ended.
    if (now - clock.end > max_lag_ns) {
        clock.start = now;
        clock.played_ms = 0;
    }
    clock.played_ms += delay_ms;
    clock.end = clock.start + std::llround(static_cast<double>(clock.played_ms) * 1e6 / clock.speed);
    return clock.end;
}

std::int64_t next_pass_start(std::int64_t pass_start, std::int64_t now, int keep_alive_ms)
{
    const std::int64_t shortest = std::max(shortest_pass_ns, keep_alive_ms * ns_per_ms);
    return std::max(now, pass_start + shortest);
}
