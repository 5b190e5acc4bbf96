#pragma once
// Time as the programs pace and measure it: the monotonic clock in
// nanoseconds, sleeps to an absolute deadline that a signal cuts short, and
// the whole milliseconds that poll-style waits take.

#include <cstdint>

constexpr std::int64_t ns_per_ms = 1'000'000;

std::int64_t monotonic_ns();

// Sleeps until `deadline` on the monotonic clock; false when a signal cut the
// sleep short.
bool sleep_until(std::int64_t deadline);

// The milliseconds from `now` to `deadline`, rounded up so that a wait never
// ends before its deadline; 0 once it has passed.
int ms_until(std::int64_t deadline, std::int64_t now);
