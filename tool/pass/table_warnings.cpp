#include "tool/pass/table_warnings.h"

#include <memory>
#include <optional>

#include "client/errors.h"
#include "tool/pass/options.h"

namespace tersify {
namespace {

// The first value of the first row as an integer; nothing when the server
// cannot answer the question or the answer is NULL.
std::optional<int64_t> AskCatalogue(providers::Provider& provider, const std::string& sql,
                                    const std::vector<Variant>& params) {
  try {
    std::unique_ptr<providers::Cursor> cursor = provider.Execute(sql, params);
    std::optional<int64_t> answer;
    if (cursor->Next()) {
      const Variant value = cursor->Value(0);
      if (!value.IsNull()) answer = value.AsInt64();
    }
    while (cursor->Next()) {
    }
    return answer;
  } catch (const EMSError& e) {
    // A lost connection is no missing view: the pass would fail next anyway.
    if (e.IsTimeoutOrLostConnection()) throw;
    return std::nullopt;
  }
}

}  // namespace

std::vector<std::string> TableWarnings(const TPassTarget& target, const std::string& table,
                                       const std::string& field, int64_t visible_rows) {
  std::vector<std::string> lines;
  if (target.provider_name == "sqlite") return lines;
  providers::Provider& provider = target.connection->GetProvider();
  const std::vector<Variant> of_table = {Variant(table)};
  auto positive = [](const std::optional<int64_t>& answer) { return answer && *answer > 0; };
  const std::string prefix = "Warning: " + table + " ";

  if (positive(AskCatalogue(provider,
                            "select count(*) from sys.columns where object_id = OBJECT_ID(?) and system_type_id = 189",
                            of_table)))
    lines.push_back(prefix +
                    "has a rowversion column: every row rewritten gets a new rowversion, so applications "
                    "that compare it will see the row as changed");
  const std::optional<int64_t> temporal =
      AskCatalogue(provider, "select temporal_type from sys.tables where object_id = OBJECT_ID(?)", of_table);
  if (temporal && *temporal == 2)
    lines.push_back(prefix +
                    "is system-versioned: its history table receives the old value of every row rewritten, "
                    "so storage grows before it shrinks");
  if (positive(AskCatalogue(provider,
                            "select count(*) from sys.fulltext_index_columns f join sys.columns c on c.object_id = "
                            "f.object_id and c.column_id = f.column_id where f.object_id = OBJECT_ID(?) and c.name = ?",
                            {Variant(table), Variant(field)})))
    lines.push_back(prefix + "has a full-text index on " + field +
                    ": it cannot read compressed values, so searches will miss them");
  if (positive(AskCatalogue(provider,
                            "select count(*) from sys.security_predicates p join sys.security_policies s on "
                            "s.object_id = p.object_id where p.target_object_id = OBJECT_ID(?) and s.is_enabled = 1 "
                            "and p.predicate_type = 0",
                            of_table))) {
    const std::optional<int64_t> catalogued = AskCatalogue(
        provider, "select sum(rows) from sys.partitions where object_id = OBJECT_ID(?) and index_id in (0, 1)",
        of_table);
    lines.push_back(prefix + "has a row-level security filter: the catalogue counts " +
                    (catalogued ? CountOf(*catalogued, "row") : std::string("an unknown number of rows")) +
                    ", this login sees " + std::to_string(visible_rows) +
                    "; the rows it cannot see are not rewritten");
  }
  if (positive(AskCatalogue(provider, "select is_tracked_by_cdc from sys.tables where object_id = OBJECT_ID(?)",
                            of_table)))
    lines.push_back(prefix +
                    "is tracked by change data capture: every value rewritten goes through the log into its "
                    "change tables");
  if (positive(
          AskCatalogue(provider, "select is_replicated from sys.tables where object_id = OBJECT_ID(?)", of_table)))
    lines.push_back(prefix + "is replicated: every value rewritten is shipped to the subscribers");
  return lines;
}

}  // namespace tersify
