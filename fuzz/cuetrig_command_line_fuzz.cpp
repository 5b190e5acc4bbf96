// Any argument list (the input split at NUL bytes): the command-line model
// returns a status instead of ending the process, leaves the list as it was,
// and an accepted list yields commands made of the list's own words.
#include "command_line.hpp"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Every word of `command` is a word of `argv`, and a null pointer ends it.
bool points_into(const argument_vector& command, const std::vector<char*>& argv)
{
    if (command.empty())
        return true;
    if (command.back() != nullptr)
        return false;
    for (std::size_t i = 0; i + 1 < command.size(); ++i) {
        bool found = false;
        for (std::size_t j = 1; j + 1 < argv.size(); ++j)
            found = found || command[i] == argv[j];
        if (!found)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> words = {"cuetrig"};
    std::string word;
    for (std::size_t i = 0; i < size && words.size() < 64; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word.push_back(static_cast<char>(data[i]));
        }
    }
    if (!word.empty() && words.size() < 64)
        words.push_back(word);
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const std::vector<char*> typed = argv;

    cuetrig_settings settings;
    const watch_config& config = settings.watch;
    const int status = read_command_line(static_cast<int>(words.size()), argv.data(), settings);
    if (status < -1 || status > 1 || argv != typed)
        std::abort();
    if (status == -1) {
        const bool none = config.high_command.empty() && config.low_command.empty() && config.single_command.empty();
        if (none || config.universe > highest_port_address || config.channel_index > 511
            || !points_into(config.high_command, argv) || !points_into(config.low_command, argv)
            || !points_into(config.single_command, argv))
            std::abort();
    }
    return 0;
}
