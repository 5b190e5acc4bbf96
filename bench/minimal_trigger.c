/* The reference cuetrig's reaction is measured against: the least a program
 * can do to run a command when a channel crosses between low and high, one
 * socket, a blocking poll, fork + execv and a wait for the command. Not part
 * of the suite; built by bench/trigger.sh.
 * Usage: minimal_trigger port channel program [args...] */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char* argv[])
{
    if (argc < 4) {
        fprintf(stderr, "usage: %s port channel program [args...]\n", argv[0]);
        return 1;
    }
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in address = {0};
    address.sin_family = AF_INET;
    address.sin_port = htons((unsigned short)atoi(argv[1]));
    if (bind(sock, (struct sockaddr*)&address, sizeof address) != 0)
        return 1;
    /* ArtDmx levels start at byte 18. */
    const int at = 17 + atoi(argv[2]);
    unsigned char packet[534];
    int last = -1;
    for (;;) {
        struct pollfd watched = {sock, POLLIN, 0};
        if (poll(&watched, 1, -1) <= 0)
            continue;
        const ssize_t length = recv(sock, packet, sizeof packet, 0);
        if (length <= at)
            continue;
        const int level = packet[at];
        if (last >= 0 && (last > 127) != (level > 127)) {
            const pid_t child = fork();
            if (child == 0) {
                execv(argv[3], argv + 3);
                _exit(127);
            }
            int status = 0;
            waitpid(child, &status, 0);
        }
        last = level;
    }
}
