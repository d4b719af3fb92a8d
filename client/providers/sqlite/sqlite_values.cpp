#include "client/providers/sqlite/sqlite_values.h"

#include <cctype>
#include <cstdio>
#include <limits>

#include "client/errors.h"
#include "client/providers/sqlite/sqlite_handles.h"

namespace tersify::providers {
namespace {

std::string ColumnBytes(sqlite3_stmt* stmt, int column) {
  // blob() before bytes(): bytes() then counts the value as it is stored.
  const void* data = sqlite3_column_blob(stmt, column);
  const int size = sqlite3_column_bytes(stmt, column);
  return data ? std::string(static_cast<const char*>(data), static_cast<size_t>(size))
              : std::string();
}

std::string ColumnText(sqlite3_stmt* stmt, int column) {
  const unsigned char* data = sqlite3_column_text(stmt, column);
  const int size = sqlite3_column_bytes(stmt, column);
  return data ? std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(size))
              : std::string();
}

// "HH:MM[:SS[.fff]]" as a time of day (date part 0).
bool ParseTimeOfDay(const std::string& text, TDateTime& out) {
  int h = 0, mi = 0, consumed = 0;
  if (std::sscanf(text.c_str(), "%2d:%2d%n", &h, &mi, &consumed) != 2) return false;
  double seconds = 0;
  if (text[static_cast<size_t>(consumed)] == ':') {
    int more = 0;
    if (std::sscanf(text.c_str() + consumed + 1, "%lf%n", &seconds, &more) != 1) return false;
    consumed += 1 + more;
  }
  if (static_cast<size_t>(consumed) != text.size()) return false;
  if (h < 0 || h > 23 || mi < 0 || mi > 59 || seconds < 0 || seconds >= 60) return false;
  out.value = (h * 3600.0 + mi * 60.0 + seconds) / 86400.0;
  return true;
}

Variant ByStorage(sqlite3_stmt* stmt, int column) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER: return Variant(static_cast<long long>(sqlite3_column_int64(stmt, column)));
    case SQLITE_FLOAT: return Variant(sqlite3_column_double(stmt, column));
    case SQLITE_TEXT: return Variant(ColumnText(stmt, column));
    case SQLITE_BLOB: return Variant(TBytes{ColumnBytes(stmt, column)});
    default: return Variant::Null();
  }
}

// "2024-01-02 10:00:00.1234567": a fraction of a second with a digit other
// than 0 past the third.
bool FinerThanMilliseconds(const std::string& text) {
  const size_t point = text.find('.');
  if (point == std::string::npos || point < 19) return false;
  for (size_t i = point + 4; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
    if (text[i] != '0') return true;
  return false;
}

}  // namespace

std::string FormatSqliteDateTime(TDateTime value) {
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(value, y, mo, d, h, mi, s, ms);
  char buf[64];
  if (ms == 0)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, mo, d, h, mi, s, ms);
  return buf;
}

void BindVariant(sqlite3_stmt* stmt, int index, const Variant& value, bool borrow) {
  int rc = SQLITE_OK;
  const auto lifetime = borrow ? SQLITE_STATIC : SQLITE_TRANSIENT;
  switch (value.Type()) {
    case TVarType::Null: rc = sqlite3_bind_null(stmt, index); break;
    case TVarType::Boolean: rc = sqlite3_bind_int64(stmt, index, value.AsBoolean() ? 1 : 0); break;
    case TVarType::Integer: rc = sqlite3_bind_int64(stmt, index, value.AsInt64()); break;
    case TVarType::Float: rc = sqlite3_bind_double(stmt, index, value.AsFloat()); break;
    case TVarType::DateTime: {
      const std::string text = FormatSqliteDateTime(value.AsDateTime());
      rc = sqlite3_bind_text64(stmt, index, text.data(), text.size(), SQLITE_TRANSIENT,
                               SQLITE_UTF8);
      break;
    }
    case TVarType::String: {
      // Copied unless borrowed: the statement may outlive the caller's
      // parameters while its rows are read.
      const std::string& text = value.RawString();
      rc = sqlite3_bind_text64(stmt, index, text.data(), text.size(), lifetime, SQLITE_UTF8);
      break;
    }
    case TVarType::Bytes: {
      const std::string& bytes = value.RawString();
      rc = sqlite3_bind_blob64(stmt, index, bytes.data(), bytes.size(), lifetime);
      break;
    }
  }
  if (rc != SQLITE_OK) RaiseSqliteError(sqlite3_db_handle(stmt), rc);
}

TFieldType FieldTypeOfStorage(int storage_class) {
  switch (storage_class) {
    case SQLITE_INTEGER: return ftLargeint;
    case SQLITE_FLOAT: return ftFloat;
    case SQLITE_TEXT: return ftString;
    case SQLITE_BLOB: return ftBlob;
    default: return ftUnknown;
  }
}

Variant ColumnValue(sqlite3_stmt* stmt, int column, TFieldType type) {
  const int storage = sqlite3_column_type(stmt, column);
  if (storage == SQLITE_NULL) return Variant::Null();
  switch (type) {
    case ftBlob:
    case ftBytes:
    case ftVarBytes:
    case ftGraphic:
    case ftTypedBinary:
    case ftOraBlob:
    case ftParadoxOle:
    case ftDBaseOle:
      if (storage == SQLITE_BLOB) return Variant(TBytes{ColumnBytes(stmt, column)});
      break;
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftFixedWideChar:
    case ftMemo:
    case ftWideMemo:
    case ftFmtMemo:
    case ftOraClob:
    case ftGuid:
      if (storage == SQLITE_TEXT) return Variant(ColumnText(stmt, column));
      break;
    case ftBoolean:
      if (storage == SQLITE_INTEGER) return Variant(sqlite3_column_int64(stmt, column) != 0);
      if (storage == SQLITE_FLOAT) return Variant(sqlite3_column_double(stmt, column) != 0);
      break;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd:
      // An integer (NUMERIC affinity keeps whole numbers so) stays exact.
      if (storage == SQLITE_FLOAT) return Variant(sqlite3_column_double(stmt, column));
      break;
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftTimeStamp:
      if (storage == SQLITE_TEXT) {
        std::string text = ColumnText(stmt, column);
        // A date-time finer than the variant's milliseconds (datetime2's
        // 100 ns) stays the text stored, so that it reaches the caller whole.
        if (FinerThanMilliseconds(text)) return Variant(std::move(text));
        try {
          return Variant(StrToDateTime(text));
        } catch (const EConvertError&) {
        }
        TDateTime time;
        if (ParseTimeOfDay(text, time)) return Variant(time);
        return Variant(std::move(text));
      }
      break;
    default:
      break;
  }
  return ByStorage(stmt, column);
}

Variant FunctionArgument(sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER: return Variant(static_cast<long long>(sqlite3_value_int64(value)));
    case SQLITE_FLOAT: return Variant(sqlite3_value_double(value));
    case SQLITE_TEXT: {
      const unsigned char* text = sqlite3_value_text(value);
      const int size = sqlite3_value_bytes(value);
      return Variant(std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size)));
    }
    case SQLITE_BLOB: {
      const void* data = sqlite3_value_blob(value);
      const int size = sqlite3_value_bytes(value);
      return Variant(TBytes{data ? std::string(static_cast<const char*>(data),
                                               static_cast<size_t>(size))
                                 : std::string()});
    }
    default: return Variant::Null();
  }
}

void SetFunctionResult(sqlite3_context* context, const Variant& value) {
  switch (value.Type()) {
    case TVarType::Null: sqlite3_result_null(context); break;
    case TVarType::Boolean: sqlite3_result_int64(context, value.AsBoolean() ? 1 : 0); break;
    case TVarType::Integer: sqlite3_result_int64(context, value.AsInt64()); break;
    case TVarType::Float: sqlite3_result_double(context, value.AsFloat()); break;
    case TVarType::DateTime: {
      const std::string text = FormatSqliteDateTime(value.AsDateTime());
      sqlite3_result_text64(context, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
    }
    case TVarType::String:
      sqlite3_result_text64(context, value.RawString().data(), value.RawString().size(),
                            SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
    case TVarType::Bytes:
      sqlite3_result_blob64(context, value.RawString().data(), value.RawString().size(),
                            SQLITE_TRANSIENT);
      break;
  }
}

}  // namespace tersify::providers
