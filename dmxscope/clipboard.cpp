#include "clipboard.hpp"

#include "runtime.hpp"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

// glibc declares it in unistd.h; other systems leave it to the program.
#if !defined(__GLIBC__)
extern char** environ;
#endif

namespace {

// "Universe,Channel,Value\n" and 512 lines of at most "65535,512,255\n".
constexpr std::size_t csv_text_capacity = 8192;
constexpr int pipe_wait_ms = 100;

bool is_set(const char* variable)
{
    return variable != nullptr && *variable != '\0';
}

// An empty entry of PATH stands for the current directory, as for the shell.
bool on_path(std::string_view name, const char* path)
{
    std::string_view rest = path != nullptr ? path : "/usr/bin:/bin";
    for (;;) {
        const std::size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        const std::string candidate = std::string(folder.empty() ? "." : folder) + "/" + std::string(name);
        if (::access(candidate.c_str(), X_OK) == 0)
            return true;
        if (colon == std::string_view::npos)
            return false;
        rest.remove_prefix(colon + 1);
    }
}

bool close_on_exec_pipe(std::array<int, 2>& ends)
{
    if (::pipe(ends.data()) != 0)
        return false;
    for (const int end : ends)
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
    return true;
}

// The CSV text in `buffer`; empty when it did not fit (it always does).
std::string_view render_csv(
    std::array<char, csv_text_capacity>& buffer, std::uint16_t universe, dmx_levels levels, std::size_t count)
{
    const unique_file text(::fmemopen(buffer.data(), buffer.size(), "w"));
    if (!text || !write_clipboard_csv(text.get(), universe, levels, count))
        return {};
    const long length = std::ftell(text.get());
    return length > 0 ? std::string_view(buffer.data(), static_cast<std::size_t>(length)) : std::string_view();
}

// Writes `text` into the pipe while the command lives. False when the
// command ended first (its status then in `status`, `ended` set) or a write
// failed.
bool feed_command(int pipe_end, pid_t command, std::string_view text, int& status, bool& ended)
{
    set_nonblocking(pipe_end);
    while (!text.empty()) {
        const ssize_t written = ::write(pipe_end, text.data(), text.size());
        if (written > 0) {
            text.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        // The pipe is full: wait for the command to read, unless it is gone.
        if (::waitpid(command, &status, WNOHANG) == command) {
            ended = true;
            return false;
        }
        pollfd room{pipe_end, POLLOUT, 0};
        ::poll(&room, 1, pipe_wait_ms);
    }
    return true;
}

} // namespace

const char* const* choose_clipboard_command(const char* wayland_display, const char* display, const char* path)
{
    static const char* const pbcopy[] = {"pbcopy", nullptr};
    static const char* const wl_copy[] = {"wl-copy", nullptr};
    static const char* const xclip[] = {"xclip", "-selection", "clipboard", nullptr};
    static const char* const xsel[] = {"xsel", "--clipboard", "--input", nullptr};
#ifdef __APPLE__
    (void)wayland_display;
    (void)display;
    (void)path;
    return pbcopy;
#else
    (void)pbcopy;
    if (is_set(wayland_display) && on_path(wl_copy[0], path))
        return wl_copy;
    if (is_set(display)) {
        for (const char* const* command : {xclip, xsel})
            if (on_path(command[0], path))
                return command;
    }
    return nullptr;
#endif
}

bool pipe_to_command(const char* const* command, std::uint16_t universe, dmx_levels levels, std::size_t count)
{
    std::array<char, csv_text_capacity> buffer{};
    const std::string_view text = render_csv(buffer, universe, levels, count);
    std::array<int, 2> ends{};
    if (text.empty() || !close_on_exec_pipe(ends))
        return false;
    const unique_fd from_monitor(ends[0]);
    unique_fd to_command(ends[1]);

    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, from_monitor.get(), STDIN_FILENO);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, command[0], &actions, nullptr, const_cast<char* const*>(command), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;

    // The monitor keeps the read end open until the command has ended: the
    // writes then never raise SIGPIPE (which would end the monitor with its
    // terminal still raw), and text the command left unread is still in the
    // pipe to be noticed.
    int status = 0;
    bool ended = false;
    const bool fed = feed_command(to_command.get(), pid, text, status, ended);
    to_command.reset();
    while (!ended && ::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    int unread = 0;
    ::ioctl(from_monitor.get(), FIONREAD, &unread);
    return fed && unread == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void copy_to_clipboard_csv(std::uint16_t universe, dmx_levels levels, std::size_t count)
{
    const char* const* command
        = choose_clipboard_command(std::getenv("WAYLAND_DISPLAY"), std::getenv("DISPLAY"), std::getenv("PATH"));
    if (command == nullptr || !pipe_to_command(command, universe, levels, count)) {
        std::fprintf(stderr, "Error: Could not open clipboard\n");
        return;
    }
    std::fprintf(stderr, "Copied %zu channels to clipboard (CSV format)\n", count);
}
