#include "ramp.hpp"

#include "notices.hpp"

#include <cstdio>

void fill_ramp(std::span<std::uint8_t> frame, std::uint8_t offset)
{
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<std::uint8_t>(offset + i);
}

void stamp_universe(std::span<std::uint8_t, 512> frame, std::uint16_t universe, unsigned long long frame_number)
{
    frame[511] = static_cast<std::uint8_t>(universe);
    frame[510] = static_cast<std::uint8_t>(frame_number);
    // Universes 1 and 257 would look the same by their low byte alone.
    if (universe > 0xff)
        frame[509] = static_cast<std::uint8_t>(universe >> 8);
}

void usage(const char* program, std::FILE* out)
{
    std::fprintf(out,
        "Usage: %s [-t target_ip] [-p port] [-i interval_ms] [-c frame_count] [-v] (-a | -u universe ...)\n"
        "  -t target_ip     Destination IPv4 address (default 255.255.255.255)\n"
        "  -p port          UDP port (default 6454)\n"
        "  -i interval_ms   Delay between frames (default 50 ms)\n"
        "  -c frame_count   Total frames to send (default infinite)\n"
        "  -v               Verbose mode: show status updates\n"
        "  -s               Universe stamp: channel 512 = universe, channel 511 = frame\n"
        "  -S               Send an ArtSync after every frame, so that nodes change all universes at once\n"
        "  -u net.sub.uni   A universe by its 15-bit Port-Address (0-127.0-15.0-15; ':' also separates)\n"
        "  -a               Send to all universes 0-%d\n"
        "  -u universe      Send to specific universe (0-%d). Repeat as needed.\n"
        "  -E               Send sACN (E1.31) instead of Art-Net: port 5568, universes 1-63999\n"
        "                   (-a: 1-256)\n"
        "  -P priority      sACN priority, 0-200 (default 100)\n"
        "  -I address       Local IPv4 address of the interface that sACN multicast leaves from\n"
        "\n"
        "%s",
        program, highest_universe_of_all, highest_port_address, protocol_notice);
}
