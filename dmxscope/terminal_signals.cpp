#include "terminal_signals.hpp"

#include "signals.hpp"

#include <csignal>
#include <cstdio>

namespace {

volatile std::sig_atomic_t suspend_requested = 0;
volatile std::sig_atomic_t continued = 0;
volatile std::sig_atomic_t resized = 0;

void on_suspend(int)
{
    suspend_requested = 1;
    wake_waiter();
}

void on_continue(int)
{
    continued = 1;
    wake_waiter();
}

void on_resize(int)
{
    resized = 1;
    wake_waiter();
}

void on_child(int)
{
    wake_waiter();
}

bool take(volatile std::sig_atomic_t& flag)
{
    if (flag == 0)
        return false;
    flag = 0;
    return true;
}

} // namespace

void install_signal_handlers()
{
    install_stop_handlers();
    install_handler(SIGQUIT, signal_handler);
    install_handler(SIGPIPE, signal_handler);
    install_handler(SIGTSTP, on_suspend, true);
    install_handler(SIGCONT, on_continue, true);
    install_handler(SIGWINCH, on_resize, true);
    install_handler(SIGCHLD, on_child, true);
}

bool take_suspend_request()
{
    return take(suspend_requested);
}

bool take_continued()
{
    return take(continued);
}

bool take_resized()
{
    return take(resized);
}

void suspend_monitor(raw_terminal& terminal)
{
    terminal.restore_terminal();
    std::fflush(stdout);
    install_handler(SIGTSTP, SIG_DFL);
    std::raise(SIGTSTP);
    install_handler(SIGTSTP, on_suspend, true);
    terminal.setup_terminal();
    // The continue that woke the process is answered here.
    continued = 0;
}
