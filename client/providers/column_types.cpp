// Field type and size of a column from the type name the database declares.
// The same table serves every provider, so a column reads alike through each.

#include <cctype>
#include <charconv>
#include <string_view>

#include "client/providers/provider.h"

namespace tersify::providers {
namespace {

// Lower case, blanks around parentheses and commas dropped, runs of blanks made one:
// "VARCHAR ( 30 )" -> "varchar(30)", "Double  Precision" -> "double precision".
std::string NormaliseTypeName(const std::string& text) {
  std::string out;
  bool pending_blank = false;
  for (char raw : text) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(raw)));
    if (std::isspace(static_cast<unsigned char>(c))) {
      pending_blank = !out.empty();
      continue;
    }
    const bool punct = c == '(' || c == ')' || c == ',';
    const bool after_punct = !out.empty() && (out.back() == '(' || out.back() == ',');
    if (pending_blank && !punct && !after_punct) out += ' ';
    pending_blank = false;
    out += c;
  }
  return out;
}

struct TypeName {
  std::string base;               // "varchar", "double precision"
  std::vector<std::string> args;  // "30", "max"
};

TypeName SplitTypeName(const std::string& normalised) {
  TypeName t;
  const size_t open = normalised.find('(');
  t.base = normalised.substr(0, open);
  if (open != std::string::npos) {
    const size_t close = normalised.find(')', open);
    std::string inner = normalised.substr(open + 1, close == std::string::npos
                                                         ? std::string::npos
                                                         : close - open - 1);
    size_t start = 0;
    while (true) {
      const size_t comma = inner.find(',', start);
      t.args.push_back(inner.substr(start, comma == std::string::npos ? comma : comma - start));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  // Column attributes some servers add to the type name: "int identity".
  for (std::string_view suffix : {" identity", " unsigned"}) {
    if (t.base.size() > suffix.size() && t.base.ends_with(suffix))
      t.base.resize(t.base.size() - suffix.size());
  }
  return t;
}

// The length of "varchar(30)": 30; -1 for "max" or a missing or unreadable length.
int32_t Length(const TypeName& t) {
  if (t.args.empty()) return -1;
  const std::string& a = t.args[0];
  if (a == "max") return -1;
  int32_t n = 0;
  auto [ptr, ec] = std::from_chars(a.data(), a.data() + a.size(), n);
  if (ec != std::errc() || ptr != a.data() + a.size() || n <= 0) return -1;
  return n;
}

bool OneOf(const std::string& s, std::initializer_list<std::string_view> names) {
  for (std::string_view n : names)
    if (s == n) return true;
  return false;
}

}  // namespace

ColumnInfo DescribeColumn(const std::string& name, const std::string& declared_type) {
  ColumnInfo info;
  info.name = name;
  info.declared_type = NormaliseTypeName(declared_type);
  const TypeName t = SplitTypeName(info.declared_type);
  const std::string& b = t.base;

  if (OneOf(b, {"blob", "image", "bytea", "varbinary", "binary", "binary varying",
                "long varbinary"})) {
    info.type = ftBlob;
  } else if (OneOf(b, {"text", "clob", "long varchar"})) {
    info.type = ftMemo;
  } else if (OneOf(b, {"ntext", "nclob"})) {
    info.type = ftWideMemo;
  } else if (OneOf(b, {"varchar", "char", "character", "character varying"})) {
    // Without a length (SQLite allows a bare "varchar") nothing bounds the value.
    const int32_t n = Length(t);
    info.type = n < 0 ? ftMemo : ftString;
    info.size = n < 0 ? 0 : n;
  } else if (OneOf(b, {"nvarchar", "nchar", "national character", "national character varying",
                       "national char", "national char varying"})) {
    const int32_t n = Length(t);
    info.type = n < 0 ? ftWideMemo : ftWideString;
    info.size = n < 0 ? 0 : n;
  } else if (b == "sysname") {
    info.type = ftWideString;
    info.size = 128;
  } else if (OneOf(b, {"int", "integer", "mediumint", "int4"})) {
    info.type = ftInteger;
  } else if (OneOf(b, {"bigint", "int8"})) {
    info.type = ftLargeint;
  } else if (OneOf(b, {"smallint", "tinyint", "int2"})) {
    info.type = ftSmallint;
  } else if (OneOf(b, {"bit", "boolean", "bool"})) {
    info.type = ftBoolean;
  } else if (OneOf(b, {"float", "real", "double", "double precision", "float8", "float4"})) {
    info.type = ftFloat;
  } else if (OneOf(b, {"money", "smallmoney"})) {
    info.type = ftCurrency;
  } else if (OneOf(b, {"decimal", "numeric", "dec"})) {
    info.type = ftFMTBcd;
  } else if (b == "date") {
    info.type = ftDate;
  } else if (b == "time") {
    info.type = ftTime;
  } else if (OneOf(b, {"datetime", "datetime2", "smalldatetime", "timestamp"})) {
    info.type = ftDateTime;
  }
  return info;
}

}  // namespace tersify::providers
