#include "watch.hpp"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <span>
#include <string_view>

#include <sys/wait.h>
#include <unistd.h>

bool is_low_to_high(std::uint8_t old_value, std::uint8_t new_value)
{
    return old_value <= 127 && new_value > 127;
}

bool is_high_to_low(std::uint8_t old_value, std::uint8_t new_value)
{
    return old_value > 127 && new_value <= 127;
}

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

namespace {

// In the child, between fork and exec: the variables join the inherited
// environment there and nowhere else.
void export_event(std::uint16_t universe, std::uint16_t channel_index, std::uint8_t value, std::uint8_t previous,
    const char* transition)
{
    std::array<char, 16> number{};
    const auto put = [&](const char* name, int n) {
        std::snprintf(number.data(), number.size(), "%d", n);
        ::setenv(name, number.data(), 1);
    };
    put("DMX_UNIVERSE", universe);
    put("DMX_CHANNEL", channel_index + 1);
    put("DMX_VALUE", value);
    put("DMX_PREVIOUS", previous);
    ::setenv("DMX_TRANSITION", transition, 1);
}

} // namespace

int execute_command(const argument_vector& argv, bool value_mode, std::uint16_t universe, std::uint16_t channel_index,
    std::uint8_t value, std::uint8_t previous, const char* transition)
{
    if (argv.size() < 2) // no words: nothing to run
        return -1;
    // The expanded copy lives until the child has been waited for; the child
    // gets its own copy of it with fork.
    std::vector<std::string> words;
    argument_vector expanded;
    if (value_mode
        && !expand_command_variables(argv.data(), argv.size() - 1, universe, channel_index, value, words, expanded)) {
        std::fprintf(stderr, "Error: Failed to expand variables\n");
        return -1;
    }
    char* const* command = value_mode ? expanded.data() : argv.data();

    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("fork");
        return -1;
    }
    if (child == 0) {
        if (transition != nullptr)
            export_event(universe, channel_index, value, previous, transition);
        ::execvp(command[0], command);
        std::perror("execvp");
        // _exit, not exit: exit would flush the stdio buffers copied from the
        // parent and run its atexit handlers a second time.
        ::_exit(1);
    }
    // A stop signal must not leave the command running unwaited-for: the
    // loop ends only once it is over.
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WEXITSTATUS(status);
}

bool expand_command_variables(char* const argv[], std::size_t count, std::uint16_t universe,
    std::uint16_t channel_index, std::uint8_t value, std::vector<std::string>& words, argument_vector& expanded)
{
    if (argv == nullptr || count == 0)
        return false;
    words.clear();
    expanded.clear();
    try {
        words.reserve(count);
        for (const char* word : std::span(argv, count)) {
            std::optional<std::string> copy = expand_variables(word, universe, channel_index, value);
            if (!copy)
                return false;
            words.push_back(std::move(*copy));
        }
        // Pointers are taken only once `words` no longer grows.
        expanded.reserve(count + 1);
        for (std::string& word : words)
            expanded.push_back(word.data());
        expanded.push_back(nullptr);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

namespace {

// The number a placeholder letter stands for, or -1 for any other letter.
int placeholder_number(char letter, std::uint16_t universe, std::uint16_t channel_index, std::uint8_t value)
{
    switch (letter) {
    case 'C':
    case 'c':
        return channel_index + 1;
    case 'U':
    case 'u':
        return universe;
    case 'V':
    case 'v':
        return value;
    default:
        return -1;
    }
}

} // namespace

std::optional<std::string> expand_variables(
    const char* text, std::uint16_t universe, std::uint16_t channel_index, std::uint8_t value)
{
    if (text == nullptr)
        return std::nullopt;
    const std::string_view input(text);
    // The room is fixed up front, counting a C string's terminator, so a word
    // of many placeholders is cut short rather than grown without bound.
    const std::size_t capacity = input.size() + 256;
    std::string output;
    try {
        output.reserve(capacity);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < input.size();) {
        const char c = input[i];
        // There is no escape: in "%%V" the first "%" is plain and the second
        // starts the placeholder.
        if ((c == '%' || c == '$') && i + 1 < input.size()) {
            const int number = placeholder_number(input[i + 1], universe, channel_index, value);
            std::array<char, 32> scratch{};
            const auto [end, error] = std::to_chars(scratch.begin(), scratch.end(), number);
            const auto length = static_cast<std::size_t>(end - scratch.begin());
            if (number >= 0 && error == std::errc() && output.size() + length < capacity) {
                output.append(scratch.data(), length);
                i += 2;
                continue;
            }
        }
        if (output.size() + 1 < capacity)
            output.push_back(c);
        ++i;
    }
    return output;
}
