#pragma once

// Puts standard output and error into the same byte-exact mode on every platform
// (no "\r\n" translation), so scripts read the same text from both builds.
void PrepareConsole();

// True when standard output is the systemd journal (a service's output), which keeps
// every line: systemd names the stream's device and inode in JOURNAL_STREAM.
bool OutputIsJournal();

// True when standard output is a terminal (a reader who wants one updating line).
bool OutputIsTerminal();
