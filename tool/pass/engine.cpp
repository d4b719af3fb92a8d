#include "tool/pass/engine.h"

#include <functional>
#include <iostream>
#include <memory>
#include <set>
#include <optional>
#include <string>
#include <vector>

#include "client/errors.h"
#include "client/ms_connection.h"
#include "framework/data/field.h"
#include "framework/rtl/platform.h"
#include "tool/pass/cancel.h"
#include "tool/pass/deadlock_retry.h"
#include "tool/pass/log_space.h"
#include "tool/pass/rate_limit.h"
#include "tool/pass/read_ahead.h"
#include "tool/pass/reader.h"
#include "tool/pass/rewrite_pool.h"
#include "tool/pass/rewriter.h"
#include "tool/pass/start_key.h"
#include "tool/pass/table_warnings.h"
#include "tool/pass/target.h"
#include "tool/pass/writer.h"

namespace tersify {
namespace {

void Warn(const std::string& line) { std::cerr << line << '\n' << std::flush; }

// How far the rewriting threads may run ahead of the writer besides the rows
// of the request it fills: enough to keep it fed. Rows rewritten further ahead
// would only hold memory (up to the whole budget), whose fresh pages cost more
// to fault in than the rewrite itself on a pass that waits on its writes.
constexpr int64_t kLookaheadBytes = int64_t{2} << 20;

// The fewest rows queued that go as a group before it is full, when the
// writer would otherwise wait for the threads.
constexpr size_t kEarlyGroupRows = 64;

// A row handled whose counters and events wait for the rows queued before it.
struct TPendingRow {
  int64_t plain_size = 0;
  bool queued = false;   // its update waits in the writer's group
  std::string key_text;  // for the report, should the key single out no row
  int64_t stored_size = 0;  // of the value read
  int64_t new_size = 0;     // of the new stored form, once written
  Variant key;              // for the account of the run, and to read it again after a deadlock
  bool told_before = false;  // the observer has seen it once (a row written again)
};

// Counts of the rows handled since the last commit, taken back when the batch
// is rolled back: its rows keep the bytes they had.
struct TBatchCounts {
  int32_t processed = 0;
  int64_t bytes_changed = 0;  // new stored bytes less the old, over the rows written
  int64_t bytes_written = 0;  // new stored bytes, over the rows written
  std::vector<TPendingRow> written;  // the rows, to write them again after a deadlock
};

void TakeBack(TBatchCounts& batch, int32_t& processed, TRecompressReport& report) {
  processed -= batch.processed;
  report.stored_bytes_left -= batch.bytes_changed;
  report.stored_bytes_written -= batch.bytes_written;
  batch = TBatchCounts();
}

}  // namespace

void RunPassEngine(const TPassRequest& request, int32_t& processed, int32_t& skipped,
                   TRecompressReport& report) {
  // Every statement of the pass runs within the time limit asked for; the
  // connection gets its own back afterwards.
  const TPassCancelReachesRequests cancel_reaches_requests;
  TMSConnection& pass_connection = PassConnection();
  const TPassTimeLimit time_limit(pass_connection, request.options.timeout_seconds);
  // Across a network pages are read on a second connection (read_ahead.h),
  // which logs in while the target is resolved.
  std::unique_ptr<TPassCompanion> companion;
  if (pass_connection.GetProvider().Name() != "sqlite") companion = std::make_unique<TPassCompanion>(pass_connection);
  const TPassTarget target = ResolvePassTarget(request.table, request.field, request.key);
  // A /FROM= key that is no key of the column's type ends the pass before any write.
  const Variant start_after = StartKeyOf(target, request.options);
  report.resume_key = start_after;
  report.key_name = target.key.name;
  TMSConnection& connection = *target.connection;
  // Each large value goes back to the system as soon as it is released, so
  // that the peak stays near two copies of the largest.
  ReturnLargeBlocksAtOnce();
  const TPassKey& key = target.key;
  const TPassStatements& statements = target.statements;
  const bool compress = request.command == 1;
  const int threads = TRewritePool::ThreadsFor(request.options.threads);
  const int64_t budget = request.options.budget_bytes > 0 ? request.options.budget_bytes : kDefaultPassBudgetBytes;

  const auto stop_at_for_waits = request.options.stop_at;
  std::optional<TRateLimit> rate;
  if (request.options.max_rate_mb_per_s > 0)
    rate.emplace(request.options.max_rate_mb_per_s * kBytesPerRateMB,
                 [stop_at_for_waits] { return PassWaitMustEnd(stop_at_for_waits); });
  // Across a network the first page is on its way while the warnings and the
  // rows without a key are told.
  TPassPages pages(connection, statements, budget, companion.get(), start_after, rate ? &*rate : nullptr);

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
  // What the rewrite touches beyond the column is told before the first row.
  for (const std::string& line : TableWarnings(target, request.table, target.field_name, key.rows)) warn(line);

  if (request.observer) request.observer->PassStarted(key.rows);
  if (!target.key_warning.empty()) warn(target.key_warning);

  // Rows whose key is NULL: no statement can single them out. They come
  // before every key, so a pass that starts after a key has none.
  for (int64_t i = 0; start_after.IsNull() && i < key.null_rows; ++i) {
    ++skipped;
    ++report.null_key_rows;
    if (request.observer) request.observer->RowHandled(0, false);
    if (request.on_progress) request.on_progress(nullptr);
  }

  const std::unique_ptr<TLogSpaceWatch> log_watch =
      PassLogSpaceWatch(request.options, connection.GetProvider(), target.provider_name == "sqlite", warn);

  TPassWriter writer(connection, statements, request.options.batch_rows, budget);
  // Decompressing, the new forms are the large ones: the rows of the request
  // being filled, and a little more. A compressed form holds little, and the
  // threads are what such a pass waits on: the budget alone bounds them.
  const int64_t lookahead = compress ? 0 : writer.GroupBytes() + kLookaheadBytes;
  TBatchCounts batch;
  // Rows handled and not yet told, in key order: a row queued for a group is
  // told once the group was written, and the rows after it wait their turn.
  std::vector<TPendingRow> pending;
  // The key of the last row told. Rows are told in key order, so once every
  // row told is committed it is the key a resumed pass starts after.
  Variant last_told;
  auto all_told_committed = [&] {
    if (!last_told.IsNull()) report.resume_key = last_told;
  };
  const auto& stop_at = request.options.stop_at;
  auto time_is_up = [&] {
    if (!stop_at) return false;
    const auto now = request.options.clock ? request.options.clock() : std::chrono::steady_clock::now();
    return now >= *stop_at;
  };

  TDeadlockRetry deadlock_retry;
  const bool batched = request.options.batch_rows > 1;

  // One row told: counters, observer and progress event (a row told before
  // a deadlock undid its write has had its events).
  auto tell = [&](const TPendingRow& row, bool written) {
    const int64_t bytes_left = written ? row.new_size : row.stored_size;
    report.stored_bytes_read += row.stored_size;
    report.stored_bytes_left += bytes_left;
    if (written) {
      ++processed;
      report.stored_bytes_written += row.new_size;
      // A written row of the open batch is taken back should the batch be.
      if (writer.Uncommitted() > 0) {
        ++batch.processed;
        batch.bytes_changed += bytes_left - row.stored_size;
        batch.bytes_written += row.new_size;
        batch.written.push_back(row);
      }
    } else {
      ++skipped;
    }
    if (report.first_key.IsNull()) report.first_key = row.key;
    last_told = row.key;
    // In the default mode each write commits as it runs; a row left alone
    // needs no commit, only the rows of the open batch before it.
    if (writer.Uncommitted() == 0) all_told_committed();
    if (row.told_before) return;
    if (request.observer) request.observer->RowHandled(row.plain_size, written);
    if (request.on_progress) request.on_progress(written ? &progress_field : nullptr);
  };
  // A written row of a batch a deadlock rolled back is no longer counted.
  auto untell = [&](const TPendingRow& row) {
    --processed;
    report.stored_bytes_read -= row.stored_size;
    report.stored_bytes_left -= row.new_size;
    report.stored_bytes_written -= row.new_size;
  };
  std::function<void()> flush;
  std::function<void(const std::vector<Variant>&, const std::set<std::string>&)> write_again;

  // One row rewritten: told at once when nothing waits before it, else
  // queued in order; its update goes in the writer's next group.
  auto handle = [&](const Variant& key, TRewrittenRow& row, bool told_before) {
    if (!row.damage.empty() && !told_before) {
      ++report.damaged_values;
      report.damaged_keys.push_back(KeyText(key));
      const std::string line = "Warning: the value of key " + KeyText(key) +
                               " carries an envelope header but cannot be read (" + row.damage +
                               "); it is taken as plain bytes";
      warn(line);
    }
    // A new form longer than the column takes would fail as truncated
    // (or be cut short): the row keeps its value.
    if (row.rewrite && target.max_stored_bytes > 0 &&
        static_cast<int64_t>(row.new_stored.size()) > target.max_stored_bytes) {
      if (!told_before) {
        ++report.too_long_rows;
        warn("Warning: the value of key " + KeyText(key) + " would take " + std::to_string(row.new_stored.size()) +
             " bytes, more than the " + std::to_string(target.max_stored_bytes) +
             " its column holds; it is left as it is");
      }
      row.rewrite = false;
    }
    if (row.rewrite && !row.decoded_damage.empty() && !told_before) {
      ++report.decoded_damaged_values;
      warn("Warning: the value of key " + KeyText(key) + " is a damaged envelope (" + row.decoded_damage +
           "); it is rewritten as the " + std::to_string(row.plain_size) + " bytes it decodes to");
    }
    TPendingRow handled{row.plain_size, row.rewrite, std::string(), row.stored_size,
                        static_cast<int64_t>(row.new_stored.size()), key, told_before};
    if (!row.rewrite) {
      if (pending.empty()) tell(handled, false);
      else pending.push_back(std::move(handled));
      return;
    }
    if (request.options.before_write) request.options.before_write(key);
    handled.key_text = KeyText(key);
    pending.push_back(std::move(handled));
    writer.Queue(key, std::move(row.new_stored), std::move(row.guard));
    if (writer.GroupDue()) flush();
  };

  // Writes the queued group and tells every pending row; the error that
  // stopped the group is raised once the rows before it were told. The rows
  // whose writes a deadlock undid are written again (deadlock_retry.h): in
  // the default mode those of the group not answered, with a batch every
  // row of the batch.
  flush = [&] {
    TGroupOutcome group = writer.WriteQueued();
    const bool again = group.error && deadlock_retry.MayRetry(group.error);
    if (!group.error) deadlock_retry.Succeeded();
    std::vector<Variant> lost;
    std::set<std::string> lost_told;  // key texts of the lost rows told before
    auto lose = [&](const TPendingRow& row, bool told) {
      lost.push_back(row.key);
      if (told) lost_told.insert(row.key_text);
    };
    if (again && batched) {
      for (const TPendingRow& row : batch.written) {
        untell(row);
        lose(row, true);
      }
      batch = TBatchCounts();
      group.outcomes.clear();  // the group's writes went with the batch
    }
    size_t next = 0;
    size_t told = 0;
    for (; told < pending.size(); ++told) {
      const TPendingRow& row = pending[told];
      if (!row.queued) {
        tell(row, false);
        continue;
      }
      if (next >= group.outcomes.size()) {
        if (!again) break;
        lose(row, row.told_before);
        continue;
      }
      switch (group.outcomes[next++]) {
        case TWriteOutcome::Written: tell(row, true); continue;
        case TWriteOutcome::Changed: ++report.changed_rows; break;
        case TWriteOutcome::Deleted: ++report.deleted_rows; break;
        case TWriteOutcome::Unidentified: report.unidentified_keys.push_back(row.key_text); break;
      }
      tell(row, false);
    }
    pending.clear();
    if (again) {
      try {
        writer.Rollback();
      } catch (const EMSError&) {
        // The server rolled the batch back when it chose the victim, so a
        // rollback it no longer expects may fail; a lost connection fails
        // the reads that follow and ends the pass.
      }
      write_again(lost, lost_told);
      return;
    }
    if (group.error) std::rethrow_exception(group.error);
  };
  // The lost rows, read again by their keys and handled as a page of their own.
  write_again = [&](const std::vector<Variant>& keys, const std::set<std::string>& told_keys) {
    std::vector<Variant> gone;
    std::vector<TPassRow> rows = ReadRowsAgain(connection.GetProvider(), statements, keys, gone);
    for (const Variant& key : gone) {
      TPendingRow row;
      row.key = key;
      row.key_text = KeyText(key);
      row.told_before = told_keys.count(row.key_text) > 0;
      ++report.deleted_rows;
      if (pending.empty()) tell(row, false);
      else pending.push_back(std::move(row));
    }
    for (TPassRow& read : rows) {
      const bool told_before = told_keys.count(KeyText(read.key)) > 0;
      TRewrittenRow row = RewriteRow(read, compress, statements.Guard());
      if (row.error) {
        flush();
        std::rethrow_exception(row.error);
      }
      handle(read.key, row, told_before);
    }
    flush();
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
    if (writer.CommitIfDue() || writer.Uncommitted() == 0) {
      batch = TBatchCounts();
      all_told_committed();
    }
  };
  // Ends the pass at the time limit, at a row boundary: the rows queued are
  // written and the open batch is committed.
  auto stop = [&] {
    flush();
    writer.Commit();
    batch = TBatchCounts();
    all_told_committed();
    report.end = TPassEnd::Stopped;
  };

  try {
    // The first page is on its way on the second connection meanwhile.
    if (pages.ReadsAhead()) writer.StartBatch();
    while (true) {
      if (time_is_up()) return stop();
      std::vector<TPassRow> page = pages.NextPage();
      if (page.empty()) break;
      TRewritePool pool(page, compress, statements.Guard(), threads, budget, lookahead);
      for (size_t i = 0; i < page.size(); ++i) {
        if (PassCancelRequested()) return cancel();
        if (time_is_up()) return stop();
        // Compressing, the rows queued go at once rather than wait with the
        // writer for the next one to be rewritten, the server idle meanwhile
        // (enough of them to be worth a request): such a pass waits on its
        // threads, so the server writes as they go, and across a network the
        // answer's round trip passes while they work. (Decompressing, the
        // threads wait at the look-ahead for the writer, which waits on the
        // server: a row not ready there says nothing of an idle server.)
        if (compress && writer.Queued() >= kEarlyGroupRows && pool.WouldWait(i)) flush();
        TRewrittenRow row = pool.Take(i);
        if (row.error) {
          // The rows before this one are written and told first.
          flush();
          std::rethrow_exception(row.error);
        }
        // The log is looked at only between batches, with nothing queued.
        if (row.rewrite && log_watch && writer.Queued() == 0 && writer.Uncommitted() == 0) {
          const bool room = batched ? log_watch->WaitForRoom() : log_watch->WaitForRoomIfDue();
          if (!room && PassCancelRequested()) return cancel();
          if (!room && time_is_up()) return stop();
        }
        handle(page[i].key, row, false);
        commit_if_due();
      }
      // A next page that has arrived is no wait: the rows queued go on into
      // its groups, and the batch goes on over it.
      if (pages.ReadsAhead() && pages.NextPageArrived() && !rate) continue;
      // Else the page's last group goes before the next page is read. A
      // cancel asked for while its rows were told takes effect now.
      flush();
      if (PassCancelRequested()) return cancel();
      commit_if_due();
      // The pass never waits for the next page with a batch open: a server
      // whose reads wait for the rows the batch holds (the test server, which
      // serves a SQLite file a writer may lock whole) would have the reader
      // wait for the writer, and the writer for the reader.
      // Nor while it waits for the rate limit before the next page. (The
      // transaction a commit may leave open holds nothing until it writes.)
      if ((pages.ReadsAhead() || rate) && writer.Uncommitted() > 0) {
        writer.CommitAndGoOn();
        batch = TBatchCounts();
        all_told_committed();
      }
    }
    flush();
    if (PassCancelRequested()) return cancel();
    writer.Commit();
    batch = TBatchCounts();
    all_told_committed();
  } catch (...) {
    try {
      throw;
    } catch (const ECommittedThenLost&) {
      batch = TBatchCounts();  // the server confirmed the batch before the connection went
      all_told_committed();
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
