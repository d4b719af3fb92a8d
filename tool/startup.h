#pragma once
// The start-up sequence: makes the default database, reads the command line
// into it and into the tool's settings, connects, and then either runs one
// recompression pass and ends the process (a command was given), or builds the
// main window and returns so that the main block runs its message loop.

namespace tersify {

// Returns only when the main window has been built; every other path ends the
// process: exit code 0 after a pass that completed, CancelExitCode after a
// cancelled pass ("Cancelled, N records processed, M records skipped" on
// standard output), kStoppedExitCode after a pass stopped at its time limit
// ("Stopped at the time limit, ..."), 1 otherwise. A pass that did not
// complete tells on standard error the /FROM= to resume with.
void RunFromCommandLine();

inline constexpr int kStoppedExitCode = 2;

// 128 + the signal that cancelled a pass (130 for SIGINT, 143 for SIGTERM);
// 130 for a request that came from no signal.
int CancelExitCode(int signal_number);

}  // namespace tersify
