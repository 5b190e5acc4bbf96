#include "harness.hpp"

#include "artdmx.hpp"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <sched.h>
#endif

namespace {

long long now_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1'000'000;
}

void make_pipe(int fds[2])
{
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe");
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
}

int decode_status(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

} // namespace

std::string program_path(std::string_view name)
{
    return std::string(DMXKIT_BIN_DIR) + "/" + std::string(name);
}

process::process(const std::vector<std::string>& args, input_mode input, const std::vector<std::string>& extra_env,
    const std::string& directory)
{
    int in[2] = {-1, -1}, out[2], err[2];
    if (input == input_mode::pipe)
        make_pipe(in);
    make_pipe(out);
    make_pipe(err);
    const std::string path = program_path(args.at(0));

    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork");
    if (pid_ == 0) {
        const int in_fd = input == input_mode::pipe ? in[0] : open("/dev/null", O_RDONLY);
        dup2(in_fd, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (input == input_mode::closed)
            close(0);
        if (input == input_mode::closed_output) {
            close(1);
            close(2);
        }
        for (const auto& entry : extra_env)
            putenv(const_cast<char*>(entry.c_str()));
        if (!directory.empty() && chdir(directory.c_str()) != 0)
            _exit(127);
        std::vector<char*> argv;
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    if (input == input_mode::pipe) {
        close(in[0]);
        in_ = in[1];
    }
    close(out[1]);
    close(err[1]);
    out_fd_ = out[0];
    err_fd_ = err[0];
}

process::~process()
{
    if (!status_)
        stop(SIGKILL, 2000);
    for (int fd : {in_, out_fd_, err_fd_})
        if (fd >= 0)
            close(fd);
}

void process::write_input(std::string_view text)
{
    std::signal(SIGPIPE, SIG_IGN); // a program that ended must fail the write, not the test
    while (!text.empty()) {
        const ssize_t written = ::write(in_, text.data(), text.size());
        if (written <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

void process::close_input()
{
    if (in_ >= 0)
        close(in_);
    in_ = -1;
}

void process::close_output()
{
    if (out_fd_ >= 0)
        close(out_fd_);
    out_fd_ = -1;
}

// Reads whatever output is ready, waiting at most `timeout_ms` for some.
// False once both streams have ended.
bool process::pump(int timeout_ms)
{
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    if (out_fd_ < 0 && err_fd_ < 0)
        return false;
    if (poll(fds, 2, timeout_ms) <= 0)
        return true;
    std::array<char, 4096> buffer;
    for (auto& [fd, target] : {std::pair<int*, std::string*>{&out_fd_, &out_}, {&err_fd_, &err_}}) {
        if (*fd < 0)
            continue;
        const pollfd& p = *fd == fds[0].fd ? fds[0] : fds[1];
        if (!(p.revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const ssize_t n = read(*fd, buffer.data(), buffer.size());
        if (n > 0) {
            target->append(buffer.data(), static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            close(*fd);
            *fd = -1;
        }
    }
    return true;
}

bool process::reap(bool block)
{
    if (status_)
        return true;
    int status = 0;
    const pid_t done = waitpid(pid_, &status, block ? 0 : WNOHANG);
    if (done == pid_)
        status_ = decode_status(status);
    return status_.has_value();
}

bool process::wait_for_err(std::string_view text, int timeout_ms)
{
    const long long deadline = now_ms() + timeout_ms;
    while (err_.find(text) == std::string::npos && out_.find(text) == std::string::npos) {
        const long long left = deadline - now_ms();
        if (left <= 0 || !pump(static_cast<int>(std::min(left, 50LL))))
            return err_.find(text) != std::string::npos || out_.find(text) != std::string::npos;
    }
    return true;
}

bool process::wait_for_out(std::string_view text, int timeout_ms)
{
    return wait_for_err(text, timeout_ms);
}

int process::stop(int signal_number, int timeout_ms)
{
    if (status_)
        return *status_;
    if (signal_number != 0)
        kill(pid_, signal_number);
    const long long deadline = now_ms() + timeout_ms;
    while (!reap(false)) {
        const long long left = deadline - now_ms();
        if (left <= 0) {
            kill(pid_, SIGKILL);
            reap(true);
            status_ = -1;
            break;
        }
        if (!pump(static_cast<int>(std::min(left, 20LL))))
            usleep(2000);
    }
    // Collect what is left in the pipes; a grandchild that kept them open must
    // not hold the test up for long.
    const long long drain_deadline = now_ms() + 1000;
    while ((out_fd_ >= 0 || err_fd_ >= 0) && now_ms() < drain_deadline)
        pump(50);
    return *status_;
}

run_result run(
    const std::vector<std::string>& args, std::string_view input, int timeout_ms, const std::string& directory)
{
    process p(args, input_mode::pipe, {}, directory);
    p.write_input(input);
    p.close_input();
    const int status = p.wait(timeout_ms);
    return {status, p.out(), p.err()};
}

int free_udp_port()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        throw std::runtime_error("free_udp_port");
    close(fd);
    return ntohs(address.sin_port);
}

udp_capture::udp_capture(const char* local_address)
{
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    fcntl(fd_, F_SETFD, FD_CLOEXEC);
    const int buffer = 4 * 1024 * 1024;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    const int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, local_address, &address.sin_addr);
    socklen_t size = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        throw std::runtime_error("udp_capture");
    port_ = ntohs(address.sin_port);
}

udp_capture::~udp_capture()
{
    close(fd_);
}

std::optional<arrival> udp_capture::receive_arrival(int timeout_ms)
{
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0)
        return std::nullopt;
    arrival a{std::vector<std::uint8_t>(2048), 0};
    alignas(cmsghdr) std::array<char, 256> control{};
    iovec io{a.bytes.data(), a.bytes.size()};
    sockaddr_in source{};
    msghdr message{};
    message.msg_name = &source;
    message.msg_namelen = sizeof source;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t n = recvmsg(fd_, &message, 0);
    if (n < 0)
        return std::nullopt;
    a.bytes.resize(static_cast<std::size_t>(n));
    a.source_port = ntohs(source.sin_port);
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMP) {
            timeval stamp{};
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            a.ms = static_cast<double>(stamp.tv_sec) * 1000.0 + static_cast<double>(stamp.tv_usec) / 1000.0;
        }
    }
    return a;
}

void udp_capture::send_to(int port, std::span<const std::uint8_t> datagram) const
{
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(static_cast<std::uint16_t>(port));
    destination.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&destination), sizeof destination);
}

std::optional<std::vector<std::uint8_t>> udp_capture::receive(int timeout_ms)
{
    auto a = receive_arrival(timeout_ms);
    if (!a)
        return std::nullopt;
    return std::move(a->bytes);
}

std::vector<arrival> udp_capture::receive_arrivals(std::size_t count, int timeout_ms)
{
    std::vector<arrival> arrivals;
    const long long deadline = now_ms() + timeout_ms;
    while (arrivals.size() < count) {
        const long long left = deadline - now_ms();
        if (left <= 0)
            break;
        auto a = receive_arrival(static_cast<int>(left));
        if (!a)
            break;
        arrivals.push_back(std::move(*a));
    }
    return arrivals;
}

std::vector<std::vector<std::uint8_t>> udp_capture::receive_many(std::size_t count, int timeout_ms)
{
    std::vector<std::vector<std::uint8_t>> datagrams;
    for (auto& a : receive_arrivals(count, timeout_ms))
        datagrams.push_back(std::move(a.bytes));
    return datagrams;
}

udp_flood::udp_flood(int port, std::vector<std::uint8_t> beat, int limit_ms)
{
    thread_ = std::thread([this, port, beat = std::move(beat), limit_ms] {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in destination{};
        destination.sin_family = AF_INET;
        destination.sin_port = htons(static_cast<std::uint16_t>(port));
        destination.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connect(fd, reinterpret_cast<sockaddr*>(&destination), sizeof destination);
        std::array<std::uint8_t, 12> other = {'n', 'o', 't', ' ', 'A', 'r', 't', 'D', 'm', 'x'};
#if defined(__linux__)
        iovec part{other.data(), other.size()};
        std::array<mmsghdr, 64> messages{};
        for (mmsghdr& message : messages) {
            message.msg_hdr.msg_iov = &part;
            message.msg_hdr.msg_iovlen = 1;
        }
#endif
        for (long long next_beat = 0, now = now_ms(), end = now + limit_ms; !stop_ && now < end; now = now_ms()) {
            if (!beat.empty() && now >= next_beat && send(fd, beat.data(), beat.size(), 0) >= 0)
                next_beat = now + 5;
#if defined(__linux__)
            // Many datagrams a call: the receiver, with a call or two for
            // each, falls behind and never finds its queue empty.
            sendmmsg(fd, messages.data(), messages.size(), 0);
#else
            for (std::size_t i = 0; i < 64; ++i)
                send(fd, other.data(), other.size(), 0);
#endif
        }
        close(fd);
    });
}

udp_flood::~udp_flood()
{
    stop_ = true;
    thread_.join();
}

test_namespace::test_namespace() : name_("dmxkit-test-" + std::to_string(getpid()))
{
#if defined(__linux__)
    const std::string in = " && ip -n " + name_ + " ";
    made_ = std::system(("ip netns add " + name_ + " 2>/dev/null" + in + "link set lo up" + in
                + "link set lo multicast on" + in + "route add 224.0.0.0/4 dev lo")
                            .c_str())
        == 0;
    if (!made_)
        (void)!std::system(("ip netns del " + name_ + " 2>/dev/null").c_str());
#endif
}

test_namespace::~test_namespace()
{
    leave();
    if (made_)
        (void)!std::system(("ip netns del " + name_ + " 2>/dev/null").c_str());
}

std::string test_namespace::exec_prefix() const
{
    return "ip netns exec " + name_ + " ";
}

bool test_namespace::enter()
{
#if defined(__linux__)
    if (!made_ || inside_)
        return inside_;
    home_ = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int space = open(("/var/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
    inside_ = home_ >= 0 && space >= 0 && setns(space, CLONE_NEWNET) == 0;
    if (space >= 0)
        close(space);
#endif
    return inside_;
}

void test_namespace::leave()
{
#if defined(__linux__)
    if (inside_)
        setns(home_, CLONE_NEWNET);
    inside_ = false;
#endif
    if (home_ >= 0)
        close(home_);
    home_ = -1;
}

int sending_port()
{
    // Held for the process's life, so that no test is given the port, and
    // not by the programs the tests start.
    static const int port = [] {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        socklen_t size = sizeof any;
        bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any);
        getsockname(fd, reinterpret_cast<sockaddr*>(&any), &size);
        return static_cast<int>(ntohs(any.sin_port));
    }();
    return port;
}

void send_udp(int port, std::span<const std::uint8_t> datagram, const char* address)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_port = htons(static_cast<std::uint16_t>(sending_port()));
    bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source); // else from any port
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, address, &destination.sin_addr);
    sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&destination), sizeof destination);
    close(fd);
}

std::vector<std::uint8_t> artdmx_packet(
    std::uint16_t universe, const std::vector<std::uint8_t>& levels, std::uint8_t sequence)
{
    std::vector<std::uint8_t> packet(artdmx_header_size + levels.size());
    std::size_t length = 0;
    build_artdmx(packet, length, sequence, universe, levels);
    return packet;
}

temp_dir::temp_dir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "dmxkit-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp");
    path = pattern;
}

temp_dir::~temp_dir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string temp_dir::file(const std::string& name, const std::optional<std::string>& content) const
{
    const std::string full = path + "/" + name;
    if (content)
        std::ofstream(full, std::ios::binary) << *content;
    return full;
}

std::string read_file(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

std::string collapse_status_lines(std::string_view text)
{
    std::string result;
    std::string line;
    std::size_t cursor = 0;
    for (const char c : text) {
        if (c == '\n') {
            result += line + '\n';
            line.clear();
            cursor = 0;
        } else if (c == '\r') {
            cursor = 0;
        } else {
            if (cursor < line.size())
                line[cursor] = c;
            else
                line.push_back(c);
            ++cursor;
        }
    }
    return result + line;
}
