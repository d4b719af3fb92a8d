#include "client/providers/odbc/odbc_parameters.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "client/errors.h"

namespace tersify::providers::odbc {
namespace {

// Longest value SQL Server keeps in a varchar(n) / varbinary(n).
constexpr size_t kMaxInlineBytes = 8000;
// Room for an output value of a (max) type; a longer one raises an error.
constexpr size_t kMaxTypeOutputBytes = 1 << 20;

bool IsIntegerSqlType(SQLSMALLINT t) {
  return t == SQL_TINYINT || t == SQL_SMALLINT || t == SQL_INTEGER || t == SQL_BIGINT;
}
bool IsFloatSqlType(SQLSMALLINT t) {
  return t == SQL_REAL || t == SQL_FLOAT || t == SQL_DOUBLE || t == SQL_DECIMAL ||
         t == SQL_NUMERIC;
}
bool IsDateSqlType(SQLSMALLINT t) {
  return t == SQL_TYPE_TIMESTAMP || t == SQL_TYPE_DATE || t == SQL_TIMESTAMP || t == SQL_DATE ||
         t == SQL_TYPE_TIME || t == SQL_TIME;
}
bool IsBinarySqlType(SQLSMALLINT t) {
  return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY;
}
bool IsWideSqlType(SQLSMALLINT t) {
  return t == SQL_WCHAR || t == SQL_WVARCHAR || t == SQL_WLONGVARCHAR;
}

// Whether every character of UTF-8 text has a place in Windows-1252, the code
// page of SQL Server's default (Latin1_General) collations: text that does can
// travel as varchar and reach a varchar column unchanged.
bool FitsWindows1252(const std::string& text) {
  // The characters Windows-1252 puts at 0x80..0x9F.
  static constexpr char32_t kHigh[] = {0x20AC, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x017D, 0x2018,
                                       0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC,
                                       0x2122, 0x0161, 0x203A, 0x0153, 0x017E, 0x0178};
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    const int extra = (b >> 5) == 0x6 ? 1 : (b >> 4) == 0xE ? 2 : (b >> 3) == 0x1E ? 3 : -1;
    if (extra < 0 || i + static_cast<size_t>(extra) >= text.size()) return false;
    char32_t c = b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    i += static_cast<size_t>(extra) + 1;
    if (c >= 0xA0 && c <= 0xFF) continue;
    if (std::find(std::begin(kHigh), std::end(kHigh), c) == std::end(kHigh)) return false;
  }
  return true;
}

// Whether long values go at execution: as the driver's traits say, unless
// TERSIFY_ODBC_AT_EXECUTION is 1 or 0 (to compare the two ways).
// Read at each long value, which is rare enough.
bool AtExecution(const DriverTraits& traits) {
  const char* v = std::getenv("TERSIFY_ODBC_AT_EXECUTION");
  if (v && std::strcmp(v, "1") == 0) return true;
  if (v && std::strcmp(v, "0") == 0) return false;
  return traits.streams_values_at_execution;
}

}  // namespace

SQL_TIMESTAMP_STRUCT ToTimestamp(TDateTime value) {
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(value, y, mo, d, h, mi, s, ms);
  SQL_TIMESTAMP_STRUCT ts{};
  ts.year = static_cast<SQLSMALLINT>(y);
  ts.month = static_cast<SQLUSMALLINT>(mo);
  ts.day = static_cast<SQLUSMALLINT>(d);
  ts.hour = static_cast<SQLUSMALLINT>(h);
  ts.minute = static_cast<SQLUSMALLINT>(mi);
  ts.second = static_cast<SQLUSMALLINT>(s);
  ts.fraction = static_cast<SQLUINTEGER>(ms) * 1000000u;
  return ts;
}

TDateTime FromTimestamp(const SQL_TIMESTAMP_STRUCT& ts) {
  // The date-time keeps milliseconds: finer fractions are rounded (datetime's
  // 1/300 s ticks come as 996666667 ns for .997).
  return EncodeDateTime(ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second,
                        static_cast<int>(std::min<SQLUINTEGER>((ts.fraction + 500000u) / 1000000u, 999)));
}

void ParameterBuffers::SetScalar(Slot& slot, const Variant& value) {
  slot.is_null = value.IsNull();
  slot.indicator = slot.is_null ? SQL_NULL_DATA : 0;
  if (slot.is_null) return;
  switch (slot.c_type) {
    case SQL_C_SBIGINT:
      slot.integer = value.AsInt64();
      slot.indicator = sizeof slot.integer;
      break;
    case SQL_C_DOUBLE:
      slot.number = value.AsFloat();
      slot.indicator = sizeof slot.number;
      break;
    case SQL_C_BIT:
      slot.bit = value.AsBoolean() ? 1 : 0;
      slot.indicator = sizeof slot.bit;
      break;
    case SQL_C_TYPE_TIMESTAMP:
      slot.timestamp = ToTimestamp(value.AsDateTime());
      slot.indicator = sizeof slot.timestamp;
      break;
    default:
      break;
  }
}

void ParameterBuffers::AddInput(const Variant& value) {
  if (bound_) throw EMSError("Parameters added after binding");
  Slot s;
  switch (value.Type()) {
    case TVarType::Null:
      if (null_as_ == NullAs::Binary) {
        s.c_type = SQL_C_BINARY;
        s.sql_type = SQL_VARBINARY;
      } else {
        s.c_type = SQL_C_CHAR;
        s.sql_type = SQL_VARCHAR;
      }
      s.column_size = 1;
      s.is_null = true;
      s.indicator = SQL_NULL_DATA;
      break;
    case TVarType::Boolean:
      s.c_type = SQL_C_BIT;
      s.sql_type = SQL_BIT;
      s.column_size = 1;
      SetScalar(s, value);
      break;
    case TVarType::Integer:
      s.c_type = SQL_C_SBIGINT;
      s.sql_type = SQL_BIGINT;
      s.column_size = 19;
      SetScalar(s, value);
      break;
    case TVarType::Float:
      s.c_type = SQL_C_DOUBLE;
      s.sql_type = SQL_DOUBLE;
      s.column_size = 15;
      SetScalar(s, value);
      break;
    case TVarType::DateTime:
      s.c_type = SQL_C_TYPE_TIMESTAMP;
      s.sql_type = SQL_TYPE_TIMESTAMP;
      s.column_size = 23;
      s.decimal_digits = 3;
      SetScalar(s, value);
      break;
    case TVarType::String: {
      const std::string& text = value.RawString();
      s.c_type = SQL_C_CHAR;
      // Text the server's code page can hold goes as varchar. A varchar
      // column is then compared with it as varchar: bound as nvarchar, the
      // server would convert the column instead, scan rather than seek its
      // index, and compare in Unicode order, which is not the order of
      // ORDER BY on that column (a key page could skip rows). An nvarchar
      // column converts the value, which costs nothing. Only text beyond
      // the code page, which no varchar column holds, goes as nvarchar: as
      // varchar the driver would lose every character outside it.
      if (FitsWindows1252(text))
        s.sql_type = text.size() <= kMaxInlineBytes ? SQL_VARCHAR : SQL_LONGVARCHAR;
      else
        s.sql_type = text.size() <= kMaxInlineBytes / 2 ? SQL_WVARCHAR : SQL_WLONGVARCHAR;
      s.column_size = std::max<size_t>(text.size(), 1);
      s.data = text.data();
      s.buffer_length = static_cast<SQLLEN>(text.size());
      s.indicator = static_cast<SQLLEN>(text.size());
      break;
    }
    case TVarType::Bytes: {
      const std::string& bytes = value.RawString();
      s.c_type = SQL_C_BINARY;
      if (traits_.long_binary_column_size_zero) {
        // Microsoft's driver: varbinary(n) for short values, varbinary(max) as size 0.
        s.sql_type = SQL_VARBINARY;
        s.column_size = bytes.size() <= kMaxInlineBytes ? std::max<size_t>(bytes.size(), 1) : 0;
      } else {
        // FreeTDS cuts SQL_VARBINARY at 8000 bytes; the long type goes as varbinary(max).
        s.sql_type = traits_.long_binary_sql_type;
        s.column_size = std::max<size_t>(bytes.size(), 1);
      }
      s.data = bytes.data();
      s.buffer_length = static_cast<SQLLEN>(bytes.size());
      s.indicator = static_cast<SQLLEN>(bytes.size());
      if (bytes.size() >= kAtExecutionBytes && AtExecution(traits_)) {
        s.at_execution = true;
        s.indicator = SQL_LEN_DATA_AT_EXEC(static_cast<SQLLEN>(bytes.size()));
      }
      break;
    }
  }
  slots_.push_back(std::move(s));
}

void ParameterBuffers::AddOutput(const ProcParamDetail& detail, const Variant& initial) {
  if (bound_) throw EMSError("Parameters added after binding");
  Slot s;
  s.name = detail.info.name;
  s.io_type = detail.info.direction == ParamDirection::Output ? SQL_PARAM_OUTPUT
                                                              : SQL_PARAM_INPUT_OUTPUT;
  s.sql_type = detail.sql_type;
  s.column_size = detail.column_size;
  s.decimal_digits = detail.decimal_digits;
  const SQLSMALLINT t = detail.sql_type;
  if (t == SQL_BIT) {
    s.c_type = SQL_C_BIT;
  } else if (IsIntegerSqlType(t)) {
    s.c_type = SQL_C_SBIGINT;
  } else if (IsFloatSqlType(t)) {
    s.c_type = SQL_C_DOUBLE;
  } else if (IsDateSqlType(t)) {
    s.c_type = SQL_C_TYPE_TIMESTAMP;
  } else {
    s.c_type = IsBinarySqlType(t) ? SQL_C_BINARY : SQL_C_CHAR;
    const bool unlimited = detail.column_size == 0 || detail.column_size > kMaxInlineBytes;
    size_t room = unlimited ? kMaxTypeOutputBytes
                            : detail.column_size * (IsWideSqlType(t) || t == SQL_CHAR ||
                                                            t == SQL_VARCHAR
                                                        ? 4
                                                        : 1);
    const std::string input = initial.IsNull() ? std::string() : initial.AsString();
    room = std::max(room, input.size()) + 1;  // the terminator of text
    s.storage.assign(room, '\0');
    std::memcpy(s.storage.data(), input.data(), input.size());
    s.data = s.storage.data();
    s.buffer_length = static_cast<SQLLEN>(room);
    s.is_null = initial.IsNull();
    s.indicator = initial.IsNull() ? SQL_NULL_DATA : static_cast<SQLLEN>(input.size());
    if (s.column_size == 0 && !unlimited) s.column_size = 1;
    slots_.push_back(std::move(s));
    return;
  }
  SetScalar(s, initial);
  slots_.push_back(std::move(s));
}

void ParameterBuffers::Bind(const StmtHandle& stmt) {
  bound_ = true;
  for (size_t i = 0; i < slots_.size(); ++i) {
    Slot& s = slots_[i];
    // The slot has moved since it was filled: point at its own storage again.
    if (!s.storage.empty()) s.data = s.storage.data();
    SQLPOINTER value = nullptr;
    SQLLEN length = 0;
    if (s.at_execution) {
      // The driver hands this token back from SQLParamData when it wants the value.
      value = reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(i + 1));
      stmt.Check(SQLBindParameter(stmt.get(), static_cast<SQLUSMALLINT>(i + 1), s.io_type,
                                  s.c_type, s.sql_type, s.column_size, s.decimal_digits, value, 0,
                                  &s.indicator),
                 "SQLBindParameter");
      continue;
    }
    switch (s.c_type) {
      case SQL_C_SBIGINT: value = &s.integer; length = sizeof s.integer; break;
      case SQL_C_DOUBLE: value = &s.number; length = sizeof s.number; break;
      case SQL_C_BIT: value = &s.bit; length = sizeof s.bit; break;
      case SQL_C_TYPE_TIMESTAMP: value = &s.timestamp; length = sizeof s.timestamp; break;
      default:
        // A driver must never see a null pointer for a non-null value, even an empty one.
        value = const_cast<char*>(s.data ? s.data : "");
        length = s.buffer_length;
        break;
    }
    stmt.Check(SQLBindParameter(stmt.get(), static_cast<SQLUSMALLINT>(i + 1), s.io_type, s.c_type,
                                s.sql_type, s.column_size, s.decimal_digits, value, length,
                                &s.indicator),
               "SQLBindParameter");
  }
}

SQLRETURN ParameterBuffers::SendValuesAtExecution(const StmtHandle& stmt) {
  for (;;) {
    SQLPOINTER token = nullptr;
    const SQLRETURN rc = SQLParamData(stmt.get(), &token);
    if (rc != SQL_NEED_DATA) return stmt.Check(rc, "SQLParamData");
    TraceOdbc("SQLParamData", rc);
    const size_t index = static_cast<size_t>(reinterpret_cast<uintptr_t>(token)) - 1;
    if (index >= slots_.size() || !slots_[index].at_execution)
      throw EMSError("The driver asked for a parameter that was not bound at execution");
    const Slot& s = slots_[index];
    const size_t size = static_cast<size_t>(s.buffer_length);
    size_t at = 0;
    do {
      const size_t n = std::min(kPieceBytes, size - at);
      stmt.Check(SQLPutData(stmt.get(), const_cast<char*>(s.data ? s.data + at : ""),
                            static_cast<SQLLEN>(n)),
                 "SQLPutData");
      at += n;
    } while (at < size);
  }
}

bool ParameterBuffers::HasNull() const {
  return std::any_of(slots_.begin(), slots_.end(),
                     [](const Slot& s) { return s.io_type == SQL_PARAM_INPUT && s.is_null; });
}

bool ParameterBuffers::IsOutput(size_t index) const {
  return slots_.at(index).io_type != SQL_PARAM_INPUT;
}

Variant ParameterBuffers::OutputValue(size_t index) const {
  const Slot& s = slots_.at(index);
  if (s.indicator == SQL_NULL_DATA) return Variant::Null();
  switch (s.c_type) {
    case SQL_C_SBIGINT: return Variant(static_cast<long long>(s.integer));
    case SQL_C_DOUBLE: return Variant(s.number);
    case SQL_C_BIT: return Variant(s.bit != 0);
    case SQL_C_TYPE_TIMESTAMP: return Variant(FromTimestamp(s.timestamp));
    default: break;
  }
  const SQLLEN room = s.c_type == SQL_C_CHAR ? s.buffer_length - 1 : s.buffer_length;
  if (s.indicator == SQL_NO_TOTAL || s.indicator > room)
    throw EMSError("Output parameter '" + s.name + "' holds more than " + std::to_string(room) +
                   " bytes");
  std::string value(s.storage.data(), static_cast<size_t>(std::max<SQLLEN>(s.indicator, 0)));
  if (s.c_type == SQL_C_BINARY) return Variant(TBytes{std::move(value)});
  return Variant(std::move(value));
}

}  // namespace tersify::providers::odbc
