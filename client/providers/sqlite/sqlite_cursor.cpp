#include "client/providers/sqlite/sqlite_cursor.h"

#include <string>
#include <utility>

#include "client/errors.h"
#include "client/providers/sqlite/sqlite_column_types.h"
#include "client/providers/sqlite/sqlite_values.h"
#include "framework/rtl/exception.h"

namespace tersify::providers {
namespace {

[[noreturn]] void NoSuchColumn(int column, size_t count) {
  throw EMSError(Format("Column index %d out of range (%zu columns)", column, count), "07009");
}

[[noreturn]] void NoCurrentRow() { throw EMSError("No current row", "24000"); }

}  // namespace

SqliteStatementCursor::SqliteStatementCursor(SqliteStatement stmt, int first_step)
    : stmt_(std::move(stmt)), first_pending_(first_step == SQLITE_ROW) {
  const int count = sqlite3_column_count(stmt_.get());
  columns_.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const char* name = sqlite3_column_name(stmt_.get(), i);
    const char* declared = sqlite3_column_decltype(stmt_.get(), i);
    const int first_storage = first_pending_ ? sqlite3_column_type(stmt_.get(), i) : SQLITE_NULL;
    columns_.push_back(
        DescribeSqliteColumn(name ? name : "", declared ? declared : "", first_storage));
  }
  if (!first_pending_) stmt_.reset();
}

bool SqliteStatementCursor::Next() {
  taken_.assign(columns_.size(), false);
  if (first_pending_) {
    first_pending_ = false;
    on_row_ = true;
    return true;
  }
  on_row_ = false;
  if (!stmt_) return false;
  const int rc = sqlite3_step(stmt_.get());
  if (rc == SQLITE_ROW) {
    on_row_ = true;
    return true;
  }
  // Finished or failed: let go of the statement (and its read lock) at once.
  SqliteStatement done = std::move(stmt_);
  if (rc != SQLITE_DONE) RaiseSqliteError(sqlite3_db_handle(done.get()), rc);
  return false;
}

void SqliteStatementCursor::Close() {
  first_pending_ = false;
  on_row_ = false;
  stmt_.reset();
}

Variant SqliteStatementCursor::Value(int column) {
  if (column < 0 || static_cast<size_t>(column) >= columns_.size())
    NoSuchColumn(column, columns_.size());
  if (!on_row_) NoCurrentRow();
  if (taken_[static_cast<size_t>(column)]) return Variant::Null();
  return ColumnValue(stmt_.get(), column, columns_[static_cast<size_t>(column)].type);
}

Variant SqliteStatementCursor::TakeValue(int column) {
  Variant value = Value(column);
  taken_[static_cast<size_t>(column)] = true;
  return value;
}

std::unique_ptr<BufferedCursor> BufferedCursor::ReadAll(Cursor& source) {
  auto buffered = std::make_unique<BufferedCursor>(source.RowsAffected());
  buffered->columns_ = source.Columns();
  const int count = static_cast<int>(buffered->columns_.size());
  while (source.Next()) {
    std::vector<Variant> row;
    row.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) row.push_back(source.TakeValue(i));
    buffered->rows_.push_back(std::move(row));
  }
  return buffered;
}

bool BufferedCursor::Next() {
  if (next_ >= rows_.size()) {
    current_ = nullptr;
    return false;
  }
  current_ = &rows_[next_++];
  return true;
}

Variant& BufferedCursor::Cell(int column) {
  if (column < 0 || static_cast<size_t>(column) >= columns_.size())
    NoSuchColumn(column, columns_.size());
  if (!current_) NoCurrentRow();
  return (*current_)[static_cast<size_t>(column)];
}

Cursor& ResultSequence::Current() const {
  if (current_ >= results_.size()) NoCurrentRow();
  return *results_[current_];
}

bool ResultSequence::NextResult() {
  if (current_ >= results_.size()) return false;
  results_[current_]->Close();
  if (++current_ < results_.size()) return true;
  if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  return false;
}

void ResultSequence::Close() {
  for (; current_ < results_.size(); ++current_) results_[current_]->Close();
  // The statement that failed is not passed over unseen.
  if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

}  // namespace tersify::providers
