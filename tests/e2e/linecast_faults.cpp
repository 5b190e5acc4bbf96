// Preloaded into linecast to reach its failure paths without a network: every
// sendto fails before anything is sent, and with LINECAST_STDIN_DIRECTORY set
// standard input is a directory, which every read refuses.
#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

extern "C" ssize_t sendto(int, const void*, size_t, int, const sockaddr*, socklen_t)
{
    errno = ENETUNREACH;
    return -1;
}

__attribute__((constructor)) static void replace_standard_input()
{
    if (std::getenv("LINECAST_STDIN_DIRECTORY") == nullptr)
        return;
    const int directory = open("/", O_RDONLY | O_DIRECTORY);
    dup2(directory, STDIN_FILENO);
    close(directory);
}
