// The console on Linux: terminals and the signals SIGINT and SIGTERM.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

#include "framework/rtl/console.h"

namespace tersify {

static_assert(kInterruptSignal == SIGINT && kTerminateSignal == SIGTERM && kHangupSignal == SIGHUP &&
              kQuitSignal == SIGQUIT);

namespace {

std::atomic<TStopEventHandler> stop_handler{nullptr};

// Only async-signal-safe calls in here: an atomic load, the handler and sigaction.
extern "C" void OnStopSignal(int signal_number) {
  const int saved_errno = errno;
  if (const TStopEventHandler handler = stop_handler.load()) handler(signal_number);
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  sigaction(SIGINT, &default_action, nullptr);
  sigaction(SIGTERM, &default_action, nullptr);
  errno = saved_errno;
}

void Install(int signal_number, struct sigaction& previous) {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // The other signal waits while the handler runs, so the two never race over
  // the reset. Interrupted system calls resume: the program notices the
  // request when it next looks, and a driver never sees a read cut short.
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  action.sa_flags = SA_RESTART;
  if (sigaction(signal_number, &action, &previous) != 0)
    throw std::system_error(errno, std::generic_category(), "cannot install the cancel signal handler");
}

}  // namespace

bool IsTerminal(int fd) { return isatty(fd) == 1; }

struct TConsoleStopEvents::Saved {
  struct sigaction interrupt {};
  struct sigaction terminate {};
};

TConsoleStopEvents::TConsoleStopEvents(TStopEventHandler handler) : saved_(std::make_unique<Saved>()) {
  stop_handler.store(handler);
  Install(SIGINT, saved_->interrupt);
  try {
    Install(SIGTERM, saved_->terminate);
  } catch (...) {
    sigaction(SIGINT, &saved_->interrupt, nullptr);
    throw;
  }
}

TConsoleStopEvents::~TConsoleStopEvents() {
  sigaction(SIGTERM, &saved_->terminate, nullptr);
  sigaction(SIGINT, &saved_->interrupt, nullptr);
}

}  // namespace tersify
