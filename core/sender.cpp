#include "artnet_sender.hpp"

#include "status_line.hpp"
#include "udp.hpp"

#include <algorithm>
#include <cstdio>

#include <arpa/inet.h>
#include <sys/socket.h>

namespace {

bool send_packet(const artnet_sender& sender, std::size_t length)
{
    const ssize_t sent = ::sendto(sender.sock.get(), sender.packet.data(), length, 0,
        reinterpret_cast<const sockaddr*>(&sender.destination), sizeof sender.destination);
    if (sent < 0) {
        end_status_line();
        std::perror("sendto");
        return false;
    }
    return true;
}

} // namespace

bool open_artnet_sender(artnet_sender& sender, const char* target, int port)
{
    sender.sock = open_udp_socket();
    if (!sender.sock || !enable_socket_option(sender.sock.get(), SO_BROADCAST, "setsockopt(SO_BROADCAST)"))
        return false;
    sender.destination = {};
    sender.destination.sin_family = AF_INET;
    sender.destination.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, target, &sender.destination.sin_addr) != 1) {
        std::fprintf(stderr, "Invalid target IP: %s\n", target);
        sender.sock.reset();
        return false;
    }
    return true;
}

bool send_dmx(artnet_sender& sender, std::uint16_t universe, std::span<const std::uint8_t> levels)
{
    // Art-Net asks for an even Length, and receivers made by others drop a
    // frame of odd length (one channel alone among them): one more channel
    // of level 0 makes it even.
    std::array<std::uint8_t, channels_per_universe> padded{};
    if (levels.size() % 2 != 0) {
        std::ranges::copy(levels, padded.begin());
        levels = std::span(padded).first(levels.size() + 1);
    }
    std::size_t length = 0;
    build_artdmx(sender.packet, length, sender.sequence++, universe, levels);
    return send_packet(sender, length);
}

bool send_sync(artnet_sender& sender)
{
    build_artsync(std::span(sender.packet).first<artsync_size>());
    return send_packet(sender, artsync_size);
}
