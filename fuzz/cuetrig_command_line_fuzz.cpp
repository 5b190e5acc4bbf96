// Any argument list (the input split at NUL bytes): the command-line model
// returns a status instead of ending the process, leaves the list as it was,
// and an accepted list yields a universe in range (sACN's under -E) and
// commands made of the list's own words.
#include "command_line.hpp"
#include "command_words.hpp"

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
    command_words command("cuetrig", std::span(data, size), 64);
    const std::vector<char*> typed = command.argv;

    cuetrig_settings settings;
    const watch_config& config = settings.watch;
    const int status = read_command_line(command.argc(), command.argv.data(), settings);
    if (status < -1 || status > 1 || command.argv != typed)
        std::abort();
    if (status == -1) {
        const bool none = config.high_command.empty() && config.low_command.empty() && config.single_command.empty();
        const bool universe_ok = settings.net.sacn
            ? config.universe >= lowest_e131_universe && config.universe <= highest_e131_universe
            : config.universe <= highest_port_address;
        if (none || !universe_ok || config.channel_index > 511 || !points_into(config.high_command, command.argv)
            || !points_into(config.low_command, command.argv) || !points_into(config.single_command, command.argv))
            std::abort();
    }
    return 0;
}
