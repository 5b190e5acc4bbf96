#include "clock.hpp"

#include <cerrno>
#include <climits>
#include <ctime>

std::int64_t monotonic_ns()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

bool sleep_until(std::int64_t deadline)
{
#if defined(TIMER_ABSTIME) && !defined(__APPLE__)
    const timespec until{static_cast<time_t>(deadline / 1'000'000'000), static_cast<long>(deadline % 1'000'000'000)};
    return ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) != EINTR;
#else
    const std::int64_t remaining = deadline - monotonic_ns();
    if (remaining <= 0)
        return true;
    const timespec wait{static_cast<time_t>(remaining / 1'000'000'000), static_cast<long>(remaining % 1'000'000'000)};
    return ::nanosleep(&wait, nullptr) == 0 || errno != EINTR;
#endif
}

int ms_until(std::int64_t deadline, std::int64_t now)
{
    if (deadline <= now)
        return 0;
    const std::int64_t ms = (deadline - now + ns_per_ms - 1) / ns_per_ms;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}
