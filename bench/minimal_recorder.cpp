// The reference the recorder is measured against: the least a program can do
// to record ArtDmx, a poll, a receive and a CSV row written and flushed per
// datagram. Not part of the suite; built by the bench scripts.
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t stop = 0;
void on_stop(int)
{
    stop = 1;
}
} // namespace

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s port file.csv\n", argv[0]);
        return 1;
    }
    struct sigaction action { };
    action.sa_handler = on_stop;
    sigaction(SIGINT, &action, nullptr);
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<unsigned short>(std::atoi(argv[1])));
    if (bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return 1;
    std::FILE* file = std::fopen(argv[2], "w");
    unsigned char packet[534];
    unsigned long long received = 0;
    while (stop == 0) {
        pollfd watched{sock, POLLIN, 0};
        if (poll(&watched, 1, -1) <= 0)
            continue;
        const ssize_t length = recv(sock, packet, sizeof packet, 0);
        if (length < 18)
            continue;
        ++received;
        std::fprintf(file, "0");
        for (ssize_t i = 18; i < length; ++i)
            std::fprintf(file, ",%d", packet[i]);
        std::fputc('\n', file);
        std::fflush(file);
    }
    std::fclose(file);
    std::fprintf(stderr, "Packets received: %llu\n", received);
    return 0;
}
