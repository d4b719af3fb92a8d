#include "client/providers/sqlite/sqlite_column_types.h"

#include "client/providers/sqlite/sqlite_values.h"

namespace tersify::providers {
namespace {

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// The type name without its length: "text(20)" -> "text".
std::string BaseName(const std::string& normalised) {
  return normalised.substr(0, normalised.find('('));
}

}  // namespace

ColumnInfo DescribeSqliteColumn(const std::string& name, const std::string& declared_type,
                                int first_storage) {
  ColumnInfo info = DescribeColumn(name, declared_type);
  const std::string& d = info.declared_type;  // normalised, lower case
  const std::string base = BaseName(d);
  if (d.empty() || base == "any") {
    info.type = FieldTypeOfStorage(first_storage);
    return info;
  }
  if (base == "text") {
    info.type = ftString;
    info.size = 0;
    return info;
  }
  if (info.type != ftUnknown) return info;
  // SQLite's affinity rules, in their order.
  if (Contains(d, "int")) {
    info.type = ftLargeint;
  } else if (Contains(d, "char") || Contains(d, "clob") || Contains(d, "text")) {
    info.type = ftString;
  } else if (Contains(d, "blob")) {
    info.type = ftBlob;
  } else if (Contains(d, "real") || Contains(d, "floa") || Contains(d, "doub")) {
    info.type = ftFloat;
  } else {
    const TFieldType stored = FieldTypeOfStorage(first_storage);
    info.type = stored == ftUnknown ? ftFloat : stored;
  }
  return info;
}

}  // namespace tersify::providers
