#include "command_line.hpp"

#include "notices.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

namespace {

constexpr const char* option_letters = POSIX_OPTIONS("t:u:c:p:vhNEI:");

// Where the marker words stand: the last "--high" and the last "--low"
// anywhere in the list (an earlier one is an ordinary word); 0 for none.
struct marker_positions {
    int high_at = 0;
    int low_at = 0;
};

marker_positions find_markers(int argc, char* argv[])
{
    marker_positions at;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--high")
            at.high_at = i;
        else if (std::string_view(argv[i]) == "--low")
            at.low_at = i;
    }
    return at;
}

// Words argv[first..last) and a null pointer; empty (absent) without words.
argument_vector cut_command(char* argv[], int first, int last)
{
    argument_vector command;
    if (first < last) {
        command.assign(argv + first, argv + last);
        command.push_back(nullptr);
    }
    return command;
}

// Acts on one option as getopt hands it over. Returns -1 to go on, otherwise
// the exit status.
int take_option(int option, const char* program, cuetrig_settings& settings)
{
    watch_config& watch = settings.watch;
    switch (option) {
    case 't':
        if (std::strcmp(optarg, "high") == 0) {
            watch.trigger_high = true;
        } else if (std::strcmp(optarg, "low") == 0) {
            watch.trigger_low = true;
        } else if (std::strcmp(optarg, "nz") == 0) {
            watch.trigger_nz = true;
        } else {
            std::fprintf(stderr, "Invalid trigger type: %s (must be 'high', 'low', or 'nz')\n", optarg);
            return 1;
        }
        return -1;
    case 'u':
        return check_universe(optarg, watch.universe, settings.net.sacn) ? -1 : 1;
    case 'c': {
        std::uint16_t channel = 0;
        if (!check_channel(optarg, channel))
            return 1;
        watch.channel_index = channel - 1;
        return -1;
    }
    case 'p':
    case 'E':
    case 'I':
    case 'N':
        return read_network_option(option, optarg, settings.net) ? -1 : 1;
    case 'v':
        watch.value_mode = true;
        return -1;
    case 'h':
    case help_option:
    case version_option:
        return answer_help_option(option, "cuetrig", program, usage);
    default: // getopt has printed its own diagnostic
        usage(program);
        return 1;
    }
}

// Reads the options, which end at the first word that is neither an option
// nor an option's argument, or at a "--" (which belongs to none). Returns -1
// to go on, otherwise the exit status; `end` is where the options ended.
int read_options(int argc, char* argv[], const marker_positions& at, cuetrig_settings& settings, int& end)
{
    settings.net.sacn = asks_for_sacn(argc, argv, option_letters);
    reset_getopt();
    for (;;) {
        // getopt would read a marker as a group of option letters: the
        // options end there. A marker that an option takes as its argument
        // is that option's text, and the options go on after it.
        end = std::max(optind, 1);
        if (end == at.high_at || end == at.low_at)
            return -1;
        const int option = next_option(argc, argv, option_letters);
        if (option == -1)
            return -1;
        if (const int status = take_option(option, argv[0], settings); status >= 0)
            return status;
    }
}

int read_words(int argc, char* argv[], cuetrig_settings& settings)
{
    const char* program = argc > 0 ? argv[0] : "cuetrig"; // started without even a name: one for the messages
    const marker_positions at = find_markers(argc, argv);
    int end = 1;
    if (const int status = read_options(argc, argv, at, settings, end); status >= 0)
        return status;
    watch_config& watch = settings.watch;
    if (watch.universe == universe_not_given || watch.channel_index == channels_per_universe) {
        std::fprintf(stderr, "Error: Both -u and -c must be specified\n");
        usage(program);
        return 1;
    }
    if (!finish_network_options(settings.net))
        return 1;

    // The separator is the first "--" where the options ended (the one that
    // ended them) or after; every later one is an ordinary word.
    int separator = 0;
    for (int i = end; separator == 0 && i < argc; ++i)
        if (std::string_view(argv[i]) == "--")
            separator = i;

    if (at.high_at > 0)
        watch.high_command = cut_command(argv, at.high_at + 1, at.low_at > at.high_at ? at.low_at : argc);
    if (at.low_at > 0)
        watch.low_command = cut_command(argv, at.low_at + 1, at.high_at > at.low_at ? at.high_at : argc);
    const bool any_trigger = watch.trigger_high || watch.trigger_low || watch.trigger_nz;
    if (any_trigger && separator > 0)
        watch.single_command = cut_command(argv, separator + 1, argc);
    else if (any_trigger && at.high_at == 0 && at.low_at == 0)
        watch.single_command = cut_command(argv, end, argc);

    if (watch.high_command.empty() && watch.low_command.empty() && watch.single_command.empty()) {
        if (any_trigger)
            std::fprintf(stderr, "Error: -t specified but no command provided\n");
        else
            std::fprintf(stderr, "Error: No command specified. Use -t with a command, or --high/--low\n");
        usage(program);
        return 1;
    }
    return -1;
}

} // namespace

int read_command_line(int argc, char* argv[], cuetrig_settings& settings)
{
    try {
        return read_words(argc, argv, settings);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "Error: Memory allocation failed\n");
        return 1;
    }
}

void usage(const char* program, std::FILE* out)
{
    std::fprintf(out,
        "Usage: %s -u <universe> -c <channel> [-p port] [OPTIONS] [--] <command> [args...]\n"
        "\n"
        "Required:\n"
        "  -u universe   Universe to monitor (0-%d, or net.subnet.universe: 0-127.0-15.0-15)\n"
        "  -c channel    Channel to monitor (1-%d)\n"
        "\n"
        "Options:\n"
        "  -p port       UDP port to listen on (default: 6454)\n"
        "  -t type       Trigger type: 'high' (low->high), 'low' (high->low), 'nz' (0->non-zero)\n"
        "  -v            Value mode: expand variables in command arguments\n"
        "  -N            Answer ArtPoll as an Art-Net node, so controllers that send only\n"
        "                to discovered nodes send here\n"
        "  -E            Receive sACN (E1.31) instead of Art-Net: port 5568, universes 1-63999\n"
        "  -I address    Local IPv4 address of the interface that sACN multicast is joined on\n"
        "  --high        Command to run when value goes from low (<=127) to high (>127)\n"
        "  --low         Command to run when value goes from high (>127) to low (<=127)\n"
        "  --            Separator before command (optional)\n"
        "\n"
        "Variable Formatting (-v mode):\n"
        "  %%C or $C     Channel number (1-based)\n"
        "  %%U or $U     Universe number\n"
        "  %%V or $V     Current DMX value\n"
        "\n"
        "Modes:\n"
        "  1. Single command mode: Use -t with a command\n"
        "     %s -u 1 -c 1 -t high -- echo \"triggered\"\n"
        "\n"
        "  2. Dual command mode: Use --high and/or --low\n"
        "     %s -u 1 -c 1 --high echo \"high\" --low echo \"low\"\n"
        "\n"
        "  3. Combined mode: Use -t with --high/--low (both will trigger)\n"
        "     %s -u 1 -c 1 -t high -- sh -c 'echo via -t' --high echo 'via --high'\n"
        "\n"
        "  4. Value mode: Use -v to expand variables in commands\n"
        "     %s -u 1 -c 1 -t high -v echo \"channel %%C is %%V\"\n"
        "     %s -u 2 -c 1 -v --high echo 'Value: $V' --low echo 'Value: $V'\n"
        "\n"
        "Commands run every time the transition occurs.\n"
        "\n"
        "%s",
        program, highest_port_address, static_cast<int>(channels_per_universe), program, program, program, program,
        program, protocol_notice);
}

void print_report(const cuetrig_settings& settings, const dmx_receiver& receiver)
{
    const watch_config& config = settings.watch;
    const artnet_node& node = receiver.node;
    std::fprintf(stderr, "Monitoring Universe %d, Channel %d\n", config.universe, config.channel_index + 1);
    if (settings.net.sacn)
        print_sacn_line(stderr, receiver, settings.net);
    if (node.enabled) {
        print_node_line(stderr, node);
        print_unannounced_line(stderr, node);
    }
    if (!config.high_command.empty())
        std::fprintf(stderr, "High command: %s\n", config.high_command[0]);
    if (!config.low_command.empty())
        std::fprintf(stderr, "Low command: %s\n", config.low_command[0]);
    if (!config.single_command.empty()) {
        std::fprintf(stderr, "Single command: %s", config.single_command[0]);
        if (config.trigger_high)
            std::fprintf(stderr, " (trigger: high)");
        if (config.trigger_low)
            std::fprintf(stderr, " (trigger: low)");
        if (config.trigger_nz)
            std::fprintf(stderr, " (trigger: nz)");
        std::fprintf(stderr, "\n");
    }
    std::fprintf(stderr, "Press Ctrl+C to exit\n");
    print_maker_line(stderr);
}
