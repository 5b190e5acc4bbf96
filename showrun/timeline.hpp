#pragma once
// When showrun sends: the playback timeline that every row's wait ends on,
// and how soon a pass over the file may follow the one before. Kept apart
// from the sending so the timing can be decided, and tested, from `now`.

#include "pacing.hpp"

#include <cstdint>

// How far playback may fall behind its timeline before it starts afresh.
constexpr std::int64_t max_lag_ns = 1'000'000'000;
// The shortest pass: about one DMX512 frame of 512 channels. A file that
// plays in less (one row held as a look, or rows of delay 0) is repeated no
// faster than a DMX frame, not as fast as the network takes packets.
constexpr std::int64_t shortest_pass_ns = 25'000'000;

// The playback timeline, starting at `now`: the delays played, as written in
// the file, counted from its start and divided by the speed. The end of
// every wait is the start plus the scaled sum of the delays, so that neither
// the time spent reading, parsing and sending nor rounding adds up over a
// long show. A row that goes out more than max_lag_ns after its due time (a
// suspended process, a stalled disk) starts a new timeline rather than the
// missed rows going out in a burst.
void start_timeline(pacing& timeline, double speed, std::int64_t now);

// When the pass after one that began at `pass_start` may begin: at once,
// unless the pass was shorter than the shortest pass, or than the keep-alive
// interval when one is set and longer, which it is then made to last.
std::int64_t next_pass_start(std::int64_t pass_start, std::int64_t now, int keep_alive_ms);
