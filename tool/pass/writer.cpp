#include "tool/pass/writer.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "client/errors.h"
#include "framework/rtl/exception.h"

// How a group travels. Across a network every request waits for its answer,
// so the updates of a group of rows go as one text, executed at once:
//
//   set nocount on; set xact_abort on; set deadlock_priority low;
//   <update of row 1>; select @@ROWCOUNT; <update of row 2>; select @@ROWCOUNT; ...
//
// Each update is the very statement a row on its own gets (held to the value
// read and to one row), with its own parameters, so every guarantee of a
// single row holds for each row of the group; in the default mode each
// statement commits on its own as it ends. The count each statement reports
// comes back as a result of its own, read in order: the i-th result with
// columns is the i-th row's, so outcomes cannot slip between rows. Counts come
// from @@ROWCOUNT rather than from the DONE tokens: those the server sends for
// a trigger's statements would slip in between, and a server-wide NOCOUNT
// leaves none (NOCOUNT ON here silences both). XACT_ABORT ON makes the first
// failing statement end the text: the rows before it have their outcome, the
// rows after it were not run, and nothing is left half known. DEADLOCK_PRIORITY
// LOW makes the pass's writes the victim SQL Server picks in a deadlock with
// the application, whose work goes on. A text run with parameters is a scope
// of its own (sp_executesql), so these settings end with it and the session
// keeps its own; a group of one row travels the same way.
//
// A staging table with one set-based update was the other way: it needs a
// table created per connection, a second statement to learn which rows were
// written, and the per-row guard expressed as a join; the batch keeps the
// statement that is already tested for a single row.
//
// A group is bounded by SQL Server's 2,100 parameters a request (four or five
// a row, as its guard takes), by kMostGroupBytes and a quarter of the pass's
// budget of bytes (a larger value goes alone), and by the room left in the
// open batch, so that a batch still commits every so many rows.

namespace tersify {
namespace {

constexpr size_t kParamsPerRow = kMostUpdateParams;
static_assert(TPassWriter::kMostGroupRows * UpdateParamsOf(TWriteGuard::StoredValue) <= TPassWriter::kMostGroupParams);

int64_t HeldBytes(const std::string& new_stored, const TGuardValue& guard) {
  return static_cast<int64_t>(new_stored.size() + guard.value.RawString().size());
}

}  // namespace

TPassWriter::TPassWriter(TMSConnection& connection, const TPassStatements& statements, int batch_rows,
                         int64_t budget_bytes)
    : connection_(connection),
      statements_(statements),
      update_sql_(statements.Update()),
      count_sql_(statements.CountKey()),
      grouped_(connection.GetProvider().Name() != "sqlite"),
      group_bytes_(std::min(kMostGroupBytes, std::max<int64_t>(budget_bytes / 4, 0))),
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
  Queue(key, std::move(new_stored), std::move(guard));
  TGroupOutcome result = WriteQueued();
  if (result.error) std::rethrow_exception(result.error);
  return result.outcomes.back();
}

void TPassWriter::Queue(const Variant& key, std::string new_stored, TGuardValue guard) {
  queued_bytes_ += HeldBytes(new_stored, guard);
  queued_params_ += UpdateParamsOf(guard.kind);
  const int64_t stored_bytes = static_cast<int64_t>(new_stored.size());
  queue_.push_back({key, std::move(new_stored), std::move(guard), stored_bytes});
}

bool TPassWriter::GroupDue() const {
  if (queue_.empty()) return false;
  // Full when one more row might not fit.
  if (!grouped_ || queued_params_ + kMostUpdateParams > kMostGroupParams || queued_bytes_ >= group_bytes_)
    return true;
  return batch_rows_ > 1 && static_cast<int64_t>(batch_written_) + static_cast<int64_t>(queue_.size()) >= batch_rows_;
}

void TPassWriter::StartBatchIfNeeded() {
  if (batch_rows_ <= 1 || in_batch_) return;
  if (!held_open_ || !connection_.InTransaction()) connection_.StartTransaction();
  held_open_ = false;
  in_batch_ = true;
  batch_written_ = 0;
  batch_bytes_ = 0;
  batch_started_ = std::chrono::steady_clock::now();
}

TGroupOutcome TPassWriter::WriteQueued() {
  TGroupOutcome result;
  if (queue_.empty()) return result;
  result.outcomes.reserve(queue_.size());
  try {
    StartBatchIfNeeded();
    if (grouped_)
      WriteTogether(result);
    else
      WriteEach(0, result);
  } catch (...) {
    result.error = std::current_exception();
  }
  ClearQueue();
  return result;
}

TWriteOutcome TPassWriter::OutcomeOf(int64_t rows, const TQueuedRow& row) {
  if (rows > 1) throw Exception(Format("Update failed. Found %d records", static_cast<int>(rows)));
  if (rows == 1) {
    if (in_batch_) {
      ++batch_written_;
      batch_bytes_ += row.stored_bytes;
    }
    return TWriteOutcome::Written;
  }
  // Nothing written: the rare path asks once what became of the row.
  auto cursor = connection_.GetProvider().Execute(count_sql_, {row.key});
  int64_t found = 0;
  if (cursor->Next()) found = cursor->Value(0).AsInt64();
  while (cursor->Next()) {
  }
  if (found == 0) return TWriteOutcome::Deleted;
  if (found == 1) return TWriteOutcome::Changed;
  return TWriteOutcome::Unidentified;
}

void TPassWriter::WriteEach(size_t first, TGroupOutcome& result) {
  for (size_t i = first; i < queue_.size(); ++i) {
    TQueuedRow& row = queue_[i];
    int64_t rows = 0;
    {
      const std::string& sql = UpdateFor(row.guard);
      std::vector<Variant> params;
      params.reserve(kParamsPerRow);
      params.emplace_back(TBytes{std::move(row.new_stored)});
      params.push_back(row.key);
      AppendGuardParams(std::move(row.guard), params);
      params.push_back(row.key);
      rows = connection_.GetProvider().Execute(sql, params)->RowsAffected();
    }
    result.outcomes.push_back(OutcomeOf(rows, row));
  }
}

const std::string& TPassWriter::GroupSql(size_t n) {
  if (group_sql_rows_ == n) return group_sql_;
  group_sql_ = "set nocount on; set xact_abort on; set deadlock_priority low;";
  for (size_t i = 0; i < n; ++i) group_sql_ += " " + update_sql_ + "; select @@ROWCOUNT;";
  group_sql_rows_ = n;
  return group_sql_;
}

void TPassWriter::WriteTogether(TGroupOutcome& result) {
  std::vector<int64_t> counts;
  counts.reserve(queue_.size());
  std::exception_ptr error;
  try {
    std::vector<Variant> params;
    params.reserve(queue_.size() * kParamsPerRow);
    for (TQueuedRow& row : queue_) {
      params.emplace_back(TBytes{std::move(row.new_stored)});
      params.push_back(row.key);
      AppendGuardParams(std::move(row.guard), params);
      params.push_back(row.key);
    }
    std::unique_ptr<providers::Cursor> cursor =
        connection_.GetProvider().ExecuteEach(GroupSql(queue_.size()), params);
    // The values have been sent.
    params.clear();
    params.shrink_to_fit();
    // The i-th result with columns is the count of the i-th update.
    do {
      if (cursor->Columns().empty()) continue;
      if (counts.size() >= queue_.size())
        throw Exception("The server answered more row counts than the group has rows");
      if (!cursor->Next()) throw Exception("The server answered a row count without a value");
      counts.push_back(cursor->Value(0).AsInt64());
      while (cursor->Next()) {
      }
    } while (cursor->NextResult());
    if (counts.size() != queue_.size())
      throw Exception(Format("The server answered %d row counts for a group of %d rows",
                             static_cast<int>(counts.size()), static_cast<int>(queue_.size())));
  } catch (...) {
    error = std::current_exception();
  }
  // Rows answered before a failure keep their outcome, in order. Should
  // telling a row that wrote nothing fail as well (the connection may be
  // gone), the rows after it stay untold: the first error is the one raised.
  for (size_t i = 0; i < counts.size(); ++i) {
    try {
      result.outcomes.push_back(OutcomeOf(counts[i], queue_[i]));
    } catch (...) {
      if (!error) error = std::current_exception();
      break;
    }
  }
  if (error) std::rethrow_exception(error);
}

bool TPassWriter::CommitIfDue() {
  if (!in_batch_) return false;
  if (batch_written_ < batch_rows_ && batch_bytes_ < kBatchBytes &&
      std::chrono::steady_clock::now() - batch_started_ < kBatchAge)
    return false;
  CommitAndGoOn();
  return true;
}

void TPassWriter::Commit() {
  if (!in_batch_ && held_open_) {
    // Nothing was written since the last commit: the transaction only ends.
    held_open_ = false;
    if (connection_.InTransaction()) connection_.EndUnusedTransaction();
    return;
  }
  CommitBatch(false);
}

void TPassWriter::CommitAndGoOn() { CommitBatch(grouped_); }

void TPassWriter::CommitBatch(bool go_on) {
  if (!in_batch_) return;
  const int32_t rows = batch_written_;
  in_batch_ = false;
  batch_written_ = 0;
  try {
    if (go_on) {
      connection_.CommitAndStartNext();
      held_open_ = true;
    } else {
      connection_.Commit();
    }
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

void TPassWriter::ClearQueue() {
  queue_.clear();
  queued_bytes_ = 0;
  queued_params_ = 0;
}

void TPassWriter::Rollback() {
  ClearQueue();
  if (!in_batch_ && !held_open_) return;
  const bool unused = !in_batch_;
  in_batch_ = false;
  held_open_ = false;
  batch_written_ = 0;
  if (!connection_.InTransaction()) return;
  if (unused) connection_.EndUnusedTransaction();
  else connection_.Rollback();
}

}  // namespace tersify
