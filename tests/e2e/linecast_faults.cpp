// Preloaded into the programs to reach their failure paths without a network:
// every sendto fails before anything is sent; with LINECAST_STDIN_DIRECTORY
// set standard input is a directory, which every read refuses; with
// FAULTS_RECEIVE_BUFFER set, a socket's receive buffer is that small whatever
// the program asks for, so that a short burst overflows it.
#include <cerrno>
#include <cstdlib>

#include <dlfcn.h>
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

extern "C" int setsockopt(int fd, int level, int name, const void* value, socklen_t size)
{
    using real_setsockopt = int (*)(int, int, int, const void*, socklen_t);
    static const auto real = reinterpret_cast<real_setsockopt>(dlsym(RTLD_NEXT, "setsockopt"));
    const char* forced = std::getenv("FAULTS_RECEIVE_BUFFER");
    if (forced != nullptr && level == SOL_SOCKET && name == SO_RCVBUF) {
        const int bytes = std::atoi(forced);
        return real(fd, level, name, &bytes, sizeof bytes);
    }
    return real(fd, level, name, value, size);
}
