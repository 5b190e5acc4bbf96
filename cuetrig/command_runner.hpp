#pragma once
// cuetrig's command runner: one command's words (expanded in value mode) and
// environment (the transition's variables), started as the core starts every
// child process, and waited for.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The words of one command followed by a null pointer, as execvp takes them,
// or empty when the command is absent. The words are the process's own
// argument strings; only the array belongs to the vector.
using argument_vector = std::vector<char*>;

// Runs the command as a child process (in value mode an expanded copy of it)
// and waits for it. Returns the child's exit status, 128 + the signal for a
// child that a signal ended, or -1 when the expansion failed or memory ran
// out (reported here). A command that cannot be started is reported as
// "execvp: <reason>" and "Command: <first word>", and gives 1. With a
// transition, the child's environment also holds DMX_UNIVERSE, DMX_CHANNEL
// (1-based), DMX_VALUE, DMX_PREVIOUS and DMX_TRANSITION, so that scripts need
// no placeholders; cuetrig's own environment is left alone. The child starts
// with the default action for cuetrig's stop signals, no signal blocked and
// none of cuetrig's descriptors.
int execute_command(const argument_vector& argv, bool value_mode, std::uint16_t universe, std::uint16_t channel_index,
    std::uint8_t value, std::uint8_t previous = 0, const char* transition = nullptr);

// `text` with %C/$C (channel, 1-based), %U/$U (universe) and %V/$V (value),
// either case, replaced by their numbers. The result is at most
// strlen(text) + 255 characters long: an expansion that does not fit is
// copied as its plain characters, as far as room remains. Nothing for a null
// text or when memory ran out.
std::optional<std::string> expand_variables(
    const char* text, std::uint16_t universe, std::uint16_t channel_index, std::uint8_t value);
