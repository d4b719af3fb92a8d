#pragma once
// SIGINT and SIGTERM (on Windows the console's Ctrl+C, Ctrl+Break and close
// events) ask the running pass to stop between two rows, for as long as a
// PassCancelSignals object lives; the handling from before comes back when it
// goes.
//
// The first event only asks (RequestPassCancel); a second one while the pass
// is still stopping ends the process at once. Nothing is left half-written
// then either: a row's write is one transaction, which the database rolls
// back when the process dies inside it.

#include "framework/rtl/console.h"

namespace tersify {

class PassCancelSignals {
 public:
  // Raises std::system_error when a handler cannot be installed.
  PassCancelSignals();

 private:
  TConsoleStopEvents events_;
};

}  // namespace tersify
