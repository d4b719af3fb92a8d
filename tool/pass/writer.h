#pragma once
// Writes rewritten rows one statement each, in the order they come, held to
// exactly one row and to the value that was read (TPassStatements). Rows stand
// on their own by default; with a batch size above 1 they are committed
// together every so many rows, and at least every 64 MB and every 2 seconds.

#include <chrono>
#include <cstdint>
#include <string>

#include "client/ms_connection.h"
#include "framework/rtl/exception.h"
#include "framework/rtl/variant.h"
#include "tool/pass/statements.h"

namespace tersify {

enum class TWriteOutcome {
  Written,
  Changed,       // the row's value is no longer the one read
  Deleted,       // the row is gone
  Unidentified,  // the key singles out more or fewer rows than one
};

// The commit of a batch got no answer (the connection was lost or timed out
// under it): the rows may or may not have been written.
class EBatchOutcomeUnknown : public Exception {
 public:
  EBatchOutcomeUnknown(const std::string& message, int32_t rows) : Exception(message), rows_(rows) {}
  int32_t Rows() const { return rows_; }

 private:
  int32_t rows_;
};

class TPassWriter {
 public:
  TPassWriter(TMSConnection& connection, const TPassStatements& statements, int batch_rows);
  // An open batch is rolled back (a pass that ended normally has committed it).
  ~TPassWriter();
  TPassWriter(const TPassWriter&) = delete;
  TPassWriter& operator=(const TPassWriter&) = delete;

  // Writes one row. new_stored and guard are handed to the statement and let
  // go of once it ran. Raises "Update failed. Found %d records" should the
  // statement ever report more than one row.
  TWriteOutcome Write(const Variant& key, std::string new_stored, TGuardValue guard);

  // Commits the open batch when it is full, large or old enough; true when it did.
  bool CommitIfDue();
  // Commits the open batch, if any. Once the server has confirmed the commit
  // the batch is closed, whatever fails after it (ECommittedThenLost). A
  // commit that got no answer raises EBatchOutcomeUnknown; one the server
  // refused leaves the batch rolled back.
  void Commit();
  // Rolls the open batch back, if any.
  void Rollback();
  // Rows written in the open batch (0 when rows stand on their own).
  int32_t Uncommitted() const { return batch_written_; }

  static constexpr int64_t kBatchBytes = int64_t{64} << 20;
  static constexpr std::chrono::milliseconds kBatchAge{2000};

 private:
  void RollbackAfterFailedCommit() noexcept;
  // The update for a row's guard; the connection's own is built once.
  const std::string& UpdateFor(const TGuardValue& guard);

  TMSConnection& connection_;
  const TPassStatements& statements_;
  const std::string update_sql_;
  std::string digest_update_sql_[2];  // SQLite's digest guard for a blob, for a text
  const std::string count_sql_;
  int batch_rows_;
  bool in_batch_ = false;
  int32_t batch_written_ = 0;
  int64_t batch_bytes_ = 0;
  std::chrono::steady_clock::time_point batch_started_{};
};

}  // namespace tersify
