#pragma once
// Results of a statement: the columns as every provider describes them, a
// forward cursor that reads values on demand (long values in 64 KiB pieces,
// never truncated), and a cursor over rows already in memory.

#include "client/providers/odbc/odbc_api.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/providers/odbc/odbc_handle.h"
#include "client/providers/provider.h"

namespace tersify::providers::odbc {

class OdbcConnection;

// A result column with what the driver said about it.
struct ResultColumn {
  ColumnInfo info;
  SQLSMALLINT sql_type = SQL_UNKNOWN_TYPE;
  SQLULEN column_size = 0;
  SQLSMALLINT decimal_digits = 0;
};

// The declared type of a column from the driver's type name, SQL type and size:
// ("varbinary", SQL_VARBINARY, 0) -> "varbinary(max)"; ("nvarchar", .., 30) ->
// "nvarchar(30)"; ("int identity", ..) -> "int".
std::string DeclaredTypeText(const std::string& type_name, SQLSMALLINT sql_type,
                             SQLULEN column_size, SQLSMALLINT decimal_digits);

// The columns of the current result of a statement; empty when it has none.
std::vector<ResultColumn> DescribeResultColumns(const StmtHandle& stmt);

// One value of the current row (column is 1-based). Long values are read in
// pieces of buffer's size until the driver has no more.
Variant ReadColumnValue(const StmtHandle& stmt, SQLUSMALLINT column, const ResultColumn& info,
                        std::vector<char>& buffer);

// Moves to the first result that has columns, adding up the row counts of
// those before it. False when there is none.
bool SkipToRowResult(const StmtHandle& stmt, int64_t& rows_affected);

// Reads and discards every remaining result, adding up their row counts.
void DrainResults(const StmtHandle& stmt, int64_t& rows_affected);

// A forward cursor over an executed statement. The statement is released when
// the last row has been read or the cursor is destroyed; the connection closes
// it first if it goes away while the cursor still lives. By default the cursor
// is at the first result with columns (the counts before it added up); with
// each_result it stands at every result in turn (NextResult), the statement
// released after the last.
class OdbcCursor : public Cursor {
 public:
  OdbcCursor(std::shared_ptr<OdbcConnection> connection, std::shared_ptr<StmtHandle> stmt,
             bool each_result = false);
  ~OdbcCursor() override;

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  bool Next() override;
  Variant Value(int column) override;
  Variant TakeValue(int column) override;
  // Dates, times and decimals as the server's own text: the server converts
  // that text back to the column's type exactly (datetime in the ISO form,
  // which no date format setting reads otherwise).
  Variant KeyValue(int column) override;
  // Reads off what is left of the results instead of cancelling them: FreeTDS
  // lets go of its copy of the last row only once the results end, while after
  // a cancel it keeps it until the next statement's answer.
  void Close() override { Finish(); }
  int64_t RowsAffected() const override { return rows_affected_; }
  bool NextResult() override;

 private:
  void Finish();
  // Columns or row count of the result the statement stands at.
  void DescribeResult();
  // The value of the column, read (with the columns before it) when not yet read.
  Variant& Cell(int column);
  const StmtHandle& Statement() const;

  std::shared_ptr<OdbcConnection> connection_;
  std::shared_ptr<StmtHandle> stmt_;
  std::vector<ResultColumn> result_columns_;
  std::vector<ColumnInfo> columns_;
  std::vector<std::optional<Variant>> values_;
  size_t next_unread_ = 0;  // columns before it have been read for this row
  bool on_row_ = false;
  bool finished_ = false;
  const bool each_result_;
  bool rows_done_ = false;  // each_result: the current result's rows have been read
  int64_t rows_affected_ = -1;
  std::vector<char> buffer_;
};

// A cursor over rows read in advance (a procedure's results, read before its
// output parameters can be).
class MemoryCursor : public Cursor {
 public:
  MemoryCursor(std::vector<ColumnInfo> columns, std::vector<std::vector<Variant>> rows,
               int64_t rows_affected)
      : columns_(std::move(columns)), rows_(std::move(rows)), rows_affected_(rows_affected) {}

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  bool Next() override;
  Variant Value(int column) override;
  Variant TakeValue(int column) override { return MoveOut(Cell(column)); }
  int64_t RowsAffected() const override { return rows_affected_; }

 private:
  Variant& Cell(int column);
  std::vector<ColumnInfo> columns_;
  std::vector<std::vector<Variant>> rows_;
  int64_t rows_affected_;
  size_t next_ = 0;  // 1-based position of the current row; 0 before the first
};

}  // namespace tersify::providers::odbc
