#include "lines.hpp"

#include "artdmx.hpp"
#include "notices.hpp"
#include "options.hpp"

#include <cctype>
#include <cstdlib>

int parse_values(
    const char* line, std::span<std::uint8_t> values, std::size_t& out_count, bool verbose, std::FILE* messages)
{
    out_count = 0;
    std::size_t skipped = 0;
    const char* p = line;
    while (*p != '\0') {
        // Unsigned, so bytes above 127 are never taken for white space; in
        // the C locale exactly space, \t, \n, \v, \f and \r are.
        if (std::isspace(static_cast<unsigned char>(*p))) {
            ++p;
            continue;
        }
        if (*p == ',') {
            ++p;
            continue;
        }
        if (out_count == values.size()) {
            ++skipped;
            ++p;
            continue;
        }
        char* end = nullptr;
        const long number = std::strtol(p, &end, 10);
        if (end != p) {
            // Out-of-range results of strtol (LONG_MIN, LONG_MAX) clamp too.
            const long level = number < 0 ? 0 : number > 255 ? 255 : number;
            values[out_count] = static_cast<std::uint8_t>(level);
            if (verbose)
                std::fprintf(messages, "  [%zu] Number: %ld -> %d\n", out_count, level, values[out_count]);
            p = end;
        } else {
            values[out_count] = static_cast<unsigned char>(*p);
            if (verbose)
                std::fprintf(messages, "  [%zu] ASCII: '%c' -> %d\n", out_count, *p, values[out_count]);
            ++p;
        }
        ++out_count;
    }
    if (skipped > 0)
        std::fprintf(messages, "Warning: Buffer full (%zu/%zu channels). Skipped %zu characters from input.\n",
            out_count, values.size(), skipped);
    return out_count > 0 ? 0 : -1;
}

void usage(const char* program, std::FILE* out)
{
    std::fprintf(out,
        "Usage: %s -u <universe> -c <channel> [-t target_ip] [-p port] [-v]\n"
        "\n"
        "Required:\n"
        "  -u universe   Universe to send to (0-%d)\n"
        "  -c channel    Starting channel (1-%d)\n"
        "\n"
        "Options:\n"
        "  -t target_ip  Destination IPv4 address (default: 255.255.255.255)\n"
        "  -p port       UDP port (default: 6454)\n"
        "  -v            Verbose mode: show conversion details and warnings\n"
        "  -k ms         Keep-alive: re-send the last frame every ms while no line comes (100-10000)\n"
        "  -h            Show this help message\n"
        "  -E            Send sACN (E1.31) instead of Art-Net: port 5568, universes 1-63999\n"
        "  -P priority   sACN priority, 0-200 (default: 100)\n"
        "  -I address    Local IPv4 address of the interface that sACN multicast leaves from\n"
        "  -S            Send a sync packet (ArtSync, or sACN's for the universe) after every frame\n"
        "\n"
        "Input Format:\n"
        "  Reads from stdin. Always attempts to convert input:\n"
        "  - Numbers: echo 255 | %s -u 1 -c 1\n"
        "  - Comma-separated: echo 1,2,3 | %s -u 1 -c 3\n"
        "  - ASCII strings: echo \"hello\" | %s -u 1 -c 1  (converts to ASCII values)\n"
        "  - Mixed: echo \"A,100,B\" | %s -u 1 -c 1  (A=65, 100, B=66)\n"
        "  - Each line is sent as a separate frame\n"
        "\n"
        "Examples:\n"
        "  echo 255 | %s -u 1 -c 1          # Send 255 to channel 1\n"
        "  echo 1,2,3 | %s -u 1 -c 3        # Send 1,2,3 to channels 3,4,5\n"
        "  echo \"hello\" | %s -u 1 -c 1      # Send ASCII: 104,101,108,108,111\n"
        "  cat values.txt | %s -u 0 -c 1    # Send each line from file\n"
        "\n"
        "%s",
        program, highest_port_address, static_cast<int>(channels_per_universe), program, program, program, program,
        program, program, program, program, protocol_notice);
}
