#include "clipboard.hpp"

#include "child_process.hpp"
#include "clock.hpp"
#include "signals.hpp"
#include "udp.hpp"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

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

// Writes what the pipe takes now; closes it once the whole text is in, so
// the command sees the end of its input.
void feed_command(clipboard_export& job)
{
    while (job.to_command && job.written < job.length) {
        const ssize_t written = ::write(job.to_command.get(), job.text.data() + job.written, job.length - job.written);
        if (written > 0) {
            job.written += static_cast<std::size_t>(written);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return;
        } else if (errno != EINTR) {
            job.feed_failed = true;
            break;
        }
    }
    job.to_command.reset();
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

namespace {

// Starts `command` and begins to feed it the CSV text. False, with nothing
// left running, when the command could not be started.
bool start_export(clipboard_export& job, const char* const* command, std::uint16_t universe, dmx_levels levels,
    std::size_t count, std::int64_t now)
{
    const std::string_view text = render_csv(job.text, universe, levels, count);
    if (text.empty() || !open_pipe(job.from_monitor, job.to_command))
        return false;
    child_start start;
    start.command = const_cast<char* const*>(command);
    start.input = job.from_monitor.get();
    pid_t pid = -1;
    if (start_child(start, pid) != 0) {
        job.to_command.reset();
        job.from_monitor.reset();
        return false;
    }
    job.pid = pid;
    job.length = text.size();
    job.written = 0;
    job.feed_failed = false;
    job.count = count;
    job.deadline = now + export_time_limit_ns;
    set_nonblocking(job.to_command.get());
    feed_command(job);
    return true;
}

} // namespace

export_state continue_export(clipboard_export& job, std::int64_t now)
{
    if (job.pid < 0)
        return export_state::failed;
    feed_command(job);
    const int status = check_child(job.pid);
    if (status == child_running && now < job.deadline)
        return export_state::under_way;
    if (status == child_running)
        end_child(job.pid);
    job.pid = -1;
    job.to_command.reset();
    int unread = 0;
    ::ioctl(job.from_monitor.get(), FIONREAD, &unread);
    job.from_monitor.reset();
    const bool read_all = !job.feed_failed && job.written == job.length && unread == 0;
    return status == 0 && read_all ? export_state::succeeded : export_state::failed;
}

void cancel_export(clipboard_export& job)
{
    if (job.pid < 0)
        return;
    end_child(job.pid);
    job.pid = -1;
    job.to_command.reset();
    job.from_monitor.reset();
}

int export_wait_ms(const clipboard_export& job, std::int64_t now)
{
    if (job.pid < 0)
        return no_timeout;
    return ms_until(job.deadline, now);
}

void copy_to_clipboard_csv(clipboard_export& job, std::uint16_t universe, dmx_levels levels, std::size_t count)
{
    const char* const* command
        = choose_clipboard_command(std::getenv("WAYLAND_DISPLAY"), std::getenv("DISPLAY"), std::getenv("PATH"));
    if (command == nullptr || !start_export(job, command, universe, levels, count, monotonic_ns()))
        std::fprintf(stderr, "Error: Could not open clipboard\n");
}

void report_export(const clipboard_export& job, export_state state)
{
    if (state == export_state::succeeded)
        std::fprintf(stderr, "Copied %zu channels to clipboard (CSV format)\n", job.count);
    else if (state == export_state::failed)
        std::fprintf(stderr, "Error: Could not open clipboard\n");
}
