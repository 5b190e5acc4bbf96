#pragma once
// Joining multicast groups for a socket bound to a port, beyond what one
// socket may hold. Linux lets a socket hold 20 memberships unless the system
// is told otherwise, and hands a socket bound to the port (on every address)
// the datagrams of every group that any socket of the host joined. So there
// the memberships that do not fit go to sockets of their own, which only
// hold them and are never read; elsewhere the bound socket holds them all.

#include "descriptors.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

#include <netinet/in.h>

struct multicast_memberships {
    in_addr local_interface{}; // INADDR_ANY: the system chooses
    std::vector<unique_fd> holders;
    std::size_t joined = 0;
};

// Joins `group` (host byte order) on the interface for `sock`, the socket
// bound to the port. False with errno set when the system refused.
bool join_group(multicast_memberships& memberships, int sock, std::uint32_t group);
