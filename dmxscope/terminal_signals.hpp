#pragma once
// The signals the monitor answers. The stop signals clear `running`; what the
// terminal asks for by signal (to be given back, to be taken again, to be
// drawn at a new size) is noted here for the loop to answer between its waits.
// Every handler wakes the loop's wait.

#include "terminal.hpp"

// Every way a monitor can be stopped ends it through the normal shutdown,
// with the terminal restored: Ctrl+C, SIGTERM, a closed terminal (SIGHUP),
// Ctrl+\ (SIGQUIT), and a screen reader that went away (SIGPIPE, as in
// dmxscope | head). Ctrl+Z (SIGTSTP), SIGCONT, SIGWINCH and the end of the
// clipboard command (SIGCHLD) wake the loop.
void install_signal_handlers();

// Whether the signal came since the last call.
bool take_suspend_request();
bool take_continued();
bool take_resized();

// Ctrl+Z: the terminal as it was, the process stopped; once continued, the
// terminal taken again as it is now.
void suspend_monitor(raw_terminal& terminal);
