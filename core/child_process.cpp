#include "child_process.hpp"

#include "signals.hpp"

#include <cerrno>
#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

// glibc declares it in unistd.h; other systems leave it to the program.
#if !defined(__GLIBC__)
extern char** environ;
#endif

namespace {

// How long a child asked to end with SIGTERM gets before SIGKILL.
constexpr int grace_steps = 10;
constexpr long grace_step_ns = 5'000'000;

// posix_spawnp's attributes: the stop signals' default actions and an empty
// signal mask.
class spawn_attributes {
public:
    spawn_attributes()
    {
        ::posix_spawnattr_init(&attributes_);
        sigset_t signals;
        sigemptyset(&signals);
        ::posix_spawnattr_setsigmask(&attributes_, &signals);
        for (const int signal_number : stop_signals)
            sigaddset(&signals, signal_number);
        ::posix_spawnattr_setsigdefault(&attributes_, &signals);
        ::posix_spawnattr_setflags(&attributes_, static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
    }
    spawn_attributes(const spawn_attributes&) = delete;
    spawn_attributes& operator=(const spawn_attributes&) = delete;
    ~spawn_attributes() { ::posix_spawnattr_destroy(&attributes_); }
    const posix_spawnattr_t* get() const { return &attributes_; }

private:
    posix_spawnattr_t attributes_{};
};

class spawn_actions {
public:
    explicit spawn_actions(int input)
    {
        ::posix_spawn_file_actions_init(&actions_);
        if (input >= 0)
            ::posix_spawn_file_actions_adddup2(&actions_, input, STDIN_FILENO);
    }
    spawn_actions(const spawn_actions&) = delete;
    spawn_actions& operator=(const spawn_actions&) = delete;
    ~spawn_actions() { ::posix_spawn_file_actions_destroy(&actions_); }
    const posix_spawn_file_actions_t* get() const { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
};

int shell_status(int status)
{
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// posix_spawnp, unlike execvp, does not hand a file without a "#!" line to
// /bin/sh; such a file starts by execvp in a forked child. A failed execvp
// comes back through a pipe that a successful one closes, so that it is
// reported as posix_spawnp's failures are.
int start_script(const child_start& start, pid_t& child)
{
    unique_fd failure_read;
    unique_fd failure_write;
    if (!open_pipe(failure_read, failure_write))
        return errno;
    child = ::fork();
    if (child < 0)
        return errno;
    if (child == 0) {
        for (const int signal_number : stop_signals)
            std::signal(signal_number, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (start.input >= 0)
            ::dup2(start.input, STDIN_FILENO);
        if (start.environment != nullptr)
            environ = const_cast<char**>(start.environment);
        ::execvp(start.command[0], start.command);
        const int error = errno;
        (void)!::write(failure_write.get(), &error, sizeof error);
        ::_exit(127); // not exit: the parent's stdio buffers and atexit handlers are not the child's
    }
    failure_write.reset();
    int error = 0;
    ssize_t got = 0;
    while ((got = ::read(failure_read.get(), &error, sizeof error)) < 0 && errno == EINTR) {
    }
    if (got != sizeof error)
        return 0;
    wait_for_child(child);
    return error;
}

} // namespace

bool open_pipe(unique_fd& read_end, unique_fd& write_end)
{
    int ends[2] = {-1, -1};
    if (::pipe(ends) != 0)
        return false;
    read_end.reset(ends[0]);
    write_end.reset(ends[1]);
    for (const int end : ends)
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
    return true;
}

int start_child(const child_start& start, pid_t& child)
{
    const spawn_attributes attributes;
    const spawn_actions actions(start.input);
    const int error = ::posix_spawnp(&child, start.command[0], actions.get(), attributes.get(), start.command,
        start.environment != nullptr ? start.environment : environ);
    return error == ENOEXEC && start.scripts ? start_script(start, child) : error;
}

int wait_for_child(pid_t child)
{
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return shell_status(status);
}

int check_child(pid_t child)
{
    int status = 0;
    const pid_t ended = ::waitpid(child, &status, WNOHANG);
    if (ended == 0)
        return child_running;
    return ended < 0 ? -1 : shell_status(status);
}

void end_child(pid_t child)
{
    ::kill(child, SIGTERM);
    for (int step = 0; step < grace_steps; ++step) {
        if (check_child(child) != child_running)
            return;
        const timespec pause{0, grace_step_ns};
        ::nanosleep(&pause, nullptr);
    }
    ::kill(child, SIGKILL);
    wait_for_child(child);
}
