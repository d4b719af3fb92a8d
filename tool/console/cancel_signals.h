#pragma once
// SIGINT and SIGTERM ask the running pass to stop between two rows, for as
// long as a PassCancelSignals object lives; the handlers that were in place
// before come back when it goes.
//
// The first signal only asks (RequestPassCancel) and puts both signals back to
// their default action, so that a second SIGINT or SIGTERM while the pass is
// still stopping ends the process at once. Nothing is left half-written then
// either: a row's write is one transaction, which the database rolls back
// when the process dies inside it.

#include <signal.h>

namespace tersify {

class PassCancelSignals {
 public:
  // Raises std::system_error when a handler cannot be installed.
  PassCancelSignals();
  ~PassCancelSignals();
  PassCancelSignals(const PassCancelSignals&) = delete;
  PassCancelSignals& operator=(const PassCancelSignals&) = delete;

 private:
  struct sigaction previous_interrupt_{};
  struct sigaction previous_terminate_{};
};

}  // namespace tersify
