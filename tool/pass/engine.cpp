#include "tool/pass/engine.h"

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "client/errors.h"
#include "client/ms_connection.h"
#include "framework/data/field.h"
#include "framework/rtl/platform.h"
#include "tool/pass/cancel.h"
#include "tool/pass/read_ahead.h"
#include "tool/pass/reader.h"
#include "tool/pass/rewrite_pool.h"
#include "tool/pass/rewriter.h"
#include "tool/pass/target.h"
#include "tool/pass/writer.h"

namespace tersify {
namespace {

// Large values are allocated and freed as the pass goes; fixing the threshold
// above which the allocator maps memory of its own (instead of letting it grow
// with the largest block freed) gives each large value back to the system as
// soon as it is released, so that the peak stays near two copies of it.
void Warn(const std::string& line) { std::cerr << line << '\n' << std::flush; }

// Counts of the rows handled since the last commit, taken back when the batch
// is rolled back: its rows keep the bytes they had.
struct TBatchCounts {
  int32_t processed = 0;
  int64_t bytes_changed = 0;  // new stored bytes less the old, over the rows written
};

void TakeBack(TBatchCounts& batch, int32_t& processed, TRecompressReport& report) {
  processed -= batch.processed;
  report.stored_bytes_left -= batch.bytes_changed;
  batch = TBatchCounts();
}

// A row handled whose counters and events wait for the rows queued before it.
struct TPendingRow {
  int64_t plain_size = 0;
  bool queued = false;   // its update waits in the writer's group
  std::string key_text;  // for the report, should the key single out no row
  int64_t stored_size = 0;  // of the value read
  int64_t new_size = 0;     // of the new stored form, once written
};

}  // namespace

void RunPassEngine(const TPassRequest& request, int32_t& processed, int32_t& skipped,
                   TRecompressReport& report) {
  // Every statement of the pass runs within the time limit asked for; the
  // connection gets its own back afterwards.
  const TPassCancelReachesRequests cancel_reaches_requests;
  const TPassTimeLimit time_limit(PassConnection(), request.options.timeout_seconds);
  const TPassTarget target = ResolvePassTarget(request.table, request.field, request.key);
  TMSConnection& connection = *target.connection;
  const TPassDeadlockPriority deadlock_priority(target);
  // Each large value goes back to the system as soon as it is released, so
  // that the peak stays near two copies of the largest.
  ReturnLargeBlocksAtOnce();
  const TPassKey& key = target.key;
  const TPassStatements& statements = target.statements;
  const bool compress = request.command == 1;
  const int threads = TRewritePool::ThreadsFor(request.options.threads);
  const int64_t budget = request.options.budget_bytes > 0 ? request.options.budget_bytes : kDefaultPassBudgetBytes;

  // What the progress event is handed for a rewritten row: a blob field named
  // after the column, attached to no dataset.
  TBlobField progress_field(nullptr);
  progress_field.SetFieldName(target.field_name);

  // One line on standard error, or to the observer that shows the pass.
  auto warn = [&](const std::string& line) {
    if (request.observer)
      request.observer->PassWarning(line);
    else
      Warn(line);
  };

  if (request.observer) request.observer->PassStarted(static_cast<int>(key.rows));
  if (!target.key_warning.empty()) warn(target.key_warning);

  // Rows whose key is NULL: no statement can single them out.
  for (int64_t i = 0; i < key.null_rows; ++i) {
    ++skipped;
    ++report.null_key_rows;
    if (request.observer) request.observer->RowHandled(0, false);
    if (request.on_progress) request.on_progress(nullptr);
  }

  TPassPages pages(connection, statements, budget, target.provider_name != "sqlite");
  TPassWriter writer(connection, statements, request.options.batch_rows, budget);
  TBatchCounts batch;
  // Rows handled and not yet told, in key order: a row queued for a group is
  // told once the group was written, and the rows after it wait their turn.
  std::vector<TPendingRow> pending;

  // One row told: counters, observer and progress event.
  auto tell = [&](const TPendingRow& row, bool written) {
    const int64_t bytes_left = written ? row.new_size : row.stored_size;
    report.stored_bytes_read += row.stored_size;
    report.stored_bytes_left += bytes_left;
    if (written) {
      ++processed;
      // A written row of the open batch is taken back should the batch be.
      if (writer.Uncommitted() > 0) {
        ++batch.processed;
        batch.bytes_changed += bytes_left - row.stored_size;
      }
    } else {
      ++skipped;
    }
    if (request.observer) request.observer->RowHandled(row.plain_size, written);
    if (request.on_progress) request.on_progress(written ? &progress_field : nullptr);
  };
  // Writes the queued group and tells every pending row; the error that
  // stopped the group is raised once the rows before it were told.
  auto flush = [&] {
    TGroupOutcome group = writer.WriteQueued();
    size_t next = 0;
    size_t told = 0;
    for (; told < pending.size(); ++told) {
      const TPendingRow& row = pending[told];
      if (!row.queued) {
        tell(row, false);
        continue;
      }
      if (next >= group.outcomes.size()) break;
      switch (group.outcomes[next++]) {
        case TWriteOutcome::Written: tell(row, true); continue;
        case TWriteOutcome::Changed: ++report.changed_rows; break;
        case TWriteOutcome::Deleted: ++report.deleted_rows; break;
        case TWriteOutcome::Unidentified: report.unidentified_keys.push_back(row.key_text); break;
      }
      tell(row, false);
    }
    pending.clear();
    if (group.error) std::rethrow_exception(group.error);
  };
  // Ends the pass on a cancel request: rows queued and not yet sent are left
  // as they are, the open batch is rolled back.
  auto cancel = [&] {
    pending.clear();
    writer.Rollback();
    TakeBack(batch, processed, report);
    report.end = TPassEnd::Cancelled;
    report.cancel_signal = PassCancelSignal();
  };
  // Once every row handled has been told, the open batch may be due; not
  // after a cancel request, which rolls it back.
  auto commit_if_due = [&] {
    if (!pending.empty() || PassCancelRequested()) return;
    if (writer.CommitIfDue() || writer.Uncommitted() == 0) batch = TBatchCounts();
  };

  try {
    while (true) {
      std::vector<TPassRow> page = pages.NextPage();
      if (page.empty()) break;
      TRewritePool pool(page, compress, statements.Guard(), threads, budget);
      for (size_t i = 0; i < page.size(); ++i) {
        if (PassCancelRequested()) return cancel();
        TRewrittenRow row = pool.Take(i);
        if (row.error) {
          // The rows before this one are written and told first.
          flush();
          std::rethrow_exception(row.error);
        }
        if (!row.damage.empty()) {
          ++report.damaged_values;
          const std::string line = "Warning: the value of key " + KeyText(page[i].key) +
                                   " carries an envelope header but cannot be read (" + row.damage +
                                   "); it is taken as plain bytes";
          warn(line);
        }
        // A new form longer than the column takes would fail as truncated
        // (or be cut short): the row keeps its value.
        if (row.rewrite && target.max_stored_bytes > 0 &&
            static_cast<int64_t>(row.new_stored.size()) > target.max_stored_bytes) {
          ++report.too_long_rows;
          warn("Warning: the value of key " + KeyText(page[i].key) + " would take " +
               std::to_string(row.new_stored.size()) + " bytes, more than the " +
               std::to_string(target.max_stored_bytes) + " its column holds; it is left as it is");
          row.rewrite = false;
        }
        if (row.rewrite && !row.decoded_damage.empty()) {
          ++report.decoded_damaged_values;
          const std::string line = "Warning: the value of key " + KeyText(page[i].key) +
                                   " is a damaged envelope (" + row.decoded_damage + "); it is rewritten as the " +
                                   std::to_string(row.plain_size) + " bytes it decodes to";
          warn(line);
        }
        TPendingRow handled{row.plain_size, row.rewrite, std::string(), row.stored_size,
                            static_cast<int64_t>(row.new_stored.size())};
        if (!row.rewrite) {
          if (pending.empty()) tell(handled, false);
          else pending.push_back(std::move(handled));
        } else {
          if (request.options.before_write) request.options.before_write(page[i].key);
          handled.key_text = KeyText(page[i].key);
          pending.push_back(std::move(handled));
          writer.Queue(page[i].key, std::move(row.new_stored), std::move(row.guard));
          if (writer.GroupDue()) flush();
        }
        commit_if_due();
      }
      // The page's last group goes before the next page is read. A cancel
      // asked for while its rows were told takes effect now.
      flush();
      if (PassCancelRequested()) return cancel();
      commit_if_due();
      // The pass never waits for the next page with a batch open: a server
      // whose reads wait for the rows the batch holds (the test server, which
      // serves a SQLite file a writer may lock whole) would have the reader
      // wait for the writer, and the writer for the reader.
      if (pages.ReadsAhead() && writer.Uncommitted() > 0) {
        writer.Commit();
        batch = TBatchCounts();
      }
    }
    writer.Commit();
    batch = TBatchCounts();
  } catch (...) {
    try {
      throw;
    } catch (const ECommittedThenLost&) {
      batch = TBatchCounts();  // the server confirmed the batch before the connection went
    } catch (const EBatchOutcomeUnknown& e) {
      report.uncertain_batch_rows = e.Rows();
    } catch (...) {
    }
    try {
      writer.Rollback();
    } catch (const std::exception&) {
      // The error that ended the pass is the one to report; a lost connection
      // has rolled the batch back by itself.
    }
    TakeBack(batch, processed, report);
    // A cancel that had to cut a request short ends the pass as a cancel.
    if (PassCancelRequested()) {
      report.end = TPassEnd::Cancelled;
      report.cancel_signal = PassCancelSignal();
      return;
    }
    report.end = TPassEnd::Failed;
    throw;
  }
}

}  // namespace tersify
