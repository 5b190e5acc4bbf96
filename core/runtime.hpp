#pragma once
// What every program of the suite shares: constants, the stop flag, the
// banner and notices, the common option checks, the UDP endpoints and the
// clock.

#include "artdmx.hpp"

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

constexpr int default_port = 6454;
constexpr int highest_universe = 255;
// A universe that no option can give: "not given", or "no filter".
constexpr std::uint16_t no_universe = 256;
constexpr const char* default_target = "255.255.255.255";
constexpr std::size_t receive_buffer_size = 534;
constexpr int idle_wait_ms = 10;

// glibc's getopt reorders arguments unless the option string starts with '+';
// elsewhere getopt already stops at the first non-option and a '+' would be
// taken as an option letter.
#if defined(__GLIBC__)
#define POSIX_OPTIONS(letters) "+" letters
#else
#define POSIX_OPTIONS(letters) letters
#endif

// Descriptors 0, 1 and 2 opened on /dev/null where they were closed, so that
// no socket or file the program opens takes their place: a closed standard
// input then reads as empty, a closed output swallows what is written. The
// first thing every program does.
void ensure_standard_descriptors();

// Cleared by signal_handler (and by the monitor's quit keys); the loops
// re-read it on every test.
extern volatile std::sig_atomic_t running;
// Clears `running` and wakes the wait (wake_waiter).
void signal_handler(int signal_number);
// signal_handler for SIGINT, SIGTERM and SIGHUP.
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

// What wait_for_events returns when a signal handler woke it.
constexpr int woken_by_signal = -1;
// Waits for none of the periodic wake-ups: until one of `watched` is ready
// (the number ready), `timeout_ms` has passed (0; no_timeout waits for ever)
// or a signal handler called wake_waiter (woken_by_signal), even one that ran
// just before the wait began. Entries with a negative descriptor are skipped.
constexpr int no_timeout = -1;
int wait_for_events(std::span<pollfd> watched, int timeout_ms);

// A live status line, rewritten in place on standard error with a carriage
// return. status_line_shown after writing one; end_status_line before any
// other message, so that the message starts on a line of its own.
void status_line_shown();
void end_status_line();

// Lets a program (or a test) run getopt again over a new argument list.
void reset_getopt();

// What next_option returns for the two long options that every program
// answers: well outside the range of option letters.
constexpr int help_option = 0x100;
constexpr int version_option = 0x101;

// getopt with `letters`, except that a word "--help" or "--version" standing
// where an option may stand comes back as help_option or version_option.
// Every other word beginning with "--" stays getopt's to take or reject.
int next_option(int argc, char* const argv[], const char* letters);

// Whether the options, read ahead quietly, ask for --help or --version: the
// programs whose banner precedes their options leave it out then, so that
// only the answer is printed.
bool asks_for_help_or_version(int argc, char* argv[], const char* letters);

// "<program> 1.0.0" and the licence on standard output: what --version shows.
void print_version(const char* program);
// Answers help_option with `usage` (given the name the program was invoked
// as) on standard output, or version_option with print_version; returns the
// exit status, 0.
int answer_long_option(int option, const char* program, const char* invoked_as, void (*usage)(const char*, std::FILE*));

// "<program> 1.0.0 - <purpose>" and an empty line, on standard error.
void print_banner(const char* program, const char* purpose);
// The suite's home page, printed as the last line of every start-up report.
extern const char* const maker_address;
// "%s\n" with the maker's address on `stream`.
void print_maker_line(std::FILE* stream);
// The two lines that close every usage text (after the text's blank line).
extern const char* const protocol_notice;

// atoi for ordinary text (leading white space, a sign, digits up to the first
// other character, no digits gives 0), but numbers beyond int saturate to
// INT_MIN or INT_MAX so that they fail range checks instead of wrapping.
// The string_view form reads no further than the view.
int saturating_atoi(const char* text);
int saturating_atoi(std::string_view text);

// Strict readings for newer options, where a typing error must not pass for
// a number: the whole text as a decimal integer (an optional sign, digits,
// nothing else, within long), or as a decimal number (not infinite or NaN).
bool parse_integer(const char* text, long& value);
bool parse_decimal(const char* text, double& value);

// -k of the senders, the keep-alive interval: 100 to 10000 ms.
constexpr int shortest_keep_alive_ms = 100;
constexpr int longest_keep_alive_ms = 10000;

// The common option checks: each prints its fixed message on failure.
bool check_universe(const char* text, std::uint16_t& universe);
bool check_port(const char* text, int& port);
// Stores the channel as typed (1..512).
bool check_channel(const char* text, std::uint16_t& channel);
// "Error: Keep-alive must be between 100 and 10000 ms" on failure.
bool check_keep_alive(const char* text, int& ms);

// Move-only owner of a descriptor.
class unique_fd {
public:
    explicit unique_fd(int fd = -1) : fd_(fd) { }
    unique_fd(unique_fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) { }
    unique_fd& operator=(unique_fd&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.fd_, -1));
        return *this;
    }
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;
    ~unique_fd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using unique_file = std::unique_ptr<std::FILE, file_closer>;

enum class bind_hints { hidden, shown };

// Socket, SO_REUSEADDR, SO_REUSEPORT, a large receive buffer (best effort) and
// bind to every local IPv4 address. Reports a failure itself and returns an
// empty descriptor. The socket is not inherited by child processes.
unique_fd open_receiver(int port, bind_hints hints);
void set_nonblocking(int fd);

enum class receive_status { datagram, idle, interrupted, failed };

// One receive: a datagram, or after an empty queue a wait of at most
// `wait_ms` (no_timeout: no limit) for the socket (or `also_watch`, when not
// -1) to become readable, ended early by a signal. A failure other than an
// empty queue or a signal is reported with perror("recvfrom").
receive_status receive_datagram(int sock, std::span<std::uint8_t, receive_buffer_size> buffer, std::size_t& out_length,
    int also_watch = -1, int wait_ms = idle_wait_ms);
// A datagram that is waiting already, without any wait: idle when none is.
// Its sender goes to `source` when one is given.
receive_status receive_waiting(int sock, std::span<std::uint8_t, receive_buffer_size> buffer, std::size_t& out_length,
    sockaddr_in* source = nullptr);
// The same as receive_datagram, watching all of `also_watch` (at most 6
// entries) as they ask, and telling the sender when `source` is given.
receive_status receive_datagram(int sock, std::span<std::uint8_t, receive_buffer_size> buffer, std::size_t& out_length,
    std::span<pollfd> also_watch, int wait_ms, sockaddr_in* source = nullptr);

struct sender_endpoint {
    unique_fd sock;
    sockaddr_in destination{};
};

// Socket, SO_BROADCAST and the destination; reports a failure itself.
std::optional<sender_endpoint> open_sender(const char* target, int port);
// One sendto; reports a failure with perror("sendto").
bool send_datagram(const sender_endpoint& endpoint, std::span<const std::uint8_t> datagram);

// The monotonic clock.
std::int64_t monotonic_ns();
// Sleeps until `deadline` on the monotonic clock; false when a signal cut the
// sleep short.
bool sleep_until(std::int64_t deadline);
