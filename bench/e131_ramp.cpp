// A stand-in for `rampgen -E -a` in bench/sacn.sh while rampgen cannot send
// sACN: the same ramp (channel c of frame k carries (k + c - 1) mod 256) to
// universes 1..256, each by multicast to its group, one frame every interval.
// Not part of the suite; built by the bench script against the core.
// Usage: e131_ramp frames interval_ms port
#include "clock.hpp"
#include "e131.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s frames interval_ms port\n", argv[0]);
        return 1;
    }
    const int frames = std::atoi(argv[1]);
    const std::int64_t interval = std::atoi(argv[2]) * ns_per_ms;
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[3])));
    const e131_identity source = make_e131_identity("e131_ramp");
    std::array<std::uint8_t, channels_per_universe> levels{};
    std::array<std::uint8_t, e131_data_max_size> packet{};
    std::array<std::uint8_t, 257> sequence{};
    const std::int64_t start = monotonic_ns();
    for (int k = 0; k < frames; ++k) {
        for (std::size_t c = 0; c < levels.size(); ++c)
            levels[c] = static_cast<std::uint8_t>(k + c);
        for (std::uint16_t u = 1; u <= 256; ++u) {
            const std::size_t size = build_e131_data(packet, source, {u, 100, 0, sequence[u]++, 0}, levels);
            to.sin_addr.s_addr = htonl(e131_group(u));
            if (sendto(sock, packet.data(), size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
                std::perror("sendto");
                return 1;
            }
        }
        sleep_until(start + (k + 1) * interval);
    }
    close(sock);
    return 0;
}
