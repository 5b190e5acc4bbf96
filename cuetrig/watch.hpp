#pragma once
// cuetrig's working half: what it watches, which level changes are
// transitions, which commands a transition runs, and running them. The
// command line only fills in the watch_config.

#include "artdmx.hpp"
#include "runtime.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The words of one command followed by a null pointer, as execvp takes them,
// or empty when the command is absent. The words are the process's own
// argument strings; only the array belongs to the vector.
using argument_vector = std::vector<char*>;

// The watched channel and the commands with the transitions that run them.
struct watch_config {
    std::uint16_t universe = no_universe;                // 256: none yet
    std::uint16_t channel_index = channels_per_universe; // 0-based; 512: none yet
    bool trigger_high = false;                           // the single command runs on a rise,
    bool trigger_low = false;                            // on a fall,
    bool trigger_nz = false;                             // on leaving zero
    bool value_mode = false;                             // placeholders in the words are replaced
    argument_vector high_command;
    argument_vector low_command;
    argument_vector single_command;
};

// Low is 0..127, high 128..255.
bool is_low_to_high(std::uint8_t old_value, std::uint8_t new_value);
bool is_high_to_low(std::uint8_t old_value, std::uint8_t new_value);

// One command that a transition runs, and the transition's name for the
// message printed before it ("low->high", "high->low", "0->non-zero"), or
// null where the high or low command has already printed that message.
struct trigger_step {
    const char* transition = nullptr;
    const argument_vector* command = nullptr;
    const char* event = nullptr; // the transition's name, message or not
};

// At most three steps: the high (or low) command, the single command for
// the same transition, and the single command again for leaving zero.
struct trigger_plan {
    std::array<trigger_step, 3> steps{};
    std::size_t count = 0;
};

// The commands that a change of the watched level from old to new runs, in
// the order they run.
trigger_plan plan_triggers(const watch_config& config, std::uint8_t old_value, std::uint8_t new_value);

// Prints each step's message and runs its command, each run ending before
// the next starts.
void run_triggers(const watch_config& config, std::uint8_t old_value, std::uint8_t new_value);

// Runs the command as a child process (in value mode an expanded copy of it)
// and waits for it. Returns the child's exit status, or -1 when the expansion
// failed or no child could be made (both reported here). With a transition,
// the child's environment also holds DMX_UNIVERSE, DMX_CHANNEL (1-based),
// DMX_VALUE, DMX_PREVIOUS and DMX_TRANSITION, so that scripts need no
// placeholders; cuetrig's own environment is left alone.
int execute_command(const argument_vector& argv, bool value_mode, std::uint16_t universe, std::uint16_t channel_index,
    std::uint8_t value, std::uint8_t previous = 0, const char* transition = nullptr);

// Fills `words` with the expanded copies of the first `count` words of
// `argv`, and `expanded` with pointers to them and a null pointer, as execvp
// takes them. False when argv is null, count is 0, or memory ran out.
bool expand_command_variables(char* const argv[], std::size_t count, std::uint16_t universe,
    std::uint16_t channel_index, std::uint8_t value, std::vector<std::string>& words, argument_vector& expanded);

// `text` with %C/$C (channel, 1-based), %U/$U (universe) and %V/$V (value),
// either case, replaced by their numbers. The result is at most
// strlen(text) + 255 characters long: an expansion that does not fit is
// copied as its plain characters, as far as room remains. Nothing for a null
// text or when memory ran out.
std::optional<std::string> expand_variables(
    const char* text, std::uint16_t universe, std::uint16_t channel_index, std::uint8_t value);
