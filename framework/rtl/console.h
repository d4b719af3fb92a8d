#pragma once
// The console: whether a standard stream is one a progress line can be drawn
// on, and the events that ask a console program to stop.
//
// Stop events are told by the POSIX signal number they stand for, so that the
// exit code of a stopped run (128 plus that number) is the same everywhere:
//   Linux    SIGINT, SIGTERM
//   Windows  Ctrl+C and Ctrl+Break as kInterruptSignal (exit code 130);
//            closing the console window as kHangupSignal (129); log-off and
//            shut-down as kTerminateSignal (143).

#include <memory>

namespace tersify {

inline constexpr int kHangupSignal = 1;
inline constexpr int kInterruptSignal = 2;
inline constexpr int kQuitSignal = 3;
inline constexpr int kTerminateSignal = 15;

// True when the file descriptor is a terminal (a Windows console) that takes
// the escape sequences of a progress line; on Windows their processing is
// switched on for it.
bool IsTerminal(int fd);

// Called on a stop event, with the signal number it stands for. It runs in a
// signal handler (Linux) or on a thread of its own (Windows): async-signal-safe
// calls only.
using TStopEventHandler = void (*)(int signal_number) noexcept;

// While an object lives, the first stop event calls the handler and the
// process goes on; every event after it takes the default action, which ends
// the process at once. The handling from before comes back when it goes.
class TConsoleStopEvents {
 public:
  // Raises std::system_error when the handler cannot be installed.
  explicit TConsoleStopEvents(TStopEventHandler handler);
  ~TConsoleStopEvents();
  TConsoleStopEvents(const TConsoleStopEvents&) = delete;
  TConsoleStopEvents& operator=(const TConsoleStopEvents&) = delete;

 private:
  struct Saved;  // what was installed before
  std::unique_ptr<Saved> saved_;
};

}  // namespace tersify
