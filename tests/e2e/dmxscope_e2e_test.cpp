#include "harness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace {

const std::string clear = "\033[2J\033[H";
const std::string stopped = clear + "Art-Net monitor stopped.\n";

long long now_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1'000'000;
}

// dmxscope on a pseudo-terminal (standard input and output), standard error
// on a pipe. The terminal starts cooked but without ONLCR, so the screen
// arrives byte for byte. With `job_control` it runs as a shell runs a job: in
// a process group of its own in the foreground of the terminal's session,
// under a parent of that session that waits for it, so that Ctrl+Z can stop
// it (the kernel does not stop an orphaned process group).
class monitor {
public:
    monitor(const std::vector<std::string>& args, const std::vector<std::string>& env = {}, bool isig = true,
        bool job_control = false)
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            throw std::runtime_error("posix_openpt");
        const std::string slave_name = ptsname(master_);
        slave_ = open(slave_name.c_str(), O_RDWR | O_NOCTTY);
        tcgetattr(slave_, &before);
        before.c_oflag &= ~static_cast<tcflag_t>(ONLCR);
        if (!isig)
            before.c_lflag &= ~static_cast<tcflag_t>(ISIG);
        tcsetattr(slave_, TCSANOW, &before);
        tcgetattr(slave_, &before);
        int err_pipe[2];
        if (pipe(err_pipe) != 0)
            throw std::runtime_error("pipe");

        // Built before the fork: the child only execs. A known terminal type
        // and no display unless the test gives one.
        std::vector<std::string> environment = env;
        environment.emplace_back("TERM=xterm");
        auto name_of = [](std::string_view entry) { return entry.substr(0, entry.find('=')); };
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string_view name = name_of(*entry);
            if (name != "TERM" && name != "COLORTERM" && name != "DISPLAY" && name != "WAYLAND_DISPLAY"
                && std::none_of(env.begin(), env.end(), [&](const std::string& e) { return name_of(e) == name; }))
                environment.emplace_back(*entry);
        }
        std::vector<char*> envp, argv;
        for (auto& entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        const std::string path = program_path("dmxscope");
        std::vector<std::string> arguments = args;
        arguments.insert(arguments.begin(), "dmxscope");
        for (auto& arg : arguments)
            argv.push_back(arg.data());
        argv.push_back(nullptr);

        pid_ = fork();
        if (pid_ == 0) {
            setsid();
            const int tty = open(slave_name.c_str(), O_RDWR);
            ioctl(tty, TIOCSCTTY, 0);
            if (job_control && (pid_ = fork()) != 0) {
                int status = 0;
                while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
                }
                _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
            }
            if (job_control) {
                setpgid(0, 0);
                signal(SIGTTOU, SIG_IGN); // tcsetpgrp from the background
                tcsetpgrp(tty, getpid());
                signal(SIGTTOU, SIG_DFL);
            }
            dup2(tty, 0);
            dup2(tty, 1);
            dup2(err_pipe[1], 2);
            for (const int fd : {tty, err_pipe[0], err_pipe[1], master_, slave_})
                if (fd > 2)
                    close(fd);
            execve(path.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        close(err_pipe[1]);
        err_fd_ = err_pipe[0];
        target_ = pid_;
        for (int i = 0; job_control && i < 200 && ((target_ = tcgetpgrp(master_)) <= 0 || target_ == pid_); ++i)
            usleep(5000);
    }
    monitor(const monitor&) = delete;
    monitor& operator=(const monitor&) = delete;
    ~monitor()
    {
        stop(SIGKILL, 2000);
        for (const int fd : {master_, slave_, err_fd_})
            if (fd >= 0)
                close(fd);
    }

    void type(std::string_view keys) { (void)!write(master_, keys.data(), keys.size()); }
    // The monitor's own process (not its waiting parent under job control).
    pid_t target() const { return target_; }
    bool wait_for(std::string_view text, int timeout_ms = 8000) { return wait_in(screen, text, timeout_ms); }
    bool wait_for_err(std::string_view text, int timeout_ms = 8000) { return wait_in(err, text, timeout_ms); }
    // Waits for a screen whose title holds `title` to arrive whole: up to the
    // maker line and, in colour, the reset after it.
    bool wait_for_screen(std::string_view title, int timeout_ms = 8000)
    {
        const long long deadline = now_ms() + timeout_ms;
        for (;;) {
            const std::size_t start = screen.find(title);
            const std::size_t end = start == std::string::npos ? start : screen.find("example.org\n", start);
            if (end != std::string::npos) {
                const std::size_t maker = screen.rfind("https://", end);
                if (screen.compare(maker - 5, 5, "\033[36m") != 0 || screen.size() >= end + 12 + 4)
                    return true;
            }
            if (now_ms() > deadline)
                return false;
            pump(20);
        }
    }
    // Waits for a whole screen that begins after `offset` in the output.
    bool wait_for_screen_after(std::size_t offset, int timeout_ms = 8000)
    {
        const long long deadline = now_ms() + timeout_ms;
        for (;;) {
            const std::size_t start = screen.find(clear, offset);
            if (start != std::string::npos && screen.find("example.org\n", start) != std::string::npos)
                return true;
            if (now_ms() > deadline)
                return false;
            pump(20);
        }
    }
    // The last screen drawn (from the last clear-screen sequence).
    std::string last_screen() const { return screen.substr(std::min(screen.rfind(clear), screen.size())); }
    // A new window size: the kernel tells the terminal's foreground with
    // SIGWINCH, as a terminal window does.
    void resize(int rows, int columns) const
    {
        const winsize size{static_cast<unsigned short>(rows), static_cast<unsigned short>(columns), 0, 0};
        ioctl(master_, TIOCSWINSZ, &size);
    }
    termios settings() const
    {
        termios now{};
        tcgetattr(slave_, &now);
        return now;
    }

    // Sends the signal (unless 0) and waits for the end; SIGKILL at the deadline.
    int stop(int signal_number, int timeout_ms = 8000)
    {
        if (status_ >= -1 && target_ > 0 && signal_number != 0 && !done_)
            kill(target_, signal_number);
        const long long deadline = now_ms() + timeout_ms;
        while (!done_) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                done_ = true;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else if (now_ms() > deadline) {
                kill(target_, SIGKILL);
                kill(pid_, SIGKILL);
            } else {
                pump(10);
            }
        }
        pump(100); // what the last writes left in the terminal and pipe
        return status_;
    }

    termios before{};
    std::string screen, err;

private:
    // Reads what is ready, waiting at most `timeout_ms` for the first bytes.
    void pump(int timeout_ms)
    {
        pollfd fds[2] = {{master_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
        while (poll(fds, 2, timeout_ms) > 0) {
            std::array<char, 65536> buffer;
            for (auto& [index, target] : {std::pair{0, &screen}, std::pair{1, &err}}) {
                if (fds[index].revents == 0)
                    continue;
                const ssize_t n = read(fds[index].fd, buffer.data(), buffer.size());
                if (n > 0)
                    target->append(buffer.data(), static_cast<std::size_t>(n));
                else
                    fds[index].fd = -1; // ended: not polled again in this call
            }
            if (fds[1].fd < 0 && err_fd_ >= 0) {
                close(err_fd_);
                err_fd_ = -1;
            }
            timeout_ms = 0;
        }
    }

    bool wait_in(const std::string& stream, std::string_view text, int timeout_ms)
    {
        const long long deadline = now_ms() + timeout_ms;
        while (stream.find(text) == std::string::npos && now_ms() < deadline)
            pump(20);
        return stream.find(text) != std::string::npos;
    }

    int master_ = -1, slave_ = -1, err_fd_ = -1;
    pid_t pid_ = -1, target_ = -1;
    bool done_ = false;
    int status_ = -1;
};

bool same_settings(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag
        && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

std::string report(int port, const std::string& which)
{
    return "Listening for Art-Net on port " + std::to_string(port) + " (" + which
        + ")\nPress 'b' to toggle display mode | Ctrl+C to exit\n\n";
}

void send(int port, std::uint16_t universe, const std::vector<std::uint8_t>& levels)
{
    send_udp(port, artdmx_packet(universe, levels));
}

// A folder holding a stand-in `xclip` with the given body, first on PATH.
struct fake_xclip {
    explicit fake_xclip(const std::string& body)
    {
        char folder_template[] = "/tmp/dmxscope-clip-XXXXXX";
        folder = mkdtemp(folder_template);
        std::ofstream(folder + "/xclip") << "#!/bin/sh\n" << body << "\n";
        chmod((folder + "/xclip").c_str(), 0755);
    }
    ~fake_xclip() { std::filesystem::remove_all(folder); }
    std::vector<std::string> env() const { return {"DISPLAY=:99", "PATH=" + folder + ":" + std::getenv("PATH")}; }
    std::string read(const char* name) const
    {
        std::stringstream text;
        text << std::ifstream(folder + "/" + name).rdbuf();
        return text.str();
    }
    std::string folder;
};

} // namespace

TEST(DmxscopeE2E, ReportsItsFilterAndRestoresTheTerminalHoweverItStops)
{
    const struct {
        std::vector<std::string> args;
        std::string which;
        int signal_number; // 0: typed Ctrl+C
        bool isig;
    } cases[] = {
        {{}, "all universes", SIGINT, true}, {{"-u", "3", "-a"}, "all universes", SIGTERM, true},
        {{"-a", "-u", "3"}, "universe 3 only", 0, true}, // Ctrl+C raises SIGINT
        {{"-u", "5"}, "universe 5 only", 0, false},      // without ISIG it arrives as the byte 3
    };
    for (const auto& c : cases) {
        const int port = free_udp_port();
        std::vector<std::string> args = {"-p", std::to_string(port)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        monitor m(args, {}, c.isig);
        SCOPED_TRACE(c.which + " " + std::to_string(c.signal_number));
        ASSERT_TRUE(m.wait_for("\n\n"));
        EXPECT_EQ(m.screen, report(port, c.which));
        const termios raw = m.settings();
        EXPECT_EQ(raw.c_lflag & (ICANON | ECHO), 0u);
        EXPECT_EQ(raw.c_lflag & ISIG, m.before.c_lflag & ISIG);
        if (c.signal_number == 0)
            m.type("\x03");
        EXPECT_EQ(m.stop(c.signal_number), 0);
        EXPECT_EQ(m.screen, report(port, c.which) + stopped);
        EXPECT_EQ(m.err, "");
        EXPECT_TRUE(same_settings(m.settings(), m.before));
    }
}

TEST(DmxscopeE2E, FilterDropsOtherUniversesAndKeysSwitchTheMode)
{
    const int port = free_udp_port();
    monitor m({"-p", std::to_string(port), "-u", "7"});
    ASSERT_TRUE(m.wait_for("\n\n"));
    // Sent during the start-up pause: queued, then taken one per pass.
    send(port, 8, {1, 2, 3});
    send(port, 7, {0, 7, 99, 128, 255});
    ASSERT_TRUE(m.wait_for_screen("(Packets: 1)"));
    const std::string dashes = std::string(80, '-') + "\n";
    EXPECT_EQ(m.last_screen(),
        clear + "Art-Net Monitor - Universe 7 (Packets: 1) [Numbers Mode]\n" + dashes
            + "Ch:     0    1    2    3    4 \n" + dashes + "\033[36m   0:    0    7   99  128  255 "
            + std::string(55, ' ') + "\033[0m\n" + dashes
            + "Press 'b' to toggle bar graph | 'c' to copy CSV | 's' for sources | Ctrl+C to exit\n"
              "\033[36mhttps://dmxkit.example.org\n\033[0m");
    send(port, 256 + 7, {9}); // Net byte 1: never passes a filter
    send(port, 7, std::vector<std::uint8_t>(24, 50));
    ASSERT_TRUE(m.wait_for_screen("(Packets: 2)"));
    EXPECT_EQ(m.last_screen().find("  32:"), std::string::npos) << "24 channels: two rows";
    m.type("qb");
    ASSERT_TRUE(m.wait_for_screen("(Packets: 2) [Bar Graph Mode]"));
    EXPECT_NE(m.last_screen().find(" 496: "), std::string::npos) << "a key redraws all 512 channels";
    m.type("B");
    ASSERT_TRUE(
        m.wait_for_screen("(Packets: 2) [Numbers Mode]\n" + dashes + "Ch:     0    1    2    3    4    5    6"));
    EXPECT_EQ(m.stop(SIGTERM), 0);
    EXPECT_EQ(m.err, "");
}

TEST(DmxscopeE2E, KeysBeforeTheFirstPacketChooseTheModeAndRefuseToCopy)
{
    const int port = free_udp_port();
    monitor m({"-p", std::to_string(port)});
    ASSERT_TRUE(m.wait_for("\n\n"));
    m.type("bc");
    ASSERT_TRUE(m.wait_for_err("No data received yet\n"));
    send(port, 0, {255});
    ASSERT_TRUE(m.wait_for_screen("Universe 0 (Packets: 1) [Bar Graph Mode]"));
    EXPECT_EQ(m.screen.find("Art-Net Monitor"), m.screen.find(clear) + clear.size()) << "nothing drawn before";
    EXPECT_EQ(m.stop(SIGINT), 0);
    EXPECT_EQ(m.err, "No data received yet\n");
}

TEST(DmxscopeE2E, ExportsAll512ChannelsUnderTheLastUniverse)
{
    fake_xclip clip("echo \"$@\" > \"$(dirname \"$0\")/args\"; cat > \"$(dirname \"$0\")/clip.csv\"");
    const int port = free_udp_port();
    monitor m({"-p", std::to_string(port)}, clip.env());
    ASSERT_TRUE(m.wait_for("\n\n"));
    send(port, 1, std::vector<std::uint8_t>(512, 200));
    send(port, 2, std::vector<std::uint8_t>(24, 9));
    ASSERT_TRUE(m.wait_for_screen("Universe 2 (Packets: 2) [Numbers Mode]"));
    m.type("c");
    ASSERT_TRUE(m.wait_for_err("Copied 512 channels to clipboard (CSV format)\n"));
    EXPECT_EQ(clip.read("args"), "-selection clipboard\n");
    const std::string csv = clip.read("clip.csv");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 513);
    for (const char* line : {"Universe,Channel,Value\n2,1,9\n", "\n2,24,9\n2,25,200\n", "\n2,512,200\n"})
        EXPECT_NE(csv.find(line), std::string::npos) << line;
    m.type("C"); // every export runs the command anew
    ASSERT_TRUE(m.wait_for_err("CSV format)\nCopied 512"));
    EXPECT_EQ(m.stop(SIGINT), 0);
    EXPECT_TRUE(same_settings(m.settings(), m.before));
}

TEST(DmxscopeE2E, AnExportThatDidNotReachTheClipboardSaysSo)
{
    const char* bodies[] = {
        "cat >/dev/null; exit 1", // the command failed
        "exit 0",                 // ended without reading
        "exec 0<&-; sleep 1",     // stopped reading
        nullptr,                  // no clipboard command for this session
    };
    for (const char* body : bodies) {
        SCOPED_TRACE(body != nullptr ? body : "none");
        fake_xclip clip(body != nullptr ? body : "");
        const int port = free_udp_port();
        monitor m({"-p", std::to_string(port)}, body != nullptr ? clip.env() : std::vector<std::string>{});
        ASSERT_TRUE(m.wait_for("\n\n"));
        send(port, 1, {1, 2, 3});
        ASSERT_TRUE(m.wait_for_screen("(Packets: 1)"));
        m.type("c");
        ASSERT_TRUE(m.wait_for_err("Error: Could not open clipboard\n"));
        m.type("b"); // the monitor goes on
        ASSERT_TRUE(m.wait_for_screen("[Bar Graph Mode]"));
        EXPECT_EQ(m.stop(SIGTERM), 0);
        EXPECT_EQ(m.err, "Error: Could not open clipboard\n");
        EXPECT_TRUE(same_settings(m.settings(), m.before));
    }
}

TEST(DmxscopeE2E, ColourFollowsTheTerminalTypeAndMinusN)
{
    const struct {
        std::vector<std::string> args, env;
        bool color;
    } cases[] = {
        {{}, {"TERM=dumb"}, false},
        {{}, {"TERM=dumb", "COLORTERM="}, true},
        {{"-n"}, {}, false},
    };
    for (const auto& c : cases) {
        const int port = free_udp_port();
        std::vector<std::string> args = {"-p", std::to_string(port)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        monitor m(args, c.env);
        ASSERT_TRUE(m.wait_for("\n\n"));
        send(port, 1, std::vector<std::uint8_t>(40, 1));
        ASSERT_TRUE(m.wait_for_screen("(Packets: 1)"));
        EXPECT_EQ(m.last_screen().find("\033[3") != std::string::npos, c.color) << c.env.at(0);
        EXPECT_EQ(m.stop(SIGINT), 0);
    }
}

TEST(DmxscopeE2E, BindFailurePrintsFourLinesAndRestoresTheTerminal)
{
    const int port = free_udp_port();
    const int holder = socket(AF_INET, SOCK_DGRAM, 0); // no port sharing
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    monitor m({"-p", std::to_string(port)});
    EXPECT_EQ(m.stop(0), 1);
    close(holder);
    const std::string p = std::to_string(port);
    EXPECT_EQ(m.err,
        "Failed to bind to port " + p
            + ": Address already in use\n"
              "Another process may be using this port. Try:\n  - Using a different port with -p option\n"
              "  - Stopping the other process using port "
            + p + "\n");
    EXPECT_EQ(m.screen, "");
    EXPECT_TRUE(same_settings(m.settings(), m.before));
}

TEST(DmxscopeE2E, OptionErrorsAndHelpEndBeforeTheTerminalIsTouched)
{
    const std::string usage = "Usage: dmxscope [-u universe] [-p port] [-a] [-n]\n"
                              "  -u universe    Monitor specific universe (0-32767, default: all)\n"
                              "  -p port        UDP port to listen on (default: 6454)\n"
                              "  -a             Show all universes (default: all)\n"
                              "  -n             Disable color output\n\nControls:\n"
                              "  Press 'b' to toggle between numbers and bar graph display\n"
                              "  Press 'c' to copy current data to clipboard (CSV format)\n"
                              "  Press 's' to show who is sending (and 's', 'b' or 'n' to return)\n"
                              "  Press Ctrl+C to exit\n\n";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err_start;
    } cases[] = {
        {{"dmxscope", "-h"}, 0, usage},
        {{"dmxscope", "-n", "-x"}, 1, ""},
        {{"dmxscope", "-u", "32768"}, 1, "Error: Universe must be 0-32767 or net.subnet.universe (0-127.0-15.0-15)\n"},
        {{"dmxscope", "-u", "-1"}, 1, "Error: Universe must be 0-32767 or net.subnet.universe (0-127.0-15.0-15)\n"},
        {{"dmxscope", "-p", "0x"}, 1, "Invalid port: 0x\n"},
        {{"dmxscope", "-p", "65536", "-h"}, 1, "Invalid port: 65536\n"},
        {{"dmxscope", "-h", "-p", "0"}, 0, usage},
    };
    for (const auto& c : cases) {
        const run_result result = run(c.args);
        EXPECT_EQ(result.status, c.status) << c.args.at(1);
        EXPECT_EQ(result.err.substr(0, c.err_start.size()), c.err_start) << c.args.at(1);
        EXPECT_EQ(result.out, "");
    }
    EXPECT_NE(run({"dmxscope", "-x"}).err.find(usage), std::string::npos);
}

#ifdef __linux__
// Standard output on a pipe and standard input at its end from the start:
// no colour, packets still shown, and an idle loop that sleeps.
TEST(DmxscopeE2E, EndedInputIsNotPolledInABusyLoop)
{
    const int port = free_udp_port();
    process p({"dmxscope", "-p", std::to_string(port)}, input_mode::null_device, {"TERM=xterm"});
    ASSERT_TRUE(p.wait_for_out("Ctrl+C to exit\n\n"));
    send(port, 4, {1});
    ASSERT_TRUE(p.wait_for_out("example.org\n"));
    auto cpu_ticks = [&] {
        std::ifstream stat("/proc/" + std::to_string(p.pid()) + "/stat");
        std::string field;
        long ticks = 0;
        for (int i = 1; i <= 15 && stat >> field; ++i)
            if (i >= 14)
                ticks += std::stol(field);
        return ticks;
    };
    const long start = cpu_ticks();
    usleep(1'000'000);
    EXPECT_LT(cpu_ticks() - start, sysconf(_SC_CLK_TCK) / 4) << "spins";
    EXPECT_EQ(p.stop(SIGTERM), 0);
    EXPECT_NE(p.out().find("Universe 4 (Packets: 1)"), std::string::npos);
    EXPECT_EQ(p.out().find("\033[3"), std::string::npos);
    EXPECT_EQ(p.out().substr(p.out().size() - stopped.size()), stopped);
}
#endif

TEST(DmxscopeE2E, AScreenReaderThatWentAwayStopsTheMonitorCleanly)
{
    const int port = free_udp_port();
    process p({"dmxscope", "-p", std::to_string(port)});
    ASSERT_TRUE(p.wait_for_out("Ctrl+C to exit\n\n"));
    p.close_output();
    send(port, 1, {1, 2, 3});
    EXPECT_EQ(p.wait(5000), 0) << "ended by SIGPIPE, terminal left raw";
}

TEST(DmxscopeE2E, HangupAndQuitStopTheMonitorCleanly)
{
    for (const int signal_number : {SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(signal_number);
        const int port = free_udp_port();
        monitor m({"-p", std::to_string(port)});
        ASSERT_TRUE(m.wait_for("\n\n"));
        send(port, 1, {1});
        ASSERT_TRUE(m.wait_for_screen("(Packets: 1)"));
        EXPECT_EQ(m.stop(signal_number), 0);
        EXPECT_EQ(m.screen.substr(m.screen.size() - stopped.size()), stopped);
        EXPECT_TRUE(same_settings(m.settings(), m.before));
    }
}

#ifdef __linux__
bool process_stopped(pid_t pid, bool wanted)
{
    for (int i = 0; i < 400; ++i) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string pid_field, name, state;
        stat >> pid_field >> name >> state;
        if ((state == "T") == wanted)
            return true;
        usleep(5000);
    }
    return false;
}

TEST(DmxscopeE2E, CtrlZGivesTheTerminalBackAndContinuingTakesItAgain)
{
    const int port = free_udp_port();
    monitor m({"-p", std::to_string(port)}, {}, true, true);
    ASSERT_TRUE(m.wait_for("\n\n"));
    send(port, 1, {1});
    ASSERT_TRUE(m.wait_for_screen("(Packets: 1)"));
    const std::size_t screens = m.screen.size();

    kill(-m.target(), SIGTSTP); // what Ctrl+Z does
    ASSERT_TRUE(process_stopped(m.target(), true));
    EXPECT_TRUE(same_settings(m.settings(), m.before)) << "the terminal as it was while stopped";

    kill(-m.target(), SIGCONT); // what fg does
    ASSERT_TRUE(process_stopped(m.target(), false));
    EXPECT_TRUE(m.wait_for_screen_after(screens)) << "redrawn once continued";
    EXPECT_EQ(m.settings().c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(m.stop(SIGINT), 0);
    EXPECT_TRUE(same_settings(m.settings(), m.before));
}
#endif

TEST(DmxscopeE2E, AHangingExportIsEndedAndTheMonitorGoesOn)
{
    fake_xclip clip("exec sleep 30");
    for (const bool stop_during_export : {false, true}) {
        SCOPED_TRACE(stop_during_export);
        const int port = free_udp_port();
        monitor m({"-p", std::to_string(port)}, clip.env());
        ASSERT_TRUE(m.wait_for("\n\n"));
        send(port, 1, {1});
        ASSERT_TRUE(m.wait_for_screen("(Packets: 1)"));
        m.type("c");
        usleep(200'000);
        send(port, 1, {2}); // drawn while the command hangs
        ASSERT_TRUE(m.wait_for_screen("(Packets: 2)", 1500));
        if (stop_during_export) {
            const long long start = now_ms();
            EXPECT_EQ(m.stop(SIGINT), 0);
            EXPECT_LT(now_ms() - start, 500);
            EXPECT_EQ(m.err, "");
        } else {
            ASSERT_TRUE(m.wait_for_err("Error: Could not open clipboard\n", 5000));
            m.type("b");
            ASSERT_TRUE(m.wait_for_screen("[Bar Graph Mode]"));
            EXPECT_EQ(m.stop(SIGTERM), 0);
        }
        EXPECT_TRUE(same_settings(m.settings(), m.before));
    }
}

TEST(DmxscopeE2E, AFloodOfOtherDatagramsHoldsUpNeitherTheScreenNorAnExportsEnd)
{
    fake_xclip clip("exec sleep 30");
    const int port = free_udp_port();
    monitor m({"-p", std::to_string(port)}, clip.env());
    ASSERT_TRUE(m.wait_for("\n\n"));
    send(port, 1, {1});
    ASSERT_TRUE(m.wait_for_screen("(Packets: 1)"));
    m.type("c");
    const long long start = now_ms();
    const udp_flood flood(port, artdmx_packet(2, {2}));
    EXPECT_TRUE(m.wait_for_screen("Universe 2 (", 3000)) << "a new frame reaches the screen";
    EXPECT_TRUE(m.wait_for_err("Error: Could not open clipboard\n", 6000));
    EXPECT_LT(now_ms() - start, 5000) << "the export ends after its 3 s";
    EXPECT_EQ(m.stop(SIGINT), 0);
}

// The lines of the last screen, colour sequences left out.
std::vector<std::string> screen_lines(const std::string& screen)
{
    std::vector<std::string> lines(1);
    for (std::size_t i = screen.find(clear) + clear.size(); i < screen.size(); ++i) {
        if (screen[i] == '\033')
            i = screen.find('m', i);
        else if (screen[i] == '\n')
            lines.emplace_back();
        else
            lines.back() += screen[i];
    }
    return lines;
}

TEST(DmxscopeE2E, FitsTheTerminalScrollsAndQuitsWithQ)
{
    const int port = free_udp_port();
    monitor m({"-p", std::to_string(port)});
    m.resize(45, 120);
    ASSERT_TRUE(m.wait_for("\n\n"));
    send(port, 1, std::vector<std::uint8_t>(512, 7));
    ASSERT_TRUE(m.wait_for_screen("(Packets: 1) [Numbers Mode]\n")) << "the full screen fits 120x45";

    m.resize(24, 80); // redrawn at once to the new size
    ASSERT_TRUE(m.wait_for_screen("[Numbers Mode] Ch 0-223 of 512"));
    for (const std::string& line : screen_lines(m.last_screen()))
        EXPECT_LE(line.size(), 80u) << line;

    const struct {
        const char* keys;
        const char* range;
    } scrolls[] = {
        {"j", "Ch 14-237 "},
        {"\033[B", "Ch 28-251 "},
        {"k", "Ch 14-237 "},
        {"\033[6~", "Ch 238-461 "},
        {"\033[F", "Ch 294-511 "},
        {"\033OA", "Ch 280-503 "},
        {"\033[5~", "Ch 56-279 "},
        {"\033[H", "Ch 0-223 "},
    };
    for (const auto& s : scrolls) {
        const std::size_t before = m.screen.size();
        m.type(s.keys);
        ASSERT_TRUE(m.wait_for_screen_after(before)) << s.range;
        EXPECT_NE(screen_lines(m.last_screen()).at(0).find(s.range), std::string::npos) << s.range;
    }
    m.type("q");
    EXPECT_EQ(m.stop(0), 0);
    EXPECT_EQ(m.screen.substr(m.screen.size() - stopped.size()), stopped);
    EXPECT_TRUE(same_settings(m.settings(), m.before));
}

TEST(DmxscopeE2E, ATerminalTooSmallSaysSoUntilItGrows)
{
    const int port = free_udp_port();
    monitor m({"-p", std::to_string(port)});
    m.resize(3, 10);
    ASSERT_TRUE(m.wait_for("\n\n"));
    send(port, 1, std::vector<std::uint8_t>(512, 7));
    ASSERT_TRUE(m.wait_for(clear + "Terminal t"));
    usleep(100'000);
    EXPECT_EQ(m.last_screen(), clear + "Terminal t") << "one line, cut to the width";
    m.resize(24, 80);
    ASSERT_TRUE(m.wait_for_screen("[Numbers Mode] Ch 0-223 of 512"));
    EXPECT_EQ(m.stop(SIGINT), 0);
}

TEST(DmxscopeE2E, ABurstIsCountedInFullAndDrawnInFewScreens)
{
    const int port = free_udp_port();
    monitor m({"-p", std::to_string(port), "-n"});
    ASSERT_TRUE(m.wait_for("\n\n"));
    usleep(1'200'000); // past the start-up pause
    for (int frame = 0; frame < 10; ++frame) {
        for (int universe = 0; universe < 256; ++universe)
            send(port, static_cast<std::uint16_t>(universe), {static_cast<std::uint8_t>(frame)});
        usleep(2000);
    }
    ASSERT_TRUE(m.wait_for_screen("Universe 255 (Packets: 2560)"));
    std::size_t screens = 0;
    for (std::size_t at = m.screen.find(clear); at != std::string::npos; at = m.screen.find(clear, at + 1))
        ++screens;
    EXPECT_LT(screens, 200u) << "one screen per datagram would be 2560";
    EXPECT_EQ(m.stop(SIGINT), 0);
}

// Two senders on one universe: the title warns of them, 's' lists them
// (redrawn without packets too) and 'b' goes back to the bar graph.
TEST(DmxscopeE2E, TwoSendersOnAUniverseAreWarnedOfAndListed)
{
    std::optional<udp_capture> a, b;
    try {
        a.emplace("127.0.0.2");
        b.emplace("127.0.0.3");
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "127.0.0.2 and 127.0.0.3 cannot be bound here";
    }
    const int port = free_udp_port();
    monitor m({"-p", std::to_string(port), "-n"});
    ASSERT_TRUE(m.wait_for("\n\n"));
    a->send_to(port, artdmx_packet(1, {10, 20}, 1));
    b->send_to(port, artdmx_packet(1, {10, 20}, 1));
    ASSERT_TRUE(m.wait_for_screen("Universe 1 - 2 sources (Packets: 2)"));
    a->send_to(port, artdmx_packet(1, {10, 20}, 2));
    b->send_to(port, artdmx_packet(1, {10, 21}, 3));
    ASSERT_TRUE(m.wait_for_screen("Universe 1 - 2 sources, levels differ (Packets: 4)"));
    m.type("s");
    ASSERT_TRUE(m.wait_for_screen("Art-Net Monitor - Sources: 2 (Packets: 4)\n"));
    const std::size_t drawn = m.screen.size();
    ASSERT_TRUE(m.wait_for_screen_after(drawn, 3000)) << "redrawn once a second";
    const auto lines = screen_lines(m.last_screen());
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[2], "Univ  Proto    Address:port     Rate   Last  Gaps    Ch");
    for (const auto& [line, address, gaps] : {std::tuple(lines[4], "127.0.0.2:" + std::to_string(a->port()), 0),
             std::tuple(lines[5], "127.0.0.3:" + std::to_string(b->port()), 1)}) {
        EXPECT_EQ(line.rfind("   1  Art-Net  " + address + "  ", 0), 0u) << line;
        EXPECT_EQ(line.substr(line.size() - 12), "  gaps " + std::to_string(gaps) + "   2") << line;
    }
    m.type("b");
    ASSERT_TRUE(m.wait_for_screen("(Packets: 4) [Bar Graph Mode]"));
    // Once they have stopped, the warning goes without another packet.
    a->send_to(port, artdmx_packet(1, {10, 20}, 4));
    b->send_to(port, artdmx_packet(1, {10, 21}, 5));
    ASSERT_TRUE(m.wait_for_screen("Universe 1 - 2 sources, levels differ (Packets: 6) [Bar Graph Mode]"));
    EXPECT_TRUE(m.wait_for_screen("Universe 1 (Packets: 6) [Bar Graph Mode]", 4000));
    EXPECT_EQ(m.stop(SIGINT), 0);
}
