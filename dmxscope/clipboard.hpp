#pragma once
// The clipboard export: the CSV text piped into the platform's clipboard
// command, while the monitor goes on receiving, drawing and reading keys.

#include "descriptors.hpp"
#include "render.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

#include <sys/types.h>

// The argument vector (null-terminated) of the clipboard command that fits
// the session and is found on `path`, or nullptr. pbcopy on macOS; elsewhere
// wl-copy under Wayland, then xclip or xsel under X. An empty variable counts
// as unset: it names no display.
const char* const* choose_clipboard_command(const char* wayland_display, const char* display, const char* path);

// "Universe,Channel,Value\n" and 512 lines of at most "65535,512,255\n".
constexpr std::size_t csv_text_capacity = 8192;
// How long a clipboard command may take before it is ended and the export
// counts as failed.
constexpr std::int64_t export_time_limit_ns = 3'000'000'000;

// An export under way: the command, the pipe into it and the text still to
// write. The loop waits for `to_command` to take more (while it is open), for
// SIGCHLD or for the deadline, and then calls continue_export.
struct clipboard_export {
    pid_t pid = -1; // -1 when no export runs
    unique_fd to_command;
    // The read end stays open here until the command has ended: writes then
    // never raise SIGPIPE, and text the command left unread can be seen.
    unique_fd from_monitor;
    std::array<char, csv_text_capacity> text{};
    std::size_t length = 0;
    std::size_t written = 0;
    bool feed_failed = false;
    std::size_t count = 0; // channels, for the message
    std::int64_t deadline = 0;
};

enum class export_state { under_way, succeeded, failed };

// Writes what the pipe takes and reaps the command once it has ended:
// succeeded only when it read the whole text and exited with status 0. A
// command still running at the deadline is ended and the export failed.
export_state continue_export(clipboard_export& job, std::int64_t now);
// Ends a running command at once (SIGTERM, then SIGKILL) and reaps it.
void cancel_export(clipboard_export& job);
// The wait's timeout for a running export, in milliseconds.
int export_wait_ms(const clipboard_export& job, std::int64_t now);

// Starts an export with the command that fits the session, or reports
// "Error: Could not open clipboard" on standard error when none can start.
void copy_to_clipboard_csv(clipboard_export& job, std::uint16_t universe, dmx_levels levels, std::size_t count);
// Reports the end of an export: "Copied %zu channels to clipboard (CSV
// format)" or the error, on standard error.
void report_export(const clipboard_export& job, export_state state);
