#include "multicast.hpp"

#include "udp.hpp"

#include <cerrno>
#include <utility>

#include <arpa/inet.h>
#include <sys/socket.h>

namespace {

bool add_membership(int fd, in_addr interface, std::uint32_t group)
{
    ip_mreq request{};
    request.imr_multiaddr.s_addr = htonl(group);
    request.imr_interface = interface;
    return ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0;
}

} // namespace

bool join_group(multicast_memberships& memberships, int sock, std::uint32_t group)
{
    const int holder = memberships.holders.empty() ? sock : memberships.holders.back().get();
    bool joined = add_membership(holder, memberships.local_interface, group);
#if defined(__linux__)
    // The socket is full: the next one takes the membership (and those after it).
    if (!joined && errno == ENOBUFS) {
        unique_fd next = open_udp_socket();
        if (!next)
            return false;
        joined = add_membership(next.get(), memberships.local_interface, group);
        if (joined)
            memberships.holders.push_back(std::move(next));
    }
#endif
    if (joined)
        ++memberships.joined;
    return joined;
}
