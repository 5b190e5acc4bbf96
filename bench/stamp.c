/* The command both triggers run in bench/trigger.sh: its first act is to read
 * the monotonic clock, which it then writes to standard output in
 * nanoseconds. Linked statically where the system allows, so that no dynamic
 * loader runs before that first act. */
#include <stdio.h>
#include <time.h>
#include <unistd.h>

int main(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    char line[32];
    const int length = snprintf(line, sizeof line, "%lld\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
    return write(STDOUT_FILENO, line, (size_t)length) == length ? 0 : 1;
}
