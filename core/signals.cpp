#include "signals.hpp"

#include "status_line.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

volatile std::sig_atomic_t running = 1;

namespace {

// Written by the signal handlers, watched by every wait: a signal that comes
// just before a wait begins leaves a byte that ends it at once.
int wake_pipe[2] = {-1, -1};

bool open_wake_pipe()
{
    if (wake_pipe[0] >= 0)
        return true;
    if (::pipe(wake_pipe) != 0)
        return false;
    for (const int end : wake_pipe) {
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
        ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
    }
    return true;
}

void drain_wake_pipe()
{
    std::array<char, 64> bytes{};
    while (::read(wake_pipe[0], bytes.data(), bytes.size()) > 0) {
    }
}

} // namespace

void wake_waiter()
{
    const int saved = errno;
    if (wake_pipe[1] >= 0)
        (void)!::write(wake_pipe[1], "", 1); // a full pipe already wakes
    errno = saved;
}

void signal_handler(int)
{
    running = 0;
    wake_waiter();
}

bool install_handler(int signal_number, void (*handler)(int), bool restart)
{
    open_wake_pipe();
    struct sigaction action { };
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = restart ? SA_RESTART : 0; // without it a blocked call returns
    return ::sigaction(signal_number, &action, nullptr) == 0;
}

void install_stop_handlers()
{
    for (const int signal_number : stop_signals)
        install_handler(signal_number, signal_handler);
}

int wait_for_events(std::span<pollfd> watched, int timeout_ms)
{
    // The caller's entries and the wake-up pipe, in one fixed array: nothing
    // allocated per wait.
    std::array<pollfd, most_watched + 1> all{};
    if (watched.size() > most_watched) {
        errno = EINVAL;
        end_status_line();
        std::perror("poll");
        return wait_failed;
    }
    const std::size_t count = watched.size();
    std::copy_n(watched.begin(), count, all.begin());
    all[count] = {wake_pipe[0], POLLIN, 0};
    const int ready = ::poll(all.data(), static_cast<nfds_t>(count + 1), timeout_ms);
    std::copy_n(all.begin(), count, watched.begin());
    if (ready < 0 && errno == EINTR)
        return woken_by_signal;
    if (ready < 0) {
        end_status_line();
        std::perror("poll");
        return wait_failed;
    }
    if (all[count].revents != 0) {
        drain_wake_pipe();
        return woken_by_signal;
    }
    return ready;
}
