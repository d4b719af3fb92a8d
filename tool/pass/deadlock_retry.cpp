#include "tool/pass/deadlock_retry.h"

#include <chrono>
#include <memory>
#include <thread>

#include "client/errors.h"

namespace tersify {

namespace {
constexpr int kDeadlockVictim = 1205;
}  // namespace

bool IsDeadlock(const std::exception_ptr& error) {
  if (!error) return false;
  try {
    std::rethrow_exception(error);
  } catch (const EMSError& e) {
    return e.NativeError() == kDeadlockVictim || e.SQLState() == "40001";
  } catch (...) {
    return false;
  }
}

bool TDeadlockRetry::MayRetry(const std::exception_ptr& error) {
  if (!IsDeadlock(error) || retries_ >= kMostRetries) return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(kFirstPauseMs << retries_));
  ++retries_;
  return true;
}

std::vector<TPassRow> ReadRowsAgain(providers::Provider& provider, const TPassStatements& statements,
                                    const std::vector<Variant>& keys, std::vector<Variant>& gone) {
  std::vector<TPassRow> rows;
  rows.reserve(keys.size());
  for (const Variant& key : keys) {
    std::unique_ptr<providers::Cursor> cursor = provider.Execute(statements.RowOfKey(), {key});
    if (!cursor->Next()) {
      gone.push_back(key);
      continue;
    }
    rows.push_back(ReadPassRow(*cursor, statements));
    while (cursor->Next()) {
    }
  }
  return rows;
}

}  // namespace tersify
