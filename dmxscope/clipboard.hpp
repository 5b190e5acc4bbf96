#pragma once
// The clipboard export: the CSV text piped into the platform's clipboard
// command.

#include "render.hpp"

#include <cstddef>
#include <cstdint>

// The argument vector (null-terminated) of the clipboard command that fits
// the session and is found on `path`, or nullptr. pbcopy on macOS; elsewhere
// wl-copy under Wayland, then xclip or xsel under X. An empty variable counts
// as unset: it names no display.
const char* const* choose_clipboard_command(const char* wayland_display, const char* display, const char* path);

// Runs the command with the CSV text on its standard input. True only when
// the command read the whole text and exited with status 0.
bool pipe_to_command(const char* const* command, std::uint16_t universe, dmx_levels levels, std::size_t count);

// Chooses the command, exports and reports either
// "Copied %zu channels to clipboard (CSV format)" or the error on standard
// error.
void copy_to_clipboard_csv(std::uint16_t universe, dmx_levels levels, std::size_t count);
