#include "tool/pass/key.h"

#include "framework/rtl/exception.h"
#include "framework/rtl/platform.h"
#include "tool/pass/options.h"
#include "tool/identifier_check.h"

namespace tersify {
namespace {

// The first row of a statement that returns one row of counts.
std::vector<int64_t> Counts(providers::Provider& provider, const std::string& sql) {
  auto cursor = provider.Execute(sql, {});
  std::vector<int64_t> counts;
  if (!cursor->Next()) throw Exception("No row came back for: " + sql);
  for (size_t i = 0; i < cursor->Columns().size(); ++i)
    counts.push_back(cursor->Value(static_cast<int>(i)).AsInt64());
  while (cursor->Next()) {
  }
  return counts;
}

}  // namespace

TPassKey ResolvePassKey(providers::Provider& provider, const std::vector<std::string>& primary_key,
                        const std::string& table, const std::string& key,
                        const std::string& provider_name) {
  TPassKey result;
  const bool primary =
      primary_key.size() == 1 && (key.empty() || SameText(BareSqlName(key), primary_key[0]));
  if (key.empty()) {
    if (primary_key.empty())
      throw Exception(Format("Table %s has no primary key: name a key column that is unique and never NULL",
                             table.c_str()));
    if (primary_key.size() > 1)
      throw Exception(Format("Table %s has a primary key of %d columns: name a key column that is unique "
                             "and never NULL",
                             table.c_str(), static_cast<int>(primary_key.size())));
    result.name = IsSafeSqlName(primary_key[0]) ? primary_key[0] : "[" + primary_key[0] + "]";
    CheckSqlName("key field", result.name);
  } else {
    result.name = key;
  }

  const TPassStatements sql(provider_name, 0, table, "", result.name);
  if (primary) {
    const std::vector<int64_t> counts = Counts(provider, sql.CountRows());
    result.rows = counts.at(0);
    result.null_rows = counts.at(0) - counts.at(1);
    return result;
  }
  // Not the primary key: it must single out every row by itself.
  const std::vector<int64_t> counts = Counts(provider, sql.CountDistinctKeys());
  result.rows = counts.at(0);
  const int64_t nulls = counts.at(0) - counts.at(1);
  const int64_t duplicates = counts.at(1) - counts.at(2);
  if (duplicates > 0)
    throw Exception(Format("Key field %s of table %s is not unique: %s with another row; no row was changed",
                           key.c_str(), table.c_str(),
                           (CountOf(duplicates, "row") + (duplicates == 1 ? " shares its key" : " share their key"))
                               .c_str()));
  if (nulls > 0)
    throw Exception(Format("Key field %s of table %s is NULL in %s; no row was changed", key.c_str(),
                           table.c_str(), CountOf(nulls, "row").c_str()));
  return result;
}

}  // namespace tersify
