#pragma once
// The senders' one way out to the network (linecast, rampgen, showrun): the
// socket with broadcast allowed, the destination, the run's sequence counter
// and the datagram buffer. Every packet a sender sends leaves through here,
// so what the wire asks of a packet is decided in one place.

#include "artdmx.hpp"
#include "descriptors.hpp"

#include <array>
#include <cstdint>
#include <span>

#include <netinet/in.h>

struct artnet_sender {
    unique_fd sock;
    sockaddr_in destination{};
    // Carried by the next ArtDmx: 1, 2, ..., 255, 0, 1, ... over the run.
    std::uint8_t sequence = 1;
    std::array<std::uint8_t, artdmx_max_size> packet{};
};

// Socket, SO_BROADCAST and the destination from the dotted `target` and the
// port. Reports a failure itself ("Invalid target IP: %s" for a target that
// is not a dotted IPv4 address).
bool open_artnet_sender(artnet_sender& sender, const char* target, int port);

// One ArtDmx of `levels` (at most 512) for `universe`, with the next sequence
// number; an odd count goes out with one more channel at 0. A failed send is
// reported with perror("sendto").
bool send_dmx(artnet_sender& sender, std::uint16_t universe, std::span<const std::uint8_t> levels);

// One ArtSync: the nodes that take part show every universe of the frame
// whose ArtDmx went out before it at once. Reported like send_dmx.
bool send_sync(artnet_sender& sender);
