#include "timeline.hpp"

#include "clock.hpp"

#include <algorithm>

void start_timeline(pacing& timeline, double speed, std::int64_t now)
{
    start_pacing(timeline, static_cast<double>(ns_per_ms) / speed, max_lag_ns, now);
}

std::int64_t next_pass_start(std::int64_t pass_start, std::int64_t now, int keep_alive_ms)
{
    const std::int64_t shortest = std::max(shortest_pass_ns, keep_alive_ms * ns_per_ms);
    return std::max(now, pass_start + shortest);
}
