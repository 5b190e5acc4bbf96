#include "settings.hpp"

#include "notices.hpp"
#include "numbers.hpp"

#include <cstdio>
#include <unistd.h>

int read_options(int argc, char* argv[], player_settings& settings)
{
    settings.net.sacn = asks_for_sacn(argc, argv, option_letters);
    int option;
    while ((option = next_option(argc, argv, option_letters)) != -1) {
        switch (option) {
        case 'f':
            settings.file = optarg;
            break;
        case 'u':
            if (!check_universe(optarg, settings.universe, settings.net.sacn))
                return 1;
            settings.universe_given = true;
            break;
        case 'U':
            settings.show_file = true;
            break;
        case 'S':
            settings.sync = true;
            break;
        case 'p':
        case 't':
        case 'E':
        case 'P':
        case 'I':
            if (!read_network_option(option, optarg, settings.net))
                return 1;
            break;
        case 'd':
            // The file name is peeked at, not consumed: scanning then stops
            // at it as the first non-option, so "-d out.csv -u 3" ignores
            // "-u 3" while "-d -u 3" reads it.
            settings.demo = true;
            if (optind < argc && argv[optind][0] != '-')
                settings.demo_file = argv[optind];
            break;
        case 'l':
            if (!parse_integer(optarg, settings.passes) || settings.passes < 0) {
                std::fprintf(stderr, "Error: Loop count must be a whole number, 0 or more\n");
                usage(argv[0]);
                return 1;
            }
            break;
        case 's':
            if (!parse_decimal(optarg, settings.speed) || settings.speed < slowest_speed
                || settings.speed > fastest_speed) {
                std::fprintf(stderr, "Error: Speed must be between 0.1 and 10\n");
                usage(argv[0]);
                return 1;
            }
            break;
        case 'k':
            if (!check_keep_alive(optarg, settings.keep_alive_ms, settings.net.sacn)) {
                usage(argv[0]);
                return 1;
            }
            break;
        case 'h':
        case help_option:
        case version_option:
            return answer_help_option(option, "showrun", argv[0], usage);
        default:
            usage(argv[0]);
            return 1;
        }
    }
    if (settings.net.sacn && !settings.universe_given)
        settings.universe = lowest_e131_universe;
    return finish_network_options(settings.net) ? -1 : 1;
}

void usage(const char* program, std::FILE* out)
{
    std::fprintf(out,
        "Usage: %s -f <file.csv> [-u universe] [-p port] [-t target_ip]\n"
        "       %s -d [output_file.csv]\n"
        "\n"
        "Play Art-Net sequences from CSV files.\n"
        "\n"
        "CSV Format:\n"
        "  - Each row represents a frame\n"
        "  - First column: delay in milliseconds before playing this frame\n"
        "  - Remaining columns: DMX channel values (1-512 channels)\n"
        "  - Frames are played in row order with delays respected\n"
        "  - A recording made by framelog waits each row's delay and then sends it, as it\n"
        "    was recorded; other files send each row and then wait its delay\n"
        "  - A show file (framelog -U) has a universe column: delay_ms,universe,channel1,...\n"
        "    Each row goes to its own universe, after its delay\n"
        "\n"
        "Options:\n"
        "  -f file.csv    CSV file to play (required unless using -d)\n"
        "  -u universe    Universe to output to (0-%d, default: 0); with a show file, the only\n"
        "                 universe played. net.subnet.universe (0-127.0-15.0-15) names any\n"
        "  -p port        UDP port (default: 6454)\n"
        "  -t target_ip   Destination IPv4 address (default: 255.255.255.255)\n"
        "  -d             Generate demo CSV file (optional filename, default: demo.csv)\n"
        "  -l count       Play the file count times (default: 1, 0: until stopped)\n"
        "  -s speed       Play faster or slower, 0.1 to 10 (default: 1; 2 halves every delay)\n"
        "  -k ms          During a long delay, re-send the last frame every ms (100-10000)\n"
        "  -U             Play the file as a show file, whatever its header says\n"
        "  -S             Send an ArtSync after each frame, so that nodes change all universes at once\n"
        "  -E             Send sACN (E1.31) instead of Art-Net: port 5568, universes 1-63999\n"
        "                 (default universe: 1)\n"
        "  -P priority    sACN priority, 0-200 (default: 100)\n"
        "  -I address     Local IPv4 address of the interface that sACN multicast leaves from\n"
        "\n"
        "Example CSV:\n"
        "  50,255,0,0,0,0,0,0\n"
        "  100,0,255,0,0,0,0,0\n"
        "  50,0,0,255,0,0,0,0\n"
        "\n"
        "This plays: channel 1 at 255 for 50ms, then channel 2 at 255 for 100ms, etc.\n"
        "\n"
        "%s",
        program, program, highest_port_address, protocol_notice);
}
