#include "settings.hpp"

#include "notices.hpp"
#include "numbers.hpp"

namespace {

// With -U: no minimum delay (the rows of one frame follow each other) and
// no more listed universes than fit.
int check_show_options(const recorder_settings& settings, const char* program)
{
    if (!settings.show_file)
        return -1;
    if (settings.min_delay_given) {
        std::fprintf(stderr, "Error: -m cannot be combined with -U\n");
        usage(program);
        return 1;
    }
    if (settings.listed.too_many) {
        print_too_many_universes();
        return 1;
    }
    return -1;
}

} // namespace

std::span<const std::uint16_t> recorded_universes(const recorder_settings& settings)
{
    if (settings.show_file)
        return listed_universes(settings.listed);
    return std::span(&settings.universe, 1);
}

int read_options(int argc, char* argv[], recorder_settings& settings)
{
    settings.net.sacn = asks_for_sacn(argc, argv, option_letters);
    int option;
    while ((option = next_option(argc, argv, option_letters)) != -1) {
        switch (option) {
        case 'f':
            settings.path = optarg;
            break;
        case 'u':
            if (!check_universe(optarg, settings.universe, settings.net.sacn))
                return 1;
            settings.record_all = false;
            add_universe(settings.listed, settings.universe);
            break;
        case 'p':
        case 'E':
        case 'I':
        case 'N':
            if (!read_network_option(option, optarg, settings.net))
                return 1;
            break;
        case 'm':
            // Not checked: the low 16 bits, so -1 is 65535 and 65536 is no minimum.
            settings.min_delay = static_cast<std::uint16_t>(saturating_atoi(optarg));
            settings.min_delay_given = true;
            break;
        case 'a':
            settings.record_all = true;
            settings.universe = universe_not_given;
            settings.listed = {};
            break;
        case 'U':
            settings.show_file = true;
            break;
        case 'h':
        case help_option:
        case version_option:
            return answer_help_option(option, "framelog", argv[0], usage);
        default:
            usage(argv[0]);
            return 1;
        }
    }
    if (settings.path == nullptr) {
        std::fprintf(stderr, "Error: -f <file.csv> is required\n");
        usage(argv[0]);
        return 1;
    }
    if (!finish_network_options(settings.net))
        return 1;
    return check_show_options(settings, argv[0]);
}

void usage(const char* program, std::FILE* out)
{
    std::fprintf(out,
        "Usage: %s -f <file.csv> [-u universe] [-p port] [-m min_delay_ms]\n"
        "       %s -f <file.csv> [-u universe] [-p port] [-m min_delay_ms] [-a]\n"
        "\n"
        "Record Art-Net sequences to CSV files.\n"
        "\n"
        "CSV Format:\n"
        "  - Each row represents a frame\n"
        "  - First column: delay in milliseconds before playing this frame\n"
        "  - Remaining columns: DMX channel values (1-512 channels)\n"
        "  - Compatible with showrun playback format\n"
        "\n"
        "Options:\n"
        "  -f file.csv    CSV file to write (required; - for standard output)\n"
        "  -u universe    Universe to record (0-%d, default: all); net.subnet.universe\n"
        "                 (0-127.0-15.0-15) names any\n"
        "  -p port        UDP port to listen on (default: 6454)\n"
        "  -m min_delay   Minimum delay between frames in ms (default: 0)\n"
        "  -a             Record all universes (default: record all)\n"
        "  -U             Keep universes apart: rows of delay,universe,levels, a show file;\n"
        "                 -u may be repeated to record a list (up to 256)\n"
        "  -N             Answer ArtPoll as an Art-Net node, so controllers that send only to\n"
        "                 discovered nodes send here\n"
        "  -h             Show this help message\n"
        "  -E             Receive sACN (E1.31) instead of Art-Net: port 5568, universes 1-63999\n"
        "  -I address     Local IPv4 address of the interface that sACN multicast is joined on\n"
        "\n"
        "Recording starts immediately. Press Ctrl+C to stop.\n"
        "\n"
        "Example:\n"
        "  %s -f recording.csv -u 0\n"
        "  Records universe 0 to recording.csv\n"
        "\n"
        "%s",
        program, program, highest_port_address, program, protocol_notice);
}
