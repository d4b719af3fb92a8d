#include "tool/pass_engine.h"

#include <malloc.h>

#include <iostream>
#include <memory>
#include <vector>

#include "client/ms_connection.h"
#include "db/database.h"
#include "db/dataset.h"
#include "db/registries.h"
#include "framework/data/db_error.h"
#include "framework/data/field.h"
#include "framework/rtl/exception.h"
#include "framework/rtl/platform.h"
#include "tool/identifier_check.h"
#include "tool/pass_cancel.h"
#include "tool/pass_key.h"
#include "tool/pass_reader.h"
#include "tool/pass_rewrite_pool.h"
#include "tool/pass_rewriter.h"
#include "tool/pass_statements.h"
#include "tool/pass_writer.h"

namespace tersify {
namespace {

TMSConnection& PassConnection() {
  TvrDatabase* database = DefaultDatabase;
  TMSConnection* connection = database ? database->ClientConnection() : nullptr;
  if (connection == nullptr) throw Exception("The pass needs a connected default database");
  if (!connection->Connected()) connection->Open();
  return *connection;
}

// The columns of the table as a query describes them, without reading a row.
std::vector<providers::ColumnInfo> TableColumns(providers::Provider& provider, const std::string& table) {
  auto cursor = provider.Execute("select * from " + table + " where 1 = 0", {});
  std::vector<providers::ColumnInfo> columns = cursor->Columns();
  while (cursor->Next()) {
  }
  return columns;
}

const providers::ColumnInfo& ColumnNamed(const std::vector<providers::ColumnInfo>& columns,
                                         const std::string& name) {
  const std::string bare = BareSqlName(name);
  for (const providers::ColumnInfo& c : columns)
    if (SameText(c.name, bare)) return c;
  throw EDatabaseError(Format("Field '%s' not found", bare.c_str()));
}

// The blob types the dataset's binding compresses; a column without a declared
// type (SQLite) takes whatever is stored in it, so it is taken too.
bool CompressibleColumn(const providers::ColumnInfo& column) {
  return column.type == ftUnknown || TvrDataset::IsCompressibleFieldType(column.type);
}

// Large values are allocated and freed as the pass goes; fixing the threshold
// above which the allocator maps memory of its own (instead of letting it grow
// with the largest block freed) gives each large value back to the system as
// soon as it is released, so that the peak stays near two copies of it.
void ReturnLargeBlocksAtOnce() {
  static const bool tuned = [] { return mallopt(M_MMAP_THRESHOLD, 4 << 20) == 1; }();
  (void)tuned;
}

// A column described without a row may take its type from its values (a
// SQLite column without a declared type, seen through the TDS test server):
// the rare path asks how one stored value is described.
bool StoredAsBlob(providers::Provider& provider, const std::string& table, const std::string& field) {
  auto cursor = provider.Execute("select top (1) " + field + " from " + table + " where " + field +
                                     " is not null",
                                 {});
  const bool blob = !cursor->Columns().empty() && CompressibleColumn(cursor->Columns()[0]);
  cursor.reset();
  return blob;
}

void Warn(const std::string& line) { std::cerr << line << '\n' << std::flush; }

// Counts of the rows handled since the last commit, taken back when the batch
// is rolled back.
struct TBatchCounts {
  int32_t processed = 0;
};

}  // namespace

void RunPassEngine(const TPassRequest& request, int32_t& processed, int32_t& skipped,
                   TRecompressReport& report) {
  // Names go into the SQL text as given: refuse anything that is no plain name
  // before a statement is built.
  CheckSqlName("table", request.table);
  CheckSqlName("field", request.field);
  if (!request.key.empty()) CheckSqlName("key field", request.key);

  ReturnLargeBlocksAtOnce();
  TMSConnection& connection = PassConnection();
  // Every statement of the pass runs within the time limit asked for; the
  // connection gets its own back afterwards.
  struct TimeLimit {
    TMSConnection& connection;
    const int previous;
    TimeLimit(TMSConnection& c, int seconds) : connection(c), previous(c.CommandTimeout()) {
      if (seconds >= 0) connection.SetCommandTimeout(seconds);
    }
    ~TimeLimit() {
      try {
        connection.SetCommandTimeout(previous);
      } catch (...) {
        // A connection that went away takes its setting with it.
      }
    }
  } time_limit(connection, request.options.timeout_seconds);
  providers::Provider& provider = connection.GetProvider();
  const std::string provider_name = provider.Name();

  const std::vector<providers::ColumnInfo> columns = TableColumns(provider, request.table);
  const providers::ColumnInfo& field = ColumnNamed(columns, request.field);
  if (!CompressibleColumn(field) && !StoredAsBlob(provider, request.table, request.field))
    throw Exception(Format("Field %s from table %s can't be compressed", request.field.c_str(),
                           request.table.c_str()));
  if (!request.key.empty()) ColumnNamed(columns, request.key);
  const std::vector<std::string> primary_key = connection.PrimaryKeyOf(request.table);
  const TPassKey key = ResolvePassKey(provider, primary_key, request.table, request.key, provider_name);
  ColumnNamed(columns, key.name);

  const int server_major = provider_name == "sqlite" ? 0 : MajorVersion(provider.ServerVersion());
  const TPassStatements statements(provider_name, server_major, request.table, request.field, key.name);
  const bool compress = request.command == 1;
  const int threads = TRewritePool::ThreadsFor(request.options.threads);
  const int64_t budget = request.options.budget_bytes > 0 ? request.options.budget_bytes : kDefaultPassBudgetBytes;

  // What the progress event is handed for a rewritten row: a blob field named
  // after the column, attached to no dataset.
  TBlobField progress_field(nullptr);
  progress_field.SetFieldName(field.name);

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
