#pragma once
// cuetrig's working half: what it watches, which level changes are
// transitions and which commands a transition runs. The command line only
// fills in the watch_config.

#include "artdmx.hpp"
#include "command_runner.hpp"
#include "options.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

// The watched channel and the commands with the transitions that run them.
struct watch_config {
    std::uint16_t universe = universe_not_given;
    std::uint16_t channel_index = channels_per_universe; // 0-based; 512: none yet
    bool trigger_high = false;                           // the single command runs on a rise,
    bool trigger_low = false;                            // on a fall,
    bool trigger_nz = false;                             // on leaving zero
    bool value_mode = false;                             // placeholders in the words are replaced
    argument_vector high_command;
    argument_vector low_command;
    argument_vector single_command;
};

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
