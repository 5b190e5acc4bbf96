#pragma once
// When periodic and timed jobs are due: a sender's frame rate, the playback
// timeline, the keep-alive of every universe. A job keeps to its schedule, so
// that the time a round takes and a sleep's own lateness do not add up into a
// slower rate. But a job that has fallen behind by more than it may (a
// suspended process, a stalled disk, a round longer than its period) does
// its late round at once and starts its schedule afresh from then, rather
// than making up every missed round in a burst.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// The rule, once: a round due at `due` that goes out at `now` is that far
// behind.
constexpr bool fallen_behind(std::int64_t due, std::int64_t now, std::int64_t max_lag)
{
    return now - due > max_lag;
}

// A schedule of rounds some units apart. The deadline of a round is the start
// plus the units counted since, so that neither a rounded unit (a millisecond
// divided by a playback speed) nor a late round adds up over a long run.
struct pacing {
    double unit_ns = 0;       // a period, or a millisecond of a timeline
    std::int64_t max_lag = 0; // how late a round may be and the schedule hold
    std::int64_t start = 0;
    std::uint64_t units = 0; // from `start` to `due`
    std::int64_t due = 0;    // of the current round
};

// A schedule whose first round is due at `first_due`.
void start_pacing(pacing& p, double unit_ns, std::int64_t max_lag, std::int64_t first_due);

// A job done every `period_ns`, which may fall behind by one period.
void start_periodic(pacing& p, std::int64_t period_ns, std::int64_t first_due);

// After the round due at p.due went out at `now`: the deadline of the next
// round, `units` later. When the round went out more than max_lag late, the
// schedule starts afresh at `now`.
std::int64_t pace_next(pacing& p, std::uint64_t units, std::int64_t now);

// When each universe is due to be sent again: one interval after it was last
// sent, by a new frame or by a re-send, each universe on its own schedule.
// With one interval for all, the universes wait in the order of their
// deadlines, so the next one due is known at once among tens of thousands,
// and a round of many universes spreads over the time its sending took
// instead of coming back as one burst. Room for a universe is made the first
// time it is sent, never per packet.
// A schedule may also repeat every new frame a few times, a short gap apart,
// before its universe waits the interval, as sACN asks of a source whose data
// stops changing. The repeats wait in a queue of their own, in the order of
// their deadlines just as the keep-alives do in theirs.
class resend_schedule {
public:
    explicit resend_schedule(std::int64_t interval_ns, int repeats = 0, std::int64_t repeat_gap_ns = 0);

    std::int64_t interval() const { return interval_; }
    bool empty() const { return first_index() == none; }
    // Whether a new frame has repeats still to come.
    bool repeating() const { return queues_[repeat_queue].first != none; }
    // The universe due first and its deadline; only when not empty.
    std::uint16_t first() const { return entries_[first_index()].universe; }
    std::int64_t first_due() const { return entries_[first_index()].due; }

    // `universe` went out at `now` with a new frame: its repeat, or its
    // re-send, is due one gap or one interval later.
    void sent(std::uint16_t universe, std::int64_t now);
    // The first universe was re-sent at `now`: it keeps to its schedule by
    // the rule above, and waits behind every universe due before it.
    void resent(std::int64_t now);

private:
    static constexpr std::uint32_t none = 0xffffffff;
    static constexpr std::size_t repeat_queue = 0;
    static constexpr std::size_t keep_alive_queue = 1;
    struct entry {
        std::uint16_t universe = 0;
        int repeats_left = 0; // in the repeat queue while above 0
        std::int64_t due = 0;
        std::uint32_t before = none;
        std::uint32_t after = none;
    };
    struct queue {
        std::uint32_t first = none;
        std::uint32_t last = none;
    };
    std::uint32_t first_index() const;
    queue& queue_of(const entry& e) { return queues_[e.repeats_left > 0 ? repeat_queue : keep_alive_queue]; }
    std::int64_t wait_of(const entry& e) const { return e.repeats_left > 0 ? repeat_gap_ : interval_; }
    void unlink(std::uint32_t index);
    void append(std::uint32_t index, std::int64_t due);

    std::int64_t interval_;
    int repeats_;
    std::int64_t repeat_gap_;
    std::vector<std::uint32_t> slot_of_; // per universe: its entry + 1, 0 for none
    std::vector<entry> entries_;
    std::array<queue, 2> queues_{};
};
