#pragma once
// The demo file: a frame sequence to try the player with, and nothing of
// value lost in writing it.

// Writes the demo sequence to `path`, replacing an earlier demo, and reports
// it. A file that holds anything else is not touched: "-d" typed for "-f"
// must not cost a recording. False, after its one-line report, when the file
// was refused or could not be opened, written or closed.
bool create_demo_csv(const char* path);
