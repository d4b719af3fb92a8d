#include "tool/console/cancel_signals.h"

#include <cerrno>
#include <system_error>

#include "tool/pass/cancel.h"

namespace tersify {
namespace {

// Only async-signal-safe calls in here: an atomic store and sigaction.
extern "C" void OnCancelSignal(int signal_number) {
  const int saved_errno = errno;
  RequestPassCancel(signal_number);
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  sigaction(SIGINT, &default_action, nullptr);
  sigaction(SIGTERM, &default_action, nullptr);
  errno = saved_errno;
}

void Install(int signal_number, struct sigaction& previous) {
  struct sigaction action {};
  action.sa_handler = OnCancelSignal;
  sigemptyset(&action.sa_mask);
  // The other signal waits while the handler runs, so the two never race over
  // the reset. Interrupted system calls resume: the pass notices the request
  // between rows, and a driver never sees a read cut short.
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  action.sa_flags = SA_RESTART;
  if (sigaction(signal_number, &action, &previous) != 0)
    throw std::system_error(errno, std::generic_category(), "cannot install the cancel signal handler");
}

}  // namespace

PassCancelSignals::PassCancelSignals() {
  Install(SIGINT, previous_interrupt_);
  try {
    Install(SIGTERM, previous_terminate_);
  } catch (...) {
    sigaction(SIGINT, &previous_interrupt_, nullptr);
    throw;
  }
}

PassCancelSignals::~PassCancelSignals() {
  sigaction(SIGTERM, &previous_terminate_, nullptr);
  sigaction(SIGINT, &previous_interrupt_, nullptr);
}

}  // namespace tersify
