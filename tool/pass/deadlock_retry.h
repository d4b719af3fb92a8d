#pragma once
// SQL Server ends a deadlock by choosing one session as its victim and
// rolling back that session's transaction (error 1205, SQLSTATE 40001); the
// pass asks to be the one chosen (each request of its writes sets its
// DEADLOCK_PRIORITY LOW, writer.cpp). Nothing was wrong
// with the statements: the rows whose writes were undone are read again by
// their keys and go through the pass once more, each write held to the value
// read then, as always. A deadlock that keeps coming back is reported after
// a few attempts.

#include <exception>
#include <vector>

#include "client/providers/provider.h"
#include "framework/rtl/variant.h"
#include "tool/pass/reader.h"
#include "tool/pass/statements.h"

namespace tersify {

// Whether error is a deadlock victim's.
bool IsDeadlock(const std::exception_ptr& error);

class TDeadlockRetry {
 public:
  // Attempts after the first, and the pause before the first of them (doubled
  // each time): the other session gets its transaction done meanwhile.
  static constexpr int kMostRetries = 3;
  static constexpr int kFirstPauseMs = 50;

  // Whether error is a deadlock that may be retried once more; if so, waits
  // the pause first.
  bool MayRetry(const std::exception_ptr& error);
  // A group got written: the next deadlock has all its attempts again.
  void Succeeded() { retries_ = 0; }

 private:
  int retries_ = 0;
};

// The rows of keys as they are stored now, in the order of keys, one
// statement each; keys whose row is gone are left out and put in gone.
std::vector<TPassRow> ReadRowsAgain(providers::Provider& provider, const TPassStatements& statements,
                                    const std::vector<Variant>& keys, std::vector<Variant>& gone);

}  // namespace tersify
