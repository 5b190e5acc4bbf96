#include "udp.hpp"

#include <cstdio>

#include <fcntl.h>
#include <sys/socket.h>

unique_fd open_udp_socket()
{
#if defined(SOCK_CLOEXEC)
    unique_fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
#else
    unique_fd sock(::socket(AF_INET, SOCK_DGRAM, 0));
    if (sock)
        ::fcntl(sock.get(), F_SETFD, FD_CLOEXEC);
#endif
    if (!sock)
        std::perror("socket");
    return sock;
}

bool enable_socket_option(int fd, int option, const char* name)
{
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, option, &on, sizeof on) < 0) {
        std::perror(name);
        return false;
    }
    return true;
}

void set_nonblocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}
