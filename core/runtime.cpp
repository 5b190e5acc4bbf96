#include "runtime.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <arpa/inet.h>
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <sys/socket.h>

void ensure_standard_descriptors()
{
    // In order, so that each open takes the lowest free number: the one wanted.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

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

bool status_line_open = false;

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
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP})
        install_handler(signal_number, signal_handler);
}

int wait_for_events(std::span<pollfd> watched, int timeout_ms)
{
    // The caller's entries and the wake-up pipe, in one fixed array: nothing
    // allocated per wait.
    std::array<pollfd, 8> all{};
    const std::size_t count = std::min(watched.size(), all.size() - 1);
    std::copy_n(watched.begin(), count, all.begin());
    all[count] = {wake_pipe[0], POLLIN, 0};
    const int ready = ::poll(all.data(), static_cast<nfds_t>(count + 1), timeout_ms);
    std::copy_n(all.begin(), count, watched.begin());
    if (ready < 0)
        return errno == EINTR ? woken_by_signal : 0;
    if (all[count].revents != 0) {
        drain_wake_pipe();
        return woken_by_signal;
    }
    return ready;
}

void status_line_shown()
{
    status_line_open = true;
}

void end_status_line()
{
    if (status_line_open)
        std::fputc('\n', stderr);
    status_line_open = false;
}

void reset_getopt()
{
#if defined(__GLIBC__)
    optind = 0; // forces glibc to start over, forgetting the previous list
#else
    optreset = 1;
    optind = 1;
#endif
}

int next_option(int argc, char* const argv[], const char* letters)
{
    // getopt is never part-way through a word that reads "--help": it would
    // have been caught here before getopt reached it. So the word at optind
    // is either a fresh one or a group of letters already begun.
    const int word = optind > 0 ? optind : 1; // glibc's restart value is 0
    if (word < argc) {
        const std::string_view text = argv[word];
        if (text == "--help" || text == "--version") {
            optind = word + 1;
            return text == "--help" ? help_option : version_option;
        }
    }
    return getopt(argc, argv, letters);
}

bool asks_for_help_or_version(int argc, char* argv[], const char* letters)
{
    reset_getopt();
    const int reporting = opterr;
    opterr = 0;
    int option = 0;
    do
        option = next_option(argc, argv, letters);
    while (option != -1 && option != '?' && option != ':' && option != help_option && option != version_option);
    opterr = reporting;
    reset_getopt();
    return option == help_option || option == version_option;
}

void print_version(const char* program)
{
    std::printf("%s %s\nLicense: MIT\n", program, DMXKIT_VERSION);
}

int answer_long_option(int option, const char* program, const char* invoked_as, void (*usage)(const char*, std::FILE*))
{
    if (option == help_option)
        usage(invoked_as, stdout);
    else
        print_version(program);
    return 0;
}

const char* const maker_address = DMXKIT_HOMEPAGE;
const char* const protocol_notice = "Art-Net\u2122 Designed by and Copyright Artistic Licence Holdings Ltd\n"
                                    "Protocol documentation: https://art-net.org.uk\n";

void print_banner(const char* program, const char* purpose)
{
    std::fprintf(stderr, "%s %s - %s\n\n", program, DMXKIT_VERSION, purpose);
}

void print_maker_line(std::FILE* stream)
{
    std::fprintf(stream, "%s\n", maker_address);
}

int saturating_atoi(const char* text)
{
    return saturating_atoi(std::string_view(text));
}

int saturating_atoi(std::string_view text)
{
    auto p = text.begin();
    const auto at = [&](auto it) { return it == text.end() ? 0 : static_cast<unsigned char>(*it); };
    while (at(p) != 0 && std::isspace(at(p)))
        ++p;
    const bool negative = at(p) == '-';
    if (at(p) == '-' || at(p) == '+')
        ++p;
    // Accumulate toward the sign so INT_MIN itself is reachable.
    long long value = 0;
    for (; std::isdigit(at(p)); ++p) {
        const int digit = at(p) - '0';
        value = value * 10 + (negative ? -digit : digit);
        if (value > INT_MAX)
            return INT_MAX;
        if (value < INT_MIN)
            return INT_MIN;
    }
    return static_cast<int>(value);
}

bool parse_integer(const char* text, long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && errno == 0 && !std::isspace(static_cast<unsigned char>(*text));
}

bool parse_decimal(const char* text, double& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && errno == 0 && std::isfinite(value)
        && !std::isspace(static_cast<unsigned char>(*text));
}

bool check_keep_alive(const char* text, int& ms)
{
    long value = 0;
    if (!parse_integer(text, value) || value < shortest_keep_alive_ms || value > longest_keep_alive_ms) {
        std::fprintf(
            stderr, "Error: Keep-alive must be between %d and %d ms\n", shortest_keep_alive_ms, longest_keep_alive_ms);
        return false;
    }
    ms = static_cast<int>(value);
    return true;
}

bool check_universe(const char* text, std::uint16_t& universe)
{
    const int value = saturating_atoi(text);
    if (value < 0 || value > highest_universe) {
        std::fprintf(stderr, "Universe must be between 0 and %d\n", highest_universe);
        return false;
    }
    universe = static_cast<std::uint16_t>(value);
    return true;
}

bool check_port(const char* text, int& port)
{
    const int value = saturating_atoi(text);
    if (value < 1 || value > 65535) {
        std::fprintf(stderr, "Invalid port: %s\n", text);
        return false;
    }
    port = value;
    return true;
}

bool check_channel(const char* text, std::uint16_t& channel)
{
    const int value = saturating_atoi(text);
    if (value < 1 || value > static_cast<int>(channels_per_universe)) {
        std::fprintf(stderr, "Channel must be between 1 and %d\n", static_cast<int>(channels_per_universe));
        return false;
    }
    channel = static_cast<std::uint16_t>(value);
    return true;
}

namespace {

// Close-on-exec, so that commands started by a tool never hold its port.
unique_fd open_udp_socket()
{
#if defined(SOCK_CLOEXEC)
    unique_fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
#else
    unique_fd sock(::socket(AF_INET, SOCK_DGRAM, 0));
    if (sock)
        ::fcntl(sock.get(), F_SETFD, FD_CLOEXEC);
#endif
    if (!sock)
        std::perror("socket");
    return sock;
}

bool enable_option(int fd, int option, const char* name)
{
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, option, &on, sizeof on) < 0) {
        std::perror(name);
        return false;
    }
    return true;
}

// A burst of 256 universes overflows the default receive buffer while the
// loop waits; the system may grant less, which is fine.
constexpr int wanted_receive_buffer = 4 * 1024 * 1024;

} // namespace

unique_fd open_receiver(int port, bind_hints hints)
{
    unique_fd sock = open_udp_socket();
    if (!sock)
        return sock;
    if (!enable_option(sock.get(), SO_REUSEADDR, "setsockopt(SO_REUSEADDR)")
        || !enable_option(sock.get(), SO_REUSEPORT, "setsockopt(SO_REUSEPORT)"))
        return unique_fd();
    ::setsockopt(sock.get(), SOL_SOCKET, SO_RCVBUF, &wanted_receive_buffer, sizeof wanted_receive_buffer);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(sock.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        std::fprintf(stderr, "Failed to bind to port %d: %s\n", port, std::strerror(errno));
        if (hints == bind_hints::shown) {
            std::fprintf(stderr, "Another process may be using this port. Try:\n");
            std::fprintf(stderr, "  - Using a different port with -p option\n");
            std::fprintf(stderr, "  - Stopping the other process using port %d\n", port);
        }
        return unique_fd();
    }
    return sock;
}

void set_nonblocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

receive_status receive_datagram(
    int sock, std::span<std::uint8_t, receive_buffer_size> buffer, std::size_t& out_length, int also_watch, int wait_ms)
{
    std::array<pollfd, 1> watched = {{{also_watch, POLLIN, 0}}};
    return receive_datagram(sock, buffer, out_length, watched, wait_ms);
}

receive_status receive_datagram(int sock, std::span<std::uint8_t, receive_buffer_size> buffer, std::size_t& out_length,
    std::span<pollfd> also_watch, int wait_ms, sockaddr_in* source)
{
    // Wait, then take the datagram: one wait and one receive per datagram,
    // as the least a receiver can do, and no periodic wake-ups. A datagram
    // (or a key) that arrives is handled at once; a signal ends the wait.
    std::array<pollfd, 7> watched{};
    watched[0] = {sock, POLLIN, 0};
    const std::size_t count = std::min(also_watch.size(), watched.size() - 1);
    std::copy_n(also_watch.begin(), count, watched.begin() + 1);
    const int ready = wait_for_events(std::span(watched).first(count + 1), wait_ms);
    std::copy_n(watched.begin() + 1, count, also_watch.begin());
    if (ready == woken_by_signal)
        return receive_status::interrupted;
    if (watched[0].revents == 0)
        return receive_status::idle;
    return receive_waiting(sock, buffer, out_length, source);
}

receive_status receive_waiting(
    int sock, std::span<std::uint8_t, receive_buffer_size> buffer, std::size_t& out_length, sockaddr_in* source)
{
    sockaddr_in sender{};
    socklen_t sender_size = sizeof sender;
    const ssize_t received
        = ::recvfrom(sock, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&sender), &sender_size);
    if (source != nullptr)
        *source = sender;
    if (received >= 0) {
        out_length = static_cast<std::size_t>(received);
        return receive_status::datagram;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return receive_status::idle;
    if (errno == EINTR)
        return receive_status::interrupted;
    end_status_line();
    std::perror("recvfrom");
    return receive_status::failed;
}

std::optional<sender_endpoint> open_sender(const char* target, int port)
{
    sender_endpoint endpoint;
    endpoint.sock = open_udp_socket();
    if (!endpoint.sock || !enable_option(endpoint.sock.get(), SO_BROADCAST, "setsockopt(SO_BROADCAST)"))
        return std::nullopt;
    endpoint.destination.sin_family = AF_INET;
    endpoint.destination.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, target, &endpoint.destination.sin_addr) != 1) {
        std::fprintf(stderr, "Invalid target IP: %s\n", target);
        return std::nullopt;
    }
    return endpoint;
}

bool send_datagram(const sender_endpoint& endpoint, std::span<const std::uint8_t> datagram)
{
    const ssize_t sent = ::sendto(endpoint.sock.get(), datagram.data(), datagram.size(), 0,
        reinterpret_cast<const sockaddr*>(&endpoint.destination), sizeof endpoint.destination);
    if (sent < 0) {
        end_status_line();
        std::perror("sendto");
        return false;
    }
    return true;
}

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
