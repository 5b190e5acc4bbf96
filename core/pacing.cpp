#include "pacing.hpp"

#include "artdmx.hpp"

#include <algorithm>
#include <cmath>

void start_pacing(pacing& p, double unit_ns, std::int64_t max_lag, std::int64_t first_due)
{
    p = {unit_ns, max_lag, first_due, 0, first_due};
}

void start_periodic(pacing& p, std::int64_t period_ns, std::int64_t first_due)
{
    start_pacing(p, static_cast<double>(period_ns), period_ns, first_due);
}

std::int64_t pace_next(pacing& p, std::uint64_t units, std::int64_t now)
{
    if (fallen_behind(p.due, now, p.max_lag)) {
        p.start = now;
        p.units = 0;
    }
    p.units += units;
    p.due = p.start + std::llround(static_cast<double>(p.units) * p.unit_ns);
    return p.due;
}

resend_schedule::resend_schedule(std::int64_t interval_ns, int repeats, std::int64_t repeat_gap_ns)
    : interval_(interval_ns), repeats_(repeats), repeat_gap_(repeat_gap_ns), slot_of_(universe_field_values, 0)
{
}

std::uint32_t resend_schedule::first_index() const
{
    const std::uint32_t repeat = queues_[repeat_queue].first;
    const std::uint32_t keep = queues_[keep_alive_queue].first;
    if (repeat == none || keep == none)
        return repeat == none ? keep : repeat;
    return entries_[keep].due < entries_[repeat].due ? keep : repeat;
}

void resend_schedule::sent(std::uint16_t universe, std::int64_t now)
{
    std::uint32_t& slot = slot_of_[universe];
    if (slot == 0) {
        entries_.push_back({universe, 0, 0, none, none});
        slot = static_cast<std::uint32_t>(entries_.size());
    } else {
        unlink(slot - 1);
    }
    entry& e = entries_[slot - 1];
    e.repeats_left = repeats_;
    append(slot - 1, now + wait_of(e));
}

void resend_schedule::resent(std::int64_t now)
{
    const std::uint32_t index = first_index();
    entry& e = entries_[index];
    const std::int64_t due = e.due;
    unlink(index);
    // The last repeat waits the interval from when it was due, like any
    // re-send.
    if (e.repeats_left > 0)
        --e.repeats_left;
    const std::int64_t wait = wait_of(e);
    append(index, fallen_behind(due, now, wait) ? now + wait : due + wait);
}

void resend_schedule::unlink(std::uint32_t index)
{
    entry& e = entries_[index];
    queue& q = queue_of(e);
    (e.before == none ? q.first : entries_[e.before].after) = e.after;
    (e.after == none ? q.last : entries_[e.after].before) = e.before;
    e.before = none;
    e.after = none;
}

void resend_schedule::append(std::uint32_t index, std::int64_t due)
{
    // A re-send that kept to its schedule may be due a little before a
    // universe sent since: it waits behind it, so that the order holds.
    entry& e = entries_[index];
    queue& q = queue_of(e);
    e.due = q.last == none ? due : std::max(due, entries_[q.last].due);
    e.before = q.last;
    (q.last == none ? q.first : entries_[q.last].after) = index;
    q.last = index;
}
