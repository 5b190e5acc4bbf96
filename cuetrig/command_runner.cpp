#include "command_runner.hpp"

#include "child_process.hpp"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <new>
#include <span>
#include <string_view>

#include <unistd.h>

// glibc declares it in unistd.h; other systems leave it to the program.
#if !defined(__GLIBC__)
extern char** environ;
#endif

namespace {

// The transition's variables, in the order they join the environment.
constexpr std::array<std::string_view, 5> event_names
    = {"DMX_UNIVERSE", "DMX_CHANNEL", "DMX_VALUE", "DMX_PREVIOUS", "DMX_TRANSITION"};

// A command's environment: the inherited one without the variables of the
// transition's names, then the transition's own. `entries` ends with a null
// pointer and points into environ and into `variables`, which holds the new
// entries one after another, each with its terminator.
struct command_environment {
    std::string variables;
    std::vector<char*> entries;
};

bool is_event_variable(std::string_view entry)
{
    for (const std::string_view name : event_names)
        if (entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=')
            return true;
    return false;
}

// Built in the parent before the start, so that the child only executes.
// Throws std::bad_alloc when memory runs out.
void build_environment(command_environment& environment, std::uint16_t universe, std::uint16_t channel_index,
    std::uint8_t value, std::uint8_t previous, const char* transition)
{
    std::size_t count = 0;
    while (environ != nullptr && environ[count] != nullptr)
        ++count;
    environment.entries.reserve(count + event_names.size() + 1);
    for (char* const entry : std::span(environ, count))
        if (transition == nullptr || !is_event_variable(entry))
            environment.entries.push_back(entry);
    if (transition != nullptr) {
        const std::array<std::string, event_names.size()> values = {std::to_string(universe),
            std::to_string(channel_index + 1), std::to_string(value), std::to_string(previous), transition};
        std::string& text = environment.variables;
        for (std::size_t i = 0; i < event_names.size(); ++i)
            text.append(event_names[i]).append("=").append(values[i]).push_back('\0');
        // Pointers are taken only once the text no longer grows.
        for (std::size_t at = 0; at < text.size(); at = text.find('\0', at) + 1)
            environment.entries.push_back(text.data() + at);
    }
    environment.entries.push_back(nullptr);
}

// Under the name of the call that started commands before posix_spawnp, so
// that the message reads as it always did; then the command's first word as
// configured.
void report_start_failure(int error, const char* name)
{
    errno = error;
    std::perror("execvp");
    std::fprintf(stderr, "Command: %s\n", name);
}

// Fills `words` with the expanded copies of the first `count` words of
// `argv`, and `expanded` with pointers to them and a null pointer, as execvp
// takes them. False when argv is null, count is 0, or memory ran out.
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

} // namespace

int execute_command(const argument_vector& argv, bool value_mode, std::uint16_t universe, std::uint16_t channel_index,
    std::uint8_t value, std::uint8_t previous, const char* transition)
{
    if (argv.size() < 2) // no words: nothing to run
        return -1;
    // The expanded copy and the environment live until the command has
    // started with its own copies of them.
    std::vector<std::string> words;
    argument_vector expanded;
    if (value_mode
        && !expand_command_variables(argv.data(), argv.size() - 1, universe, channel_index, value, words, expanded)) {
        std::fprintf(stderr, "Error: Failed to expand variables\n");
        return -1;
    }
    char* const* command = value_mode ? expanded.data() : argv.data();
    command_environment environment;
    try {
        build_environment(environment, universe, channel_index, value, previous, transition);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "Error: Memory allocation failed\n");
        return -1;
    }
    // A stop signal must not leave the command running unwaited-for: the
    // loop ends only once it is over.
    child_start start;
    start.command = command;
    start.environment = environment.entries.data();
    start.scripts = true;
    pid_t child = -1;
    if (const int error = start_child(start, child); error != 0) {
        report_start_failure(error, argv[0]);
        return 1;
    }
    return wait_for_child(child);
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
