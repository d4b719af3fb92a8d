#include "tests/support/tds_server/server_functions.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace tersify::testing::tds {
namespace {

void DataLength(sqlite3_context* context, int, sqlite3_value** argv) {
  switch (sqlite3_value_type(argv[0])) {
    case SQLITE_NULL: sqlite3_result_null(context); return;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: sqlite3_result_int64(context, 8); return;
    default: sqlite3_result_int64(context, sqlite3_value_bytes(argv[0])); return;
  }
}

void ZeroTrimmed(sqlite3_context* context, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  const auto* bytes = static_cast<const unsigned char*>(sqlite3_value_blob(argv[0]));
  int size = sqlite3_value_bytes(argv[0]);
  while (size > 0 && bytes[size - 1] == 0) --size;
  sqlite3_result_blob(context, size > 0 ? bytes : reinterpret_cast<const unsigned char*>(""), size,
                      SQLITE_TRANSIENT);
}

struct DeclaredType {
  std::string base;  // lower case: "varbinary"
  int64_t size = -1;  // the number in parentheses; -1 for max or none
};

DeclaredType ParseDeclared(const unsigned char* text) {
  DeclaredType t;
  const std::string declared = text ? reinterpret_cast<const char*>(text) : "";
  const size_t open = declared.find('(');
  for (char c : declared.substr(0, open))
    if (!std::isspace(static_cast<unsigned char>(c)) || !t.base.empty())
      t.base += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  while (!t.base.empty() && std::isspace(static_cast<unsigned char>(t.base.back()))) t.base.pop_back();
  if (open != std::string::npos) {
    const char* digits = declared.c_str() + open + 1;
    while (std::isspace(static_cast<unsigned char>(*digits))) ++digits;
    if (std::isdigit(static_cast<unsigned char>(*digits))) t.size = std::strtoll(digits, nullptr, 10);
  }
  return t;
}

struct KnownType {
  const char* base;
  int id;
  int fixed_length;  // 0: sized by the declaration
};

constexpr KnownType kKnownTypes[] = {
    {"varbinary", 165, 0}, {"binary", 173, 0}, {"blob", 165, -1}, {"image", 34, 16},
    {"varchar", 167, 0},   {"char", 175, 0},   {"character", 175, 0}, {"nvarchar", 231, 0},
    {"nchar", 239, 0},     {"text", 35, 16},   {"ntext", 99, 16},  {"int", 56, 4},
    {"integer", 56, 4},    {"bigint", 127, 8}, {"smallint", 52, 2}, {"tinyint", 48, 1},
    {"bit", 104, 1},       {"float", 62, 8},   {"double", 62, 8},  {"real", 59, 4},
    {"decimal", 106, 17},  {"numeric", 108, 17}, {"money", 60, 8}, {"date", 40, 3},
    {"time", 41, 5},       {"datetime", 61, 8}, {"datetime2", 42, 8}, {"uniqueidentifier", 36, 16},
    {"rowversion", 189, 8}, {"timestamp", 189, 8},
};

const KnownType* Known(const std::string& base) {
  for (const KnownType& t : kKnownTypes)
    if (base == t.base) return &t;
  return nullptr;
}

void TypeId(sqlite3_context* context, int, sqlite3_value** argv) {
  const KnownType* t = Known(ParseDeclared(sqlite3_value_text(argv[0])).base);
  sqlite3_result_int(context, t ? t->id : 98);  // sql_variant: a column without a declared type
}

void MaxLength(sqlite3_context* context, int, sqlite3_value** argv) {
  const DeclaredType declared = ParseDeclared(sqlite3_value_text(argv[0]));
  const KnownType* t = Known(declared.base);
  if (t && t->fixed_length != 0) {
    sqlite3_result_int(context, t->fixed_length);
    return;
  }
  if (!t || declared.size < 0) {
    sqlite3_result_int(context, t ? -1 : 8016);
    return;
  }
  const bool wide = declared.base == "nvarchar" || declared.base == "nchar";
  sqlite3_result_int64(context, wide ? 2 * declared.size : declared.size);
}

void Register(sqlite3* db, const char* name, void (*function)(sqlite3_context*, int, sqlite3_value**)) {
  if (sqlite3_create_function(db, name, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, function, nullptr,
                              nullptr) != SQLITE_OK)
    throw std::runtime_error(std::string("cannot register function ") + name + ": " + sqlite3_errmsg(db));
}

}  // namespace

void RegisterServerFunctions(sqlite3* db) {
  Register(db, "datalength", DataLength);
  Register(db, "tds_zero_trimmed", ZeroTrimmed);
  Register(db, "tds_type_id", TypeId);
  Register(db, "tds_max_length", MaxLength);
}

}  // namespace tersify::testing::tds
