// The receiving end of the show playback benchmark: takes the datagrams sent
// to a loopback port with the kernel's arrival time of each, and writes, one
// line per datagram, the arrival in microseconds, the OpCode, the universe
// and channel 511 (rampgen's frame stamp). Ends after `count` datagrams or
// two seconds without any. Not part of the suite; built by bench/shows.sh.
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <vector>

struct arrival {
    long long us;
    unsigned opcode, universe, stamp;
};

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s port count out.txt\n", argv[0]);
        return 1;
    }
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    const int room = 64 * 1024 * 1024, on = 1;
    setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    setsockopt(sock, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<unsigned short>(std::atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return 1;
    const std::size_t count = std::strtoul(argv[2], nullptr, 10);
    std::vector<arrival> arrivals;
    arrivals.reserve(count);
    unsigned char packet[600];
    char control[256];
    while (arrivals.size() < count) {
        pollfd watched{sock, POLLIN, 0};
        if (poll(&watched, 1, arrivals.empty() ? 60000 : 2000) <= 0)
            break;
        iovec data{packet, sizeof packet};
        msghdr message{};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t length = recvmsg(sock, &message, 0);
        if (length < 10)
            continue;
        timespec when{};
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c))
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS)
                when = *reinterpret_cast<timespec*>(CMSG_DATA(c));
        const unsigned opcode = packet[8] | packet[9] << 8;
        const unsigned universe = length >= 18 ? (packet[14] | packet[15] << 8) : 0;
        const unsigned stamp = length >= 18 + 511 ? packet[18 + 510] : 0;
        arrivals.push_back({when.tv_sec * 1000000LL + when.tv_nsec / 1000, opcode, universe, stamp});
    }
    std::FILE* out = std::fopen(argv[3], "w");
    for (const arrival& a : arrivals)
        std::fprintf(out, "%lld %x %u %u\n", a.us, a.opcode, a.universe, a.stamp);
    std::fclose(out);
    return 0;
}
