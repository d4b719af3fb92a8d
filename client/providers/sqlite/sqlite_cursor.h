#pragma once
// The cursors the sqlite provider hands out.

#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

#include "client/providers/provider.h"
#include "client/providers/sqlite/sqlite_handles.h"

namespace tersify::providers {

// Rows of one prepared statement, stepped one at a time: only the current row
// is held. The statement has been stepped once already (so that columns
// without a declared type can be typed from the first value); first_step is
// the result of that step, SQLITE_ROW or SQLITE_DONE.
class SqliteStatementCursor final : public Cursor {
 public:
  SqliteStatementCursor(SqliteStatement stmt, int first_step);

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  bool Next() override;
  Variant Value(int column) override;
  // SQLite keeps the value; it is read (copied) once, and null afterwards.
  Variant TakeValue(int column) override;
  // Lets go of the statement (and its read lock) without stepping through the
  // rows left.
  void Close() override;
  int64_t RowsAffected() const override { return -1; }

 private:
  SqliteStatement stmt_;  // released once the rows are exhausted
  std::vector<ColumnInfo> columns_;
  std::vector<bool> taken_;  // columns of the current row handed over
  bool first_pending_ = false;
  bool on_row_ = false;
};

// Rows held in memory: a statement without rows (just its RowsAffected), or the
// rows of a result that had to be read before later statements of a text ran.
class BufferedCursor final : public Cursor {
 public:
  explicit BufferedCursor(int64_t rows_affected) : rows_affected_(rows_affected) {}
  // Reads every row of source.
  static std::unique_ptr<BufferedCursor> ReadAll(Cursor& source);

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  bool Next() override;
  Variant Value(int column) override { return Cell(column); }
  Variant TakeValue(int column) override { return MoveOut(Cell(column)); }
  int64_t RowsAffected() const override { return rows_affected_; }

 private:
  Variant& Cell(int column);
  std::vector<ColumnInfo> columns_;
  std::vector<std::vector<Variant>> rows_;
  size_t next_ = 0;
  std::vector<Variant>* current_ = nullptr;
  int64_t rows_affected_ = -1;
};

// The results of a text's statements in turn (ExecuteEach), perhaps ended by
// the error of the statement that failed.
class ResultSequence final : public Cursor {
 public:
  void Add(std::unique_ptr<Cursor> result) { results_.push_back(std::move(result)); }
  void Fail(std::exception_ptr error) { error_ = std::move(error); }
  bool Empty() const { return results_.empty(); }

  const std::vector<ColumnInfo>& Columns() const override { return Current().Columns(); }
  bool Next() override { return Current().Next(); }
  Variant Value(int column) override { return Current().Value(column); }
  Variant TakeValue(int column) override { return Current().TakeValue(column); }
  void Close() override;
  int64_t RowsAffected() const override { return Current().RowsAffected(); }
  bool NextResult() override;

 private:
  Cursor& Current() const;
  std::vector<std::unique_ptr<Cursor>> results_;
  size_t current_ = 0;
  std::exception_ptr error_;
};

}  // namespace tersify::providers
