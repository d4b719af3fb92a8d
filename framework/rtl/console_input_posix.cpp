#include "framework/rtl/console_input.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <iostream>

namespace tersify {
namespace {

// The terminal's settings while echo is off, for a signal handler to put back.
struct termios saved_terminal;
volatile sig_atomic_t echo_is_off = 0;

void RestoreTerminal() {
  if (echo_is_off) tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
  echo_is_off = 0;
}

// An interrupt while echo is off: the terminal gets its echo back, then the
// signal does what it would have done.
extern "C" void RestoreAndRaise(int signal_number) {
  RestoreTerminal();
  std::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

// Echo off for its lifetime, with handlers that restore it on the signals that
// end a process from the keyboard or by request.
class EchoOff {
 public:
  EchoOff() {
    if (tcgetattr(STDIN_FILENO, &saved_terminal) != 0) return;
    struct termios quiet = saved_terminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    struct sigaction action {};
    action.sa_handler = RestoreAndRaise;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < kSignals; ++i) sigaction(kSignalNumbers[i], &action, &previous_[i]);
    echo_is_off = 1;
    // TCSANOW keeps what was typed ahead of the prompt.
    if (tcsetattr(STDIN_FILENO, TCSANOW, &quiet) != 0) echo_is_off = 0;
  }
  ~EchoOff() {
    RestoreTerminal();
    for (size_t i = 0; i < kSignals; ++i) sigaction(kSignalNumbers[i], &previous_[i], nullptr);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  static constexpr size_t kSignals = 4;
  static constexpr int kSignalNumbers[kSignals] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  struct sigaction previous_[kSignals] {};
};

}  // namespace

bool StandardInputIsTerminal() { return isatty(STDIN_FILENO) == 1; }

std::optional<std::string> ReadHiddenLine(const std::string& prompt) {
  if (!StandardInputIsTerminal()) return std::nullopt;
  std::optional<std::string> line;
  {
    // Echo goes off before the prompt shows, so that nothing typed after it is echoed.
    const EchoOff echo_off;
    std::cerr << prompt << std::flush;
    line = ReadInputLine(std::cin);
  }
  // ECHONL has already ended the line when one was typed.
  if (!line) std::cerr << '\n' << std::flush;
  return line;
}

}  // namespace tersify
