#include "pacing.hpp"

#include <algorithm>
#include <cmath>

namespace {

// Every value of the packet's 16-bit universe field.
constexpr std::size_t universe_values = 0x10000;

} // namespace

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

resend_schedule::resend_schedule(std::int64_t interval_ns) : interval_(interval_ns), slot_of_(universe_values, 0) { }

void resend_schedule::sent(std::uint16_t universe, std::int64_t now)
{
    std::uint32_t& slot = slot_of_[universe];
    if (slot == 0) {
        entries_.push_back({universe, 0, none, none});
        slot = static_cast<std::uint32_t>(entries_.size());
    } else {
        unlink(slot - 1);
    }
    append(slot - 1, now + interval_);
}

void resend_schedule::resent(std::int64_t now)
{
    const std::uint32_t index = first_;
    const std::int64_t due = entries_[index].due;
    unlink(index);
    append(index, fallen_behind(due, now, interval_) ? now + interval_ : due + interval_);
}

void resend_schedule::unlink(std::uint32_t index)
{
    entry& e = entries_[index];
    (e.before == none ? first_ : entries_[e.before].after) = e.after;
    (e.after == none ? last_ : entries_[e.after].before) = e.before;
    e.before = none;
    e.after = none;
}

void resend_schedule::append(std::uint32_t index, std::int64_t due)
{
    // A re-send that kept to its schedule may be due a little before a
    // universe sent since: it waits behind it, so that the order holds.
    entry& e = entries_[index];
    e.due = last_ == none ? due : std::max(due, entries_[last_].due);
    e.before = last_;
    (last_ == none ? first_ : entries_[last_].after) = index;
    last_ = index;
}
