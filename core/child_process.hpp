#pragma once
// Starting the programs' child processes (cuetrig's commands, dmxscope's
// clipboard command) and reaping them. A child starts as it would from a
// shell, whatever the program inherited or installed: the stop signals at
// their default action, no signal blocked, and none of the program's own
// descriptors, which are all opened close-on-exec.

#include "descriptors.hpp"

#include <sys/types.h>

// A pipe whose ends no child inherits; false when none could be made.
bool open_pipe(unique_fd& read_end, unique_fd& write_end);

struct child_start {
    char* const* command = nullptr;     // the words and a null pointer; the first is looked for on PATH
    char* const* environment = nullptr; // null for this process's own
    int input = -1;                     // the child's standard input, unless -1
    // A file without a "#!" line runs under /bin/sh, as execvp runs it.
    bool scripts = false;
};

// Starts the child: 0 and its process id, or the error that kept it from
// starting (nothing is left running then).
int start_child(const child_start& start, pid_t& child);

// The value a shell gives an ended child: its exit status, or 128 + the
// signal that ended it.
// Waits for the child's end (a signal does not cut the wait short, so that
// no child is left unwaited-for); -1 when it cannot be waited for.
int wait_for_child(pid_t child);
// child_running while the child runs; otherwise as wait_for_child.
constexpr int child_running = -2;
int check_child(pid_t child);
// Asks the child to end (SIGTERM), makes it end after a short grace
// (SIGKILL), and reaps it.
void end_child(pid_t child);
