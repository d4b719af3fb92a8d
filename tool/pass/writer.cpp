#include "tool/pass/writer.h"

#include <utility>
#include <vector>

#include "client/errors.h"
#include "framework/rtl/exception.h"

namespace tersify {

TPassWriter::TPassWriter(TMSConnection& connection, const TPassStatements& statements, int batch_rows)
    : connection_(connection),
      statements_(statements),
      update_sql_(statements.Update()),
      count_sql_(statements.CountKey()),
      batch_rows_(batch_rows < 1 ? 1 : batch_rows) {}

TPassWriter::~TPassWriter() {
  try {
    Rollback();
  } catch (...) {
    // The connection is gone with its transaction; there is nothing left to undo.
  }
}

const std::string& TPassWriter::UpdateFor(const TGuardValue& guard) {
  if (guard.kind != TWriteGuard::StoredDigest) return update_sql_;
  std::string& sql = digest_update_sql_[guard.of_text ? 1 : 0];
  if (sql.empty()) sql = statements_.Update(guard.kind, guard.of_text);
  return sql;
}

TWriteOutcome TPassWriter::Write(const Variant& key, std::string new_stored, TGuardValue guard) {
  if (batch_rows_ > 1 && !in_batch_) {
    connection_.StartTransaction();
    in_batch_ = true;
    batch_written_ = 0;
    batch_bytes_ = 0;
    batch_started_ = std::chrono::steady_clock::now();
  }
  const int64_t bytes = static_cast<int64_t>(new_stored.size());
  int64_t rows = 0;
  {
    std::vector<Variant> params;
    params.reserve(4);
    params.emplace_back(TBytes{std::move(new_stored)});
    params.push_back(key);
    params.push_back(std::move(guard.value));
    params.push_back(key);
    rows = connection_.GetProvider().Execute(UpdateFor(guard), params)->RowsAffected();
  }
  if (rows > 1) throw Exception(Format("Update failed. Found %d records", static_cast<int>(rows)));
  if (rows == 1) {
    if (in_batch_) {
      ++batch_written_;
      batch_bytes_ += bytes;
    }
    return TWriteOutcome::Written;
  }
  // Nothing written: the rare path asks once what became of the row.
  auto cursor = connection_.GetProvider().Execute(count_sql_, {key});
  int64_t found = 0;
  if (cursor->Next()) found = cursor->Value(0).AsInt64();
  while (cursor->Next()) {
  }
  if (found == 0) return TWriteOutcome::Deleted;
  if (found == 1) return TWriteOutcome::Changed;
  return TWriteOutcome::Unidentified;
}

bool TPassWriter::CommitIfDue() {
  if (!in_batch_) return false;
  if (batch_written_ < batch_rows_ && batch_bytes_ < kBatchBytes &&
      std::chrono::steady_clock::now() - batch_started_ < kBatchAge)
    return false;
  Commit();
  return true;
}

void TPassWriter::Commit() {
  if (!in_batch_) return;
  const int32_t rows = batch_written_;
  in_batch_ = false;
  batch_written_ = 0;
  try {
    connection_.Commit();
  } catch (const ECommittedThenLost&) {
    throw;  // written: the batch is closed
  } catch (const EMSError& e) {
    // Still in the transaction: the commit was refused (SQLite's locked file)
    // and nothing was written; out of it after a lost answer, nobody knows.
    const bool cut_off = e.IsTimeoutOrLostConnection() || e.SQLState() == "HY008";
    if (cut_off && !connection_.InTransaction()) throw EBatchOutcomeUnknown(e.what(), rows);
    if (connection_.InTransaction()) RollbackAfterFailedCommit();
    throw;
  }
}

void TPassWriter::RollbackAfterFailedCommit() noexcept {
  try {
    connection_.Rollback();
  } catch (const std::exception&) {
    // The commit's error is the one reported; a connection that cannot roll
    // back either is closed by its provider, which rolls back with it.
  }
}

void TPassWriter::Rollback() {
  if (!in_batch_) return;
  in_batch_ = false;
  batch_written_ = 0;
  if (connection_.InTransaction()) connection_.Rollback();
}

}  // namespace tersify
