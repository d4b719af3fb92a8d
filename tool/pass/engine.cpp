#include "tool/pass/engine.h"

#include <iostream>
#include <memory>
#include <vector>

#include "client/ms_connection.h"
#include "framework/data/field.h"
#include "framework/rtl/platform.h"
#include "tool/pass/cancel.h"
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
// is rolled back.
struct TBatchCounts {
  int32_t processed = 0;
};

}  // namespace

void RunPassEngine(const TPassRequest& request, int32_t& processed, int32_t& skipped,
                   TRecompressReport& report) {
  // Every statement of the pass runs within the time limit asked for; the
  // connection gets its own back afterwards.
  const TPassTimeLimit time_limit(PassConnection(), request.options.timeout_seconds);
  const TPassTarget target = ResolvePassTarget(request.table, request.field, request.key);
  TMSConnection& connection = *target.connection;
  // Each large value goes back to the system as soon as it is released, so
  // that the peak stays near two copies of the largest.
  ReturnLargeBlocksAtOnce();
  providers::Provider& provider = connection.GetProvider();
  const TPassKey& key = target.key;
  const TPassStatements& statements = target.statements;
  const bool compress = request.command == 1;
  const int threads = TRewritePool::ThreadsFor(request.options.threads);
  const int64_t budget = request.options.budget_bytes > 0 ? request.options.budget_bytes : kDefaultPassBudgetBytes;

  // What the progress event is handed for a rewritten row: a blob field named
  // after the column, attached to no dataset.
  TBlobField progress_field(nullptr);
  progress_field.SetFieldName(target.field_name);

  if (request.observer) request.observer->PassStarted(static_cast<int>(key.rows));

  // Rows whose key is NULL: no statement can single them out.
  for (int64_t i = 0; i < key.null_rows; ++i) {
    ++skipped;
    ++report.null_key_rows;
    if (request.observer) request.observer->RowHandled(0, false);
    if (request.on_progress) request.on_progress(nullptr);
  }

  TPassReader reader(provider, statements, budget);
  TPassWriter writer(connection, statements, request.options.batch_rows);
  TBatchCounts batch;
  try {
    while (true) {
      std::vector<TPassRow> page = reader.NextPage();
      if (page.empty()) break;
      TRewritePool pool(page, compress, statements.Guard(), threads, budget);
      for (size_t i = 0; i < page.size(); ++i) {
        if (PassCancelRequested()) {
          writer.Rollback();
          processed -= batch.processed;
          report.end = TPassEnd::Cancelled;
          report.cancel_signal = PassCancelSignal();
          return;
        }
        TRewrittenRow row = pool.Take(i);
        if (row.error) std::rethrow_exception(row.error);
        if (!row.damage.empty()) {
          ++report.damaged_values;
          const std::string line = "Warning: the value of key " + KeyText(page[i].key) +
                                   " carries an envelope header but cannot be read (" + row.damage +
                                   "); it is taken as plain bytes";
          if (request.observer)
            request.observer->PassWarning(line);
          else
            Warn(line);
        }
        bool written = false;
        if (row.rewrite) {
          if (request.options.before_write) request.options.before_write(page[i].key);
          const TWriteOutcome outcome = writer.Write(page[i].key, std::move(row.new_stored), std::move(row.guard));
          switch (outcome) {
            case TWriteOutcome::Written: written = true; break;
            case TWriteOutcome::Changed: ++report.changed_rows; break;
            case TWriteOutcome::Deleted: ++report.deleted_rows; break;
            case TWriteOutcome::Unidentified: report.unidentified_keys.push_back(KeyText(page[i].key)); break;
          }
        }
        if (written) {
          ++processed;
          ++batch.processed;
        } else {
          ++skipped;
        }
        if (request.observer) request.observer->RowHandled(row.plain_size, written);
        if (request.on_progress) request.on_progress(written ? &progress_field : nullptr);
        if (writer.CommitIfDue()) batch.processed = 0;
        if (writer.Uncommitted() == 0) batch.processed = 0;
      }
    }
    writer.Commit();
    batch.processed = 0;
  } catch (...) {
    try {
      writer.Rollback();
    } catch (const std::exception&) {
      // The error that ended the pass is the one to report; a lost connection
      // has rolled the batch back by itself.
    }
    processed -= batch.processed;
    report.end = TPassEnd::Failed;
    throw;
  }
}

}  // namespace tersify
