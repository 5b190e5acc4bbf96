#include "command_line.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

namespace {

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

// Acts on each option as getopt meets it. Returns -1 to go on, otherwise the
// exit status; `ended_at_separator` tells whether getopt consumed a "--".
int read_options(int argc, char* args[], cuetrig_settings& settings, bool& ended_at_separator)
{
    watch_config& config = settings.watch;
    reset_getopt();
    int word = 1; // where the call that ends the scan started
    for (;;) {
        word = std::max(optind, 1);
        const int option = next_option(argc, args, POSIX_OPTIONS("t:u:c:p:vhN"));
        if (option == -1)
            break;
        switch (option) {
        case 't':
            if (std::strcmp(optarg, "high") == 0) {
                config.trigger_high = true;
            } else if (std::strcmp(optarg, "low") == 0) {
                config.trigger_low = true;
            } else if (std::strcmp(optarg, "nz") == 0) {
                config.trigger_nz = true;
            } else {
                std::fprintf(stderr, "Invalid trigger type: %s (must be 'high', 'low', or 'nz')\n", optarg);
                return 1;
            }
            break;
        case 'u':
            if (!check_universe(optarg, config.universe))
                return 1;
            break;
        case 'c': {
            std::uint16_t channel = 0;
            if (!check_channel(optarg, channel))
                return 1;
            config.channel_index = channel - 1;
            break;
        }
        case 'p':
            if (!check_port(optarg, settings.port))
                return 1;
            break;
        case 'v':
            config.value_mode = true;
            break;
        case 'N':
            settings.answer_polls = true;
            break;
        case 'h':
            usage(args[0]);
            return 0;
        case help_option:
        case version_option:
            return answer_long_option(option, "cuetrig", args[0], usage);
        default: // getopt has printed its own diagnostic
            usage(args[0]);
            return 1;
        }
    }
    // getopt steps over a "--" that ends the options; a word it stops at
    // stays where it is.
    ended_at_separator = word < argc && optind == word + 1 && std::strcmp(args[word], "--") == 0;
    return -1;
}

int read_words(int argc, char* argv[], cuetrig_settings& settings)
{
    watch_config& config = settings.watch;
    // The last "--high" and the last "--low" anywhere in the list are the
    // markers; an earlier one is an ordinary word.
    int high_at = 0;
    int low_at = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--high")
            high_at = i;
        else if (std::string_view(argv[i]) == "--low")
            low_at = i;
    }

    // getopt reads a copy in which the markers are words that do not begin
    // with "-", so that it stops at the first marker it meets, and an option
    // that takes a marker as its argument gets the placeholder's text.
    std::string high_placeholder = "__HIGH__";
    std::string low_placeholder = "__LOW__";
    std::vector<char*> scan(argv, argv + argc);
    scan.push_back(nullptr);
    if (high_at > 0)
        scan[high_at] = high_placeholder.data();
    if (low_at > 0)
        scan[low_at] = low_placeholder.data();
    std::string fallback_name = "cuetrig";
    if (argc == 0) // started without even a name: one for the messages
        scan.insert(scan.begin(), fallback_name.data());

    bool ended_at_separator = false;
    if (const int status = read_options(argc, scan.data(), settings, ended_at_separator); status >= 0)
        return status;
    if (config.universe == no_universe || config.channel_index == channels_per_universe) {
        std::fprintf(stderr, "Error: Both -u and -c must be specified\n");
        usage(scan[0]);
        return 1;
    }

    // The commands come from the list as typed, so a marker inside a command
    // is the real word again.
    const int unparsed = optind;
    int separator = ended_at_separator ? unparsed - 1 : 0;
    for (int i = unparsed; separator == 0 && i < argc; ++i)
        if (std::string_view(argv[i]) == "--")
            separator = i;

    if (high_at > 0)
        config.high_command = cut_command(argv, high_at + 1, low_at > high_at ? low_at : argc);
    if (low_at > 0)
        config.low_command = cut_command(argv, low_at + 1, high_at > low_at ? high_at : argc);
    const bool any_trigger = config.trigger_high || config.trigger_low || config.trigger_nz;
    if (any_trigger && separator > 0)
        config.single_command = cut_command(argv, separator + 1, argc);
    else if (any_trigger && high_at == 0 && low_at == 0)
        config.single_command = cut_command(argv, unparsed, argc);

    if (config.high_command.empty() && config.low_command.empty() && config.single_command.empty()) {
        if (any_trigger)
            std::fprintf(stderr, "Error: -t specified but no command provided\n");
        else
            std::fprintf(stderr, "Error: No command specified. Use -t with a command, or --high/--low\n");
        usage(scan[0]);
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
        "  -u universe   Universe to monitor (0-%d)\n"
        "  -c channel    Channel to monitor (1-%d)\n"
        "\n"
        "Options:\n"
        "  -p port       UDP port to listen on (default: 6454)\n"
        "  -t type       Trigger type: 'high' (low->high), 'low' (high->low), 'nz' (0->non-zero)\n"
        "  -v            Value mode: expand variables in command arguments\n"
        "  -N            Answer ArtPoll as an Art-Net node, so controllers that send only\n"
        "                to discovered nodes send here\n"
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
        "     %s -u 1 -c 1 -t high -- echo \"via -t\" --high echo \"via --high\"\n"
        "\n"
        "  4. Value mode: Use -v to expand variables in commands\n"
        "     %s -u 1 -c 1 -v say \"channel %%C is %%V\"\n"
        "     %s -u 2 -c 1 -v --high echo \"Value: $V\" --low echo \"Value: $V\"\n"
        "\n"
        "Commands run every time the transition occurs.\n"
        "\n"
        "%s",
        program, highest_universe, static_cast<int>(channels_per_universe), program, program, program, program, program,
        protocol_notice);
}

void print_report(const cuetrig_settings& settings, const artnet_node& node)
{
    const watch_config& config = settings.watch;
    std::fprintf(stderr, "Monitoring Universe %d, Channel %d\n", config.universe, config.channel_index + 1);
    if (node.enabled)
        print_node_line(stderr, node);
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
