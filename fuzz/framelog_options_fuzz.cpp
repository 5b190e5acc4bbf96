// Any command line for framelog, its words split at zero bytes: the options
// either fail or leave settings the recorder can trust: every universe a
// Port-Address (under -E an sACN universe), the list within its room, and -U
// without -m or a list that overflowed.
#include "command_words.hpp"
#include "settings.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    command_words command("framelog", std::span(data, size));

    reset_getopt();
    recorder_settings settings;
    if (read_options(command.argc(), command.argv.data(), settings) != -1)
        return 0;
    const auto listed = listed_universes(settings.listed);
    const bool sacn = settings.net.sacn;
    const auto in_range = [sacn](std::uint16_t u) {
        return sacn ? u >= lowest_e131_universe && u <= highest_e131_universe : u <= highest_port_address;
    };
    if (settings.path == nullptr || !std::ranges::all_of(listed, in_range) || listed.size() > most_listed_universes
        || (!settings.record_all && !in_range(settings.universe))
        || (settings.show_file && (settings.min_delay_given || settings.listed.too_many)))
        std::abort();
    return 0;
}
