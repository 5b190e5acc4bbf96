#pragma once
// UDP sockets as every program of the suite opens them: IPv4, close-on-exec
// (so that the commands a tool starts never hold its port), options set with
// their failure reported under the option's name.

#include "descriptors.hpp"

constexpr int default_port = 6454;
constexpr const char* default_target = "255.255.255.255";

// An IPv4 datagram socket; perror("socket") and an empty descriptor on failure.
unique_fd open_udp_socket();
// Sets a boolean SOL_SOCKET option to 1; perror(name) on failure.
bool enable_socket_option(int fd, int option, const char* name);
// O_NONBLOCK added to the descriptor's status flags; failures are not checked.
void set_nonblocking(int fd);
