#pragma once
// Stopping and waiting: the stop flag that the signal handlers clear, the
// wake-up pipe through which a handler ends any wait at once (even one that
// begins just after the signal), and the one wait every loop uses.

#include <array>
#include <csignal>
#include <cstddef>
#include <span>

#include <poll.h>

// Cleared by signal_handler, and by a program asked to stop another way;
// the loops re-read it on every test.
extern volatile std::sig_atomic_t running;
// Clears `running` and wakes the wait (wake_waiter).
void signal_handler(int signal_number);
// The signals that ask a program to stop.
constexpr std::array<int, 3> stop_signals = {SIGINT, SIGTERM, SIGHUP};
// signal_handler for the stop signals.
void install_stop_handlers();
// Installs `handler` without SA_RESTART, so that a blocking call (the open of
// a FIFO, a read of a pipe, a wait) returns at once with EINTR, and sets up
// the wake-up pipe. False when sigaction failed.
// With `restart`, calls other than the waits are resumed after the handler
// instead (for signals that only ask the loop to look at something).
bool install_handler(int signal_number, void (*handler)(int), bool restart = false);
// From a signal handler: makes the current or the next wait_for_events
// return at once. Async-signal-safe; keeps errno.
void wake_waiter();

// What wait_for_events returns when a signal handler woke it, and when the
// wait itself failed (reported with perror("poll")): a loop must end then,
// as after a failed receive, rather than spin.
constexpr int woken_by_signal = -1;
constexpr int wait_failed = -2;
constexpr int no_timeout = -1;
// The most descriptors one wait watches besides the wake-up pipe.
constexpr std::size_t most_watched = 7;

// Waits for none of the periodic wake-ups: until one of `watched` is ready
// (the number ready, their revents filled in), `timeout_ms` has passed (0;
// no_timeout waits for ever) or a signal handler called wake_waiter
// (woken_by_signal). Entries with a negative descriptor are skipped.
int wait_for_events(std::span<pollfd> watched, int timeout_ms);
