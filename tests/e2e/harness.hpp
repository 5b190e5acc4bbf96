#pragma once
// End-to-end harness: start the built programs, feed them input, capture what
// they print and their exit status, and exchange datagrams with them on
// loopback. Every wait has a deadline.

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <vector>

// The built program of that name.
std::string program_path(std::string_view name);

// Exit status, or 128 + the signal for a process that a signal ended, or -1
// when it had to be killed at the deadline.
struct run_result {
    int status = -1;
    std::string out;
    std::string err;
};

// Standard input on a pipe, on /dev/null, or closed; `closed_output` closes
// standard output and error too.
enum class input_mode { pipe, null_device, closed, closed_output };

// A running program with its standard streams on pipes.
class process {
public:
    // args[0] is the program's name in the build; the rest are its arguments.
    // A non-empty `directory` becomes the program's working directory.
    explicit process(const std::vector<std::string>& args, input_mode input = input_mode::pipe,
        const std::vector<std::string>& extra_env = {}, const std::string& directory = {});
    process(const process&) = delete;
    process& operator=(const process&) = delete;
    ~process();

    pid_t pid() const { return pid_; }
    void write_input(std::string_view text);
    void close_input();
    // Stops reading standard output: the program's next write finds no reader.
    void close_output();
    // Reads output until `text` appears on standard error (or standard output).
    bool wait_for_err(std::string_view text, int timeout_ms = 5000);
    bool wait_for_out(std::string_view text, int timeout_ms = 5000);
    // Sends the signal (unless 0), then waits for the end; SIGKILL at the deadline.
    int stop(int signal_number, int timeout_ms = 5000);
    int wait(int timeout_ms = 10000) { return stop(0, timeout_ms); }
    bool exited() const { return status_.has_value(); }
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }

private:
    bool pump(int timeout_ms);
    bool reap(bool block);

    pid_t pid_ = -1;
    int in_ = -1, out_fd_ = -1, err_fd_ = -1;
    std::string out_, err_;
    std::optional<int> status_;
};

// Runs a program to its end with `input` on standard input, in `directory`
// when one is given.
run_result run(const std::vector<std::string>& args, std::string_view input = {}, int timeout_ms = 10000,
    const std::string& directory = {});

// A UDP port on loopback that is free now (bound and released).
int free_udp_port();

// A datagram and when the kernel took it in (monotonic-independent wall time
// in ms), so that the test's own scheduling on a loaded machine does not
// blur the timings.
struct arrival {
    std::vector<std::uint8_t> bytes;
    double ms = 0;
    int source_port = 0;
};

// A socket bound to 127.0.0.1 (or another local address, where it may be
// bound: else it throws) on a free port that collects datagrams.
class udp_capture {
public:
    explicit udp_capture(const char* local_address = "127.0.0.1");
    udp_capture(const udp_capture&) = delete;
    udp_capture& operator=(const udp_capture&) = delete;
    ~udp_capture();
    int port() const { return port_; }
    // Sends from this socket to 127.0.0.1, so that answers come back here.
    void send_to(int port, std::span<const std::uint8_t> datagram) const;
    std::optional<arrival> receive_arrival(int timeout_ms = 2000);
    std::optional<std::vector<std::uint8_t>> receive(int timeout_ms = 2000);
    // Collect until `count` datagrams arrived or the deadline passed.
    std::vector<arrival> receive_arrivals(std::size_t count, int timeout_ms = 5000);
    std::vector<std::vector<std::uint8_t>> receive_many(std::size_t count, int timeout_ms = 5000);

private:
    int fd_ = -1;
    int port_ = 0;
};

// Every datagram leaves from one port, sending_port(): receivers that tell
// their sources apart see the tests as one sender, as they would a console.
void send_udp(int port, std::span<const std::uint8_t> datagram, const char* address = "127.0.0.1");
int sending_port();
// An ArtDmx datagram made by the codec.
std::vector<std::uint8_t> artdmx_packet(
    std::uint16_t universe, const std::vector<std::uint8_t>& levels, std::uint8_t sequence = 1);

// Datagrams that are not ArtDmx sent to 127.0.0.1:`port` as fast as one
// thread can, and `beat` (unless empty) every 5 ms among them, from the start
// until the object goes or `limit_ms` has passed.
class udp_flood {
public:
    udp_flood(int port, std::vector<std::uint8_t> beat = {}, int limit_ms = 8000);
    ~udp_flood();

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A network namespace made for a test, with its loopback up, multicast on and
// a route for every group to it, so that multicast never leaves the machine;
// removed when the object goes. Linux only: elsewhere none is ever made.
class test_namespace {
public:
    test_namespace();
    test_namespace(const test_namespace&) = delete;
    test_namespace& operator=(const test_namespace&) = delete;
    ~test_namespace();
    // False where it could not be made (no privileges, no ip command): the
    // test skips then.
    bool made() const { return made_; }
    // "ip netns exec <name> ", to run a command inside.
    std::string exec_prefix() const;
    // The calling thread, and the processes it starts, inside the namespace
    // until leave() (or the object's end); false where it could not enter.
    bool enter();
    void leave();

private:
    std::string name_;
    bool made_ = false;
    int home_ = -1;
    bool inside_ = false;
};

// A fresh folder, removed with everything in it when the object goes.
struct temp_dir {
    temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
    ~temp_dir();
    // The path of `name` in the folder; with `content`, the file is written.
    std::string file(const std::string& name, const std::optional<std::string>& content = std::nullopt) const;
    std::string path;
};

std::string read_file(const std::string& path);

// Status lines rewritten in place with "\r" reduced to what a terminal
// would finally show on each line.
std::string collapse_status_lines(std::string_view text);
