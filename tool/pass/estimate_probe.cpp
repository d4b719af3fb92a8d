#include "tool/pass/estimate_probe.h"

#include <chrono>
#include <exception>
#include <utility>

#include "client/errors.h"
#include "tool/pass/rewriter.h"
#include "tool/pass/writer.h"
#include "tool/recompress.h"

namespace tersify {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The first value of the first row of sql; Null when there is none or the
// server cannot answer it (an older server without the function).
Variant AskServer(providers::Provider& provider, const std::string& sql, const std::vector<Variant>& params) {
  try {
    auto cursor = provider.Execute(sql, params);
    Variant value;
    if (cursor->Next()) value = cursor->Value(0);
    while (cursor->Next()) {
    }
    return value;
  } catch (const EMSError& e) {
    // A lost connection is no answer to pass over: the probe would fail next.
    if (e.IsTimeoutOrLostConnection()) throw;
    return Variant();
  }
}

// Why the server says the connection cannot write the table; empty when it
// may, or when it cannot tell (the probe's own refusal is the last word).
std::string ServerRefusal(const TPassTarget& target, const std::string& table) {
  if (target.provider_name == "sqlite") return {};
  providers::Provider& provider = target.connection->GetProvider();
  const Variant updateability =
      AskServer(provider, "select DATABASEPROPERTYEX(DB_NAME(), 'Updateability')", {});
  if (!updateability.IsNull() && updateability.AsString() == "READ_ONLY") return "the database is read-only";
  const Variant may_update = AskServer(provider, "select HAS_PERMS_BY_NAME(?, 'OBJECT', 'UPDATE')", {table});
  if (!may_update.IsNull() && may_update.AsString() == "0") return "the login may not update " + table;
  return {};
}

// A write refused because the database, the file or the login is read-only:
// SQL Server's 229 and 230 (permission denied) and 3906 (read-only database),
// SQLite's SQLITE_READONLY (its primary code in the low byte).
bool IsWriteRefusal(const TPassTarget& target, const EDAError& error) {
  const int code = error.NativeError();
  if (target.provider_name == "sqlite") return (code & 0xff) == 8;
  return code == 229 || code == 230 || code == 3906;
}

}  // namespace

TEstimateProbe::TEstimateProbe(const TPassTarget& target, const std::string& table)
    : target_(target), refusal_(ServerRefusal(target, table)) {}

void TEstimateProbe::Offer(const TPassRow& row) {
  if (Full() || ran_) return;
  if (row.value_is_null || row.stored.size() <= kRecompressThreshold || row.stored.size() > kLargestValue) return;
  rows_.push_back({row.key, row.stored, row.stored_as_text});
}

void TEstimateProbe::Run() {
  if (ran_) return;
  ran_ = true;
  if (!refusal_.empty() || rows_.empty()) return;
  const Clock::time_point started = Clock::now();
  TMSConnection& connection = *target_.connection;
  TPassWriter writer(connection, target_.statements, 1);
  double seconds = 0;
  size_t timed = 0;
  for (TRow& row : rows_) {
    const Clock::time_point start = Clock::now();
    try {
      connection.StartTransaction();
      TGuardValue guard = WriteGuardValue(row.stored, row.stored_as_text, target_.statements.Guard());
      writer.Write(row.key, std::move(row.stored), std::move(guard));
    } catch (const EDAError& e) {
      if (connection.InTransaction()) {
        try {
          connection.Rollback();
        } catch (const std::exception&) {
          // The error that ended the probe is the one to report.
        }
      }
      if (!IsWriteRefusal(target_, e)) throw;
      refusal_ = std::string("the connection cannot write (") + e.what() + ")";
      break;
    } catch (...) {
      if (connection.InTransaction()) {
        try {
          connection.Rollback();
        } catch (const std::exception&) {
          // As above.
        }
      }
      throw;
    }
    connection.Rollback();
    seconds += SecondsSince(start);
    ++timed;
  }
  rows_.clear();
  if (refusal_.empty() && timed > 0) seconds_per_row_ = seconds / static_cast<double>(timed);
  run_seconds_ = SecondsSince(started);
}

}  // namespace tersify
