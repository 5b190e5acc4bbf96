// Any command line for showrun, its words split at zero bytes: the options
// that take numbers (-u, -p, -l, -s, -k) either fail or leave their setting
// within its range, the range of sACN under -E.
#include "command_words.hpp"
#include "settings.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    command_words command("showrun", std::span(data, size));

    reset_getopt();
    player_settings settings;
    if (read_options(command.argc(), command.argv.data(), settings) != -1)
        return 0;
    const bool sacn = settings.net.sacn;
    const int longest = sacn ? longest_sacn_keep_alive_ms : longest_keep_alive_ms;
    const bool keep_alive_ok = settings.keep_alive_ms == 0
        || (settings.keep_alive_ms >= shortest_keep_alive_ms && settings.keep_alive_ms <= longest);
    const bool universe_ok = sacn
        ? settings.universe >= lowest_e131_universe && settings.universe <= highest_e131_universe
        : settings.universe <= highest_port_address;
    if (settings.passes < 0 || settings.speed < slowest_speed || settings.speed > fastest_speed || !keep_alive_ok
        || !universe_ok || settings.net.port < 1 || settings.net.port > 65535)
        std::abort();
    return 0;
}
