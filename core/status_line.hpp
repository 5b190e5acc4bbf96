#pragma once
// A live status line, rewritten in place on standard error with a carriage
// return and no line feed. Whoever prints another message first ends the
// line, so that the message starts on a line of its own; the programs' error
// paths and the core's reports of failed calls do it alike.

// After writing a status line.
void status_line_shown();
// Before any other message on standard error: a line feed if a status line
// is showing.
void end_status_line();
