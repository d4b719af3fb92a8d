#pragma once
// Writes rewritten rows in the order they come, each by its own statement
// held to exactly one row and to the value that was read (TPassStatements).
// Rows stand on their own by default; with a batch size above 1 they are
// committed together every so many rows, and at least every 64 MB and every
// 2 seconds.
//
// Across a network the cost of a row is its round trip, so rows are queued
// and the statements of a group of them travel as one request (writer.cpp
// says how); each statement still commits on its own in the default mode.
// On SQLite, which has no network, a group is one row.

#include <chrono>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "client/ms_connection.h"
#include "framework/rtl/exception.h"
#include "framework/rtl/variant.h"
#include "tool/pass/options.h"
#include "tool/pass/statements.h"

namespace tersify {

enum class TWriteOutcome {
  Written,
  Changed,       // the row's value is no longer the one read
  Deleted,       // the row is gone
  Unidentified,  // the key singles out more or fewer rows than one
};

// What became of the rows of a group, in the order they were queued: the
// rows before a failure have their outcome (written rows are written, and in
// the default mode committed), error tells what stopped the rest.
struct TGroupOutcome {
  std::vector<TWriteOutcome> outcomes;
  std::exception_ptr error;
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
  // budget_bytes: the pass's in-flight budget, of which a group holds at most a quarter.
  TPassWriter(TMSConnection& connection, const TPassStatements& statements, int batch_rows,
              int64_t budget_bytes = kDefaultPassBudgetBytes);
  // An open batch is rolled back (a pass that ended normally has committed it).
  ~TPassWriter();
  TPassWriter(const TPassWriter&) = delete;
  TPassWriter& operator=(const TPassWriter&) = delete;

  // Writes one row at once (and any rows queued before it). new_stored and
  // guard are handed to the statement and let go of once it ran. Raises
  // "Update failed. Found %d records" should the statement ever report more
  // than one row.
  TWriteOutcome Write(const Variant& key, std::string new_stored, TGuardValue guard);

  // Opens the batch now, if rows are batched and none is open, rather than
  // with its first write: across a network its request then goes while the
  // pass waits for its first rows.
  void StartBatch() { StartBatchIfNeeded(); }
  // Queues one row for the next group.
  void Queue(const Variant& key, std::string new_stored, TGuardValue guard);
  // Rows queued and not yet written.
  size_t Queued() const { return queue_.size(); }
  // The queue makes a group: as many rows, parameters or bytes as one request
  // takes, or as many rows as the open batch has room for.
  bool GroupDue() const;
  // Writes the rows queued, as one request where the connection allows it.
  // A statement reporting more than one row stops the group with "Update
  // failed. Found %d records".
  TGroupOutcome WriteQueued();

  // Commits the open batch when it is full, large or old enough, as
  // CommitAndGoOn; true when it did.
  bool CommitIfDue();
  // Commits the open batch, if any, and ends the transaction. Once the server
  // has confirmed the commit the batch is closed, whatever fails after it
  // (ECommittedThenLost). A commit that got no answer raises
  // EBatchOutcomeUnknown; one the server refused leaves the batch rolled back.
  void Commit();
  // Commits the open batch, if any, as Commit does, where more batches
  // follow: across a network the connection stays in a transaction for the
  // next one, so that a batch costs one request for its commit instead of
  // three (begin, commit, and the way back to autocommit). The transaction
  // holds nothing until the next batch writes; Commit or Rollback ends it.
  void CommitAndGoOn();
  // Rolls the open batch back, if any, and ends the transaction; rows still
  // queued are dropped.
  void Rollback();
  // Rows written in the open batch (0 when rows stand on their own).
  int32_t Uncommitted() const { return batch_written_; }
  // The most bytes of values one request of this writer carries: a group's,
  // or 0 where every row is a request of its own.
  int64_t GroupBytes() const { return grouped_ ? group_bytes_ : 0; }

  static constexpr int64_t kBatchBytes = int64_t{64} << 20;
  static constexpr std::chrono::milliseconds kBatchAge{2000};
  // One request: at most SQL Server's 2,100 parameters, so this many rows
  // of the fewest parameters a row takes (4), and this many bytes of values.
  static constexpr size_t kMostGroupParams = 2100;
  static constexpr size_t kMostGroupRows = kMostGroupParams / 4;
  static constexpr int64_t kMostGroupBytes = int64_t{4} << 20;

 private:
  struct TQueuedRow {
    Variant key;
    std::string new_stored;  // handed to the statement when it runs
    TGuardValue guard;
    int64_t stored_bytes;    // of new_stored, for the batch's bytes
  };

  void CommitBatch(bool go_on);
  void ClearQueue();
  void RollbackAfterFailedCommit() noexcept;
  // The update for a row's guard; the connection's own is built once.
  const std::string& UpdateFor(const TGuardValue& guard);
  void StartBatchIfNeeded();
  // The rows of the queue from `first` on, one statement each.
  void WriteEach(size_t first, TGroupOutcome& result);
  // The queue as one request; the outcome of each row that was answered.
  void WriteTogether(TGroupOutcome& result);
  // The outcome of a row whose update wrote `rows` rows.
  TWriteOutcome OutcomeOf(int64_t rows, const TQueuedRow& row);
  // The text of a group of n updates, each followed by its row count.
  const std::string& GroupSql(size_t n);

  TMSConnection& connection_;
  const TPassStatements& statements_;
  const std::string update_sql_;
  std::string digest_update_sql_[2];  // SQLite's digest guard for a blob, for a text
  const std::string count_sql_;
  const bool grouped_;  // several rows a request (a server across a network)
  const int64_t group_bytes_;
  int batch_rows_;
  std::vector<TQueuedRow> queue_;
  int64_t queued_bytes_ = 0;
  size_t queued_params_ = 0;
  size_t group_sql_rows_ = 0;
  std::string group_sql_;
  bool in_batch_ = false;
  bool held_open_ = false;  // a transaction kept open after a commit, with nothing written in it
  int32_t batch_written_ = 0;
  int64_t batch_bytes_ = 0;
  std::chrono::steady_clock::time_point batch_started_{};
};

}  // namespace tersify
