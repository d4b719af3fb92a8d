#include "client/providers/odbc/odbc_cursor.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "client/errors.h"
#include "client/providers/odbc/odbc_connection.h"
#include "client/providers/odbc/odbc_parameters.h"

namespace tersify::providers::odbc {
namespace {

// Pieces in which long values are read.
constexpr size_t kChunkBytes = 64 * 1024;

// SQL Server types Microsoft's driver reports with its own codes.
constexpr SQLSMALLINT kSsVariant = -150;
constexpr SQLSMALLINT kSsXml = -152;
constexpr SQLSMALLINT kSsTime2 = -154;
constexpr SQLSMALLINT kSsTimestampOffset = -155;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string NameFromSqlType(SQLSMALLINT sql_type) {
  switch (sql_type) {
    case SQL_CHAR: return "char";
    case SQL_VARCHAR: return "varchar";
    case SQL_LONGVARCHAR: return "text";
    case SQL_WCHAR: return "nchar";
    case SQL_WVARCHAR: return "nvarchar";
    case SQL_WLONGVARCHAR: return "ntext";
    case SQL_BINARY: return "binary";
    case SQL_VARBINARY: return "varbinary";
    case SQL_LONGVARBINARY: return "image";
    case SQL_BIT: return "bit";
    case SQL_TINYINT: return "tinyint";
    case SQL_SMALLINT: return "smallint";
    case SQL_INTEGER: return "int";
    case SQL_BIGINT: return "bigint";
    case SQL_REAL: return "real";
    case SQL_FLOAT:
    case SQL_DOUBLE: return "float";
    case SQL_DECIMAL: return "decimal";
    case SQL_NUMERIC: return "numeric";
    case SQL_TYPE_DATE: return "date";
    case SQL_TYPE_TIME:
    case kSsTime2: return "time";
    case SQL_TYPE_TIMESTAMP: return "datetime";
    case kSsTimestampOffset: return "datetimeoffset";
    case SQL_GUID: return "uniqueidentifier";
    case kSsXml: return "xml";
    case kSsVariant: return "sql_variant";
    default: return "";
  }
}

enum class ValueKind { Integer, Bit, Float, Decimal, Timestamp, Time, Binary, Text };

ValueKind KindOf(SQLSMALLINT sql_type) {
  switch (sql_type) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT: return ValueKind::Integer;
    case SQL_BIT: return ValueKind::Bit;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE: return ValueKind::Float;
    case SQL_DECIMAL:
    case SQL_NUMERIC: return ValueKind::Decimal;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATE:
    case SQL_TIMESTAMP:
    case kSsTimestampOffset: return ValueKind::Timestamp;
    case SQL_TYPE_TIME:
    case SQL_TIME:
    case kSsTime2: return ValueKind::Time;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return ValueKind::Binary;
    default: return ValueKind::Text;
  }
}

template <typename T>
bool GetFixed(const StmtHandle& stmt, SQLUSMALLINT column, SQLSMALLINT c_type, T& value) {
  SQLLEN indicator = 0;
  stmt.Check(SQLGetData(stmt.get(), column, c_type, &value, sizeof value, &indicator),
             "SQLGetData");
  return indicator != SQL_NULL_DATA;
}

// A long value in pieces: binary pieces fill the buffer, text pieces hold a
// terminator (and may stop short of a character that does not fit).
std::optional<std::string> GetLong(const StmtHandle& stmt, SQLUSMALLINT column, bool binary,
                                   std::vector<char>& buffer) {
  if (buffer.size() < kChunkBytes) buffer.resize(kChunkBytes);
  const SQLSMALLINT c_type = binary ? SQL_C_BINARY : SQL_C_CHAR;
  const SQLLEN room = static_cast<SQLLEN>(buffer.size()) - (binary ? 0 : 1);
  std::string out;
  bool first = true;
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc = stmt.Check(SQLGetData(stmt.get(), column, c_type, buffer.data(),
                                               static_cast<SQLLEN>(buffer.size()), &indicator),
                                    "SQLGetData");
    if (rc == SQL_NO_DATA) break;  // every piece has been read
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    if (indicator == SQL_NO_TOTAL || indicator > room) {
      // Buffer full, more to come (01004).
      if (first && indicator > room) out.reserve(static_cast<size_t>(indicator));
      const size_t piece = binary ? static_cast<size_t>(room)
                                  : strnlen(buffer.data(), static_cast<size_t>(room));
      out.append(buffer.data(), piece);
      first = false;
      continue;
    }
    out.append(buffer.data(), static_cast<size_t>(std::max<SQLLEN>(indicator, 0)));
    break;
  }
  return out;
}

// Decimal, numeric and money values read as floating point, as through every
// provider (the variant has no decimal kind); read as text so that no driver
// rounding happens on the way.
Variant DecimalFromText(const std::string& text) {
  double d = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
  if (ec != std::errc() || end != text.data() + text.size())
    throw EMSError("Invalid numeric value '" + text + "'");
  return Variant(d);
}

// "13:45:30", "13:45:30.2500000" -> the time of day (milliseconds rounded).
TDateTime TimeFromText(const std::string& text) {
  int h = 0, m = 0, sec = 0, used = 0;
  if (std::sscanf(text.c_str(), "%d:%d:%d%n", &h, &m, &sec, &used) != 3)
    throw EMSError("Invalid time value '" + text + "'");
  double fraction = 0;
  if (static_cast<size_t>(used) < text.size() && text[static_cast<size_t>(used)] == '.') {
    const std::string digits = "0" + text.substr(static_cast<size_t>(used));
    std::from_chars(digits.data(), digits.data() + digits.size(), fraction);
  }
  const double ms = std::min(std::round(fraction * 1000.0), 999.0);
  return TDateTime{(h * 3600000.0 + m * 60000.0 + sec * 1000.0 + ms) / 86400000.0};
}

}  // namespace

std::string DeclaredTypeText(const std::string& type_name, SQLSMALLINT sql_type,
                             SQLULEN column_size, SQLSMALLINT decimal_digits) {
  std::string name = Lower(type_name);
  for (const char* suffix : {" identity"}) {
    const size_t n = std::strlen(suffix);
    if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0) name.resize(name.size() - n);
  }
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.empty()) {
    name = NameFromSqlType(sql_type);
    if (name.empty()) return "";
  }
  if (name.find('(') != std::string::npos) return name;
  // SQL Server's timestamp is a row version: eight bytes, not a date.
  if (name == "timestamp" && (sql_type == SQL_BINARY || sql_type == SQL_VARBINARY))
    return "binary(8)";
  const bool wide = name == "nchar" || name == "nvarchar";
  if (wide || name == "char" || name == "varchar" || name == "binary" || name == "varbinary") {
    const SQLULEN limit = wide ? 4000 : 8000;
    if (column_size == 0 || column_size > limit) return name + "(max)";
    return name + "(" + std::to_string(column_size) + ")";
  }
  if (name == "decimal" || name == "numeric")
    return name + "(" + std::to_string(column_size) + "," + std::to_string(decimal_digits) + ")";
  return name;
}

std::vector<ResultColumn> DescribeResultColumns(const StmtHandle& stmt) {
  SQLSMALLINT count = 0;
  stmt.Check(SQLNumResultCols(stmt.get(), &count), "SQLNumResultCols");
  std::vector<ResultColumn> columns;
  columns.reserve(static_cast<size_t>(std::max<SQLSMALLINT>(count, 0)));
  for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(std::max<SQLSMALLINT>(count, 0)); ++i) {
    SQLCHAR name[512] = {};
    SQLSMALLINT name_length = 0, sql_type = 0, digits = 0, nullable = SQL_NULLABLE_UNKNOWN;
    SQLULEN size = 0;
    stmt.Check(SQLDescribeCol(stmt.get(), i, name, sizeof name, &name_length, &sql_type, &size,
                              &digits, &nullable),
               "SQLDescribeCol");
    char type_name[256] = {};
    SQLSMALLINT type_name_length = 0;
    stmt.Check(SQLColAttribute(stmt.get(), i, SQL_DESC_TYPE_NAME, type_name, sizeof type_name,
                               &type_name_length, nullptr),
               "SQLColAttribute(SQL_DESC_TYPE_NAME)");
    ResultColumn c;
    c.sql_type = sql_type;
    c.column_size = size;
    c.decimal_digits = digits;
    const std::string column_name(reinterpret_cast<const char*>(name),
                                  std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(name_length, 0)),
                                                   sizeof name - 1));
    c.info = DescribeColumn(column_name, DeclaredTypeText(type_name, sql_type, size, digits));
    c.info.nullable = nullable != SQL_NO_NULLS;
    columns.push_back(std::move(c));
  }
  return columns;
}

Variant ReadColumnValue(const StmtHandle& stmt, SQLUSMALLINT column, const ResultColumn& info,
                        std::vector<char>& buffer) {
  switch (KindOf(info.sql_type)) {
    case ValueKind::Integer: {
      SQLBIGINT v = 0;
      return GetFixed(stmt, column, SQL_C_SBIGINT, v) ? Variant(static_cast<long long>(v))
                                                      : Variant::Null();
    }
    case ValueKind::Bit: {
      unsigned char v = 0;
      return GetFixed(stmt, column, SQL_C_BIT, v) ? Variant(v != 0) : Variant::Null();
    }
    case ValueKind::Float: {
      double v = 0;
      return GetFixed(stmt, column, SQL_C_DOUBLE, v) ? Variant(v) : Variant::Null();
    }
    case ValueKind::Decimal: {
      std::optional<std::string> text = GetLong(stmt, column, false, buffer);
      return text ? DecimalFromText(*text) : Variant::Null();
    }
    case ValueKind::Timestamp: {
      SQL_TIMESTAMP_STRUCT v{};
      return GetFixed(stmt, column, SQL_C_TYPE_TIMESTAMP, v) ? Variant(FromTimestamp(v))
                                                             : Variant::Null();
    }
    case ValueKind::Time: {
      // As text: the time structure has no fraction of a second.
      std::optional<std::string> text = GetLong(stmt, column, false, buffer);
      return text ? Variant(TimeFromText(*text)) : Variant::Null();
    }
    case ValueKind::Binary: {
      std::optional<std::string> bytes = GetLong(stmt, column, true, buffer);
      return bytes ? Variant(TBytes{std::move(*bytes)}) : Variant::Null();
    }
    case ValueKind::Text: {
      std::optional<std::string> text = GetLong(stmt, column, false, buffer);
      return text ? Variant(std::move(*text)) : Variant::Null();
    }
  }
  return Variant::Null();
}

bool SkipToRowResult(const StmtHandle& stmt, int64_t& rows_affected) {
  for (;;) {
    SQLSMALLINT count = 0;
    stmt.Check(SQLNumResultCols(stmt.get(), &count), "SQLNumResultCols");
    if (count > 0) return true;
    SQLLEN rows = -1;
    stmt.Check(SQLRowCount(stmt.get(), &rows), "SQLRowCount");
    if (rows >= 0) rows_affected = std::max<int64_t>(rows_affected, 0) + rows;
    if (stmt.Check(SQLMoreResults(stmt.get()), "SQLMoreResults") == SQL_NO_DATA) return false;
  }
}

void DrainResults(const StmtHandle& stmt, int64_t& rows_affected) {
  while (stmt.Check(SQLMoreResults(stmt.get()), "SQLMoreResults") != SQL_NO_DATA) {
    SQLSMALLINT count = 0;
    stmt.Check(SQLNumResultCols(stmt.get(), &count), "SQLNumResultCols");
    if (count > 0) continue;
    SQLLEN rows = -1;
    stmt.Check(SQLRowCount(stmt.get(), &rows), "SQLRowCount");
    if (rows >= 0) rows_affected = std::max<int64_t>(rows_affected, 0) + rows;
  }
}

OdbcCursor::OdbcCursor(std::shared_ptr<OdbcConnection> connection, std::shared_ptr<StmtHandle> stmt,
                       bool each_result)
    : connection_(std::move(connection)), stmt_(std::move(stmt)), each_result_(each_result) {
  if (each_result_) {
    DescribeResult();
    return;
  }
  if (!SkipToRowResult(*stmt_, rows_affected_)) {
    Finish();
    return;
  }
  result_columns_ = DescribeResultColumns(*stmt_);
  columns_.reserve(result_columns_.size());
  for (const ResultColumn& c : result_columns_) columns_.push_back(c.info);
}

OdbcCursor::~OdbcCursor() {
  // Destroyed before its end: close the cursor (the driver cancels what is
  // left and waits for the server to confirm), then free the statement.
  if (stmt_ && *stmt_) {
    try {
      connection_->Bounded([&] { TraceOdbc("SQLFreeStmt(SQL_CLOSE)", SQLFreeStmt(stmt_->get(), SQL_CLOSE)); });
    } catch (const EMSError&) {
      // Cut off: the connection now counts as lost and says so at its next request.
    }
  }
  stmt_.reset();
}

void OdbcCursor::DescribeResult() {
  const StmtHandle& stmt = Statement();
  result_columns_ = DescribeResultColumns(stmt);
  columns_.clear();
  for (const ResultColumn& c : result_columns_) columns_.push_back(c.info);
  rows_affected_ = -1;
  rows_done_ = result_columns_.empty();
  on_row_ = false;
  if (result_columns_.empty()) {
    SQLLEN rows = -1;
    stmt.Check(SQLRowCount(stmt.get(), &rows), "SQLRowCount");
    rows_affected_ = rows;
  }
}

bool OdbcCursor::NextResult() {
  if (!each_result_ || finished_) return false;
  const StmtHandle& stmt = Statement();
  on_row_ = false;
  if (connection_->Bounded([&] { return stmt.Check(SQLMoreResults(stmt.get()), "SQLMoreResults"); }) ==
      SQL_NO_DATA) {
    finished_ = true;
    connection_->Bounded([&] { stmt.Check(SQLFreeStmt(stmt.get(), SQL_CLOSE), "SQLFreeStmt(SQL_CLOSE)"); });
    stmt_.reset();
    return false;
  }
  connection_->Bounded([&] { DescribeResult(); });
  return true;
}

const StmtHandle& OdbcCursor::Statement() const {
  if (!stmt_ || !*stmt_) throw EMSError("The cursor's connection is closed");
  return *stmt_;
}

void OdbcCursor::Finish() {
  if (finished_) return;
  finished_ = true;
  on_row_ = false;
  if (stmt_ && *stmt_) {
    connection_->Bounded([&] {
      DrainResults(*stmt_, rows_affected_);
      stmt_->Check(SQLFreeStmt(stmt_->get(), SQL_CLOSE), "SQLFreeStmt(SQL_CLOSE)");
    });
  }
  stmt_.reset();
}

bool OdbcCursor::Next() {
  if (finished_ || rows_done_) return false;
  const StmtHandle& stmt = Statement();
  values_.assign(result_columns_.size(), std::nullopt);
  next_unread_ = 0;
  if (connection_->Bounded([&] { return stmt.Check(SQLFetch(stmt.get()), "SQLFetch"); }) == SQL_NO_DATA) {
    on_row_ = false;
    // Results of the statement may follow; the last one releases it.
    if (each_result_) rows_done_ = true;
    else Finish();
    return false;
  }
  on_row_ = true;
  return true;
}

Variant OdbcCursor::Value(int column) { return Cell(column); }

Variant OdbcCursor::TakeValue(int column) { return MoveOut(Cell(column)); }

Variant OdbcCursor::KeyValue(int column) {
  if (column < 0 || static_cast<size_t>(column) >= result_columns_.size() || !on_row_ ||
      next_unread_ != static_cast<size_t>(column))
    return Cell(column);
  const ResultColumn& info = result_columns_[static_cast<size_t>(column)];
  const ValueKind kind = KindOf(info.sql_type);
  if (kind != ValueKind::Timestamp && kind != ValueKind::Decimal) return Cell(column);
  std::optional<std::string> text = connection_->Bounded([&] {
    return GetLong(Statement(), static_cast<SQLUSMALLINT>(column + 1), false, buffer_);
  });
  ++next_unread_;
  Variant& cell = *(values_[static_cast<size_t>(column)] = text ? Variant(*text) : Variant::Null());
  const std::string& declared = info.info.declared_type;
  if (text && text->size() > 10 && (*text)[10] == ' ' &&
      (declared == "datetime" || declared == "smalldatetime"))
    cell = Variant(text->substr(0, 10) + "T" + text->substr(11));
  return cell;
}

Variant& OdbcCursor::Cell(int column) {
  if (column < 0 || static_cast<size_t>(column) >= result_columns_.size())
    throw EMSError("Column index " + std::to_string(column) + " out of range");
  if (!on_row_) throw EMSError("No current row");
  const size_t index = static_cast<size_t>(column);
  // Drivers may demand columns in increasing order: read the ones before as well.
  while (next_unread_ <= index) {
    values_[next_unread_] = connection_->Bounded([&] {
      return ReadColumnValue(Statement(), static_cast<SQLUSMALLINT>(next_unread_ + 1), result_columns_[next_unread_],
                             buffer_);
    });
    ++next_unread_;
  }
  return *values_[index];
}

bool MemoryCursor::Next() {
  if (next_ > rows_.size()) return false;
  ++next_;
  return next_ <= rows_.size();
}

Variant MemoryCursor::Value(int column) { return Cell(column); }

Variant& MemoryCursor::Cell(int column) {
  if (next_ == 0 || next_ > rows_.size()) throw EMSError("No current row");
  std::vector<Variant>& row = rows_[next_ - 1];
  if (column < 0 || static_cast<size_t>(column) >= row.size())
    throw EMSError("Column index " + std::to_string(column) + " out of range");
  return row[static_cast<size_t>(column)];
}

}  // namespace tersify::providers::odbc
