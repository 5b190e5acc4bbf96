#include "watch.hpp"

#include <cstdio>
#include <span>

namespace {

// Low is 0..127, high 128..255.
bool is_low_to_high(std::uint8_t old_value, std::uint8_t new_value)
{
    return old_value <= 127 && new_value > 127;
}

bool is_high_to_low(std::uint8_t old_value, std::uint8_t new_value)
{
    return old_value > 127 && new_value <= 127;
}

} // namespace

trigger_plan plan_triggers(const watch_config& config, std::uint8_t old_value, std::uint8_t new_value)
{
    trigger_plan plan;
    const auto add = [&plan](const char* transition, const argument_vector& command, const char* event) {
        plan.steps[plan.count++] = {transition, &command, event};
    };
    const bool has_single = !config.single_command.empty();
    // A rise runs the high command and then the single command under one
    // message; a fall likewise with the low command.
    if (is_low_to_high(old_value, new_value)) {
        const bool has_high = !config.high_command.empty();
        if (has_high)
            add("low->high", config.high_command, "low->high");
        if (config.trigger_high && has_single)
            add(has_high ? nullptr : "low->high", config.single_command, "low->high");
    }
    if (is_high_to_low(old_value, new_value)) {
        const bool has_low = !config.low_command.empty();
        if (has_low)
            add("high->low", config.low_command, "high->low");
        if (config.trigger_low && has_single)
            add(has_low ? nullptr : "high->low", config.single_command, "high->low");
    }
    // Leaving zero is its own transition with its own message, even when a
    // rise from 0 has just run the same command.
    if (config.trigger_nz && old_value == 0 && new_value != 0 && has_single)
        add("0->non-zero", config.single_command, "0->non-zero");
    return plan;
}

void run_triggers(const watch_config& config, std::uint8_t old_value, std::uint8_t new_value)
{
    const trigger_plan plan = plan_triggers(config, old_value, new_value);
    for (const trigger_step& step : std::span(plan.steps).first(plan.count)) {
        if (step.transition != nullptr)
            std::fprintf(stderr, "Trigger (%s): Channel %d value changed from %d to %d\n", step.transition,
                config.channel_index + 1, old_value, new_value);
        execute_command(
            *step.command, config.value_mode, config.universe, config.channel_index, new_value, old_value, step.event);
    }
}
