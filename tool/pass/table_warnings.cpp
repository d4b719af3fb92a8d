#include "tool/pass/table_warnings.h"

#include <memory>
#include <optional>

#include "client/errors.h"
#include "tool/pass/options.h"

namespace tersify {
namespace {

// The questions, each the first value of one select; `of_field` ones take
// the table and the column, the others the table alone.
struct TQuestion {
  const char* sql;
  bool of_field;
};
enum TAsked { kRowversion, kTemporal, kFullText, kRowFilter, kCatalogueRows, kCdc, kReplicated, kQuestions };
constexpr TQuestion kQuestionsAsked[kQuestions] = {
    {"select count(*) from sys.columns where object_id = OBJECT_ID(?) and system_type_id = 189", false},
    {"select temporal_type from sys.tables where object_id = OBJECT_ID(?)", false},
    {"select count(*) from sys.fulltext_index_columns f join sys.columns c on c.object_id = f.object_id and "
     "c.column_id = f.column_id where f.object_id = OBJECT_ID(?) and c.name = ?",
     true},
    {"select count(*) from sys.security_predicates p join sys.security_policies s on s.object_id = p.object_id "
     "where p.target_object_id = OBJECT_ID(?) and s.is_enabled = 1 and p.predicate_type = 0",
     false},
    {"select sum(rows) from sys.partitions where object_id = OBJECT_ID(?) and index_id in (0, 1)", false},
    {"select is_tracked_by_cdc from sys.tables where object_id = OBJECT_ID(?)", false},
    {"select is_replicated from sys.tables where object_id = OBJECT_ID(?)", false},
};

using TAnswers = std::vector<std::optional<int64_t>>;

// The first `columns` values of the first row as integers (NULL: no answer);
// nothing when the server cannot answer the text (no such view or column).
std::optional<TAnswers> AskCatalogue(providers::Provider& provider, const std::string& sql,
                                     const std::vector<Variant>& params, int columns) {
  try {
    std::unique_ptr<providers::Cursor> cursor = provider.Execute(sql, params);
    TAnswers answers(static_cast<size_t>(columns));
    if (cursor->Next()) {
      for (int i = 0; i < columns; ++i) {
        const Variant value = cursor->Value(i);
        if (!value.IsNull()) answers[static_cast<size_t>(i)] = value.AsInt64();
      }
    }
    while (cursor->Next()) {
    }
    return answers;
  } catch (const EMSError& e) {
    // A lost connection is no missing view: the pass would fail next anyway.
    if (e.IsTimeoutOrLostConnection()) throw;
    return std::nullopt;
  }
}

// Every question in one request, each a column of one row: across a network
// a request is a round trip. Nothing when the server cannot answer one of
// them (an older server lacks a view or a column), for the whole text fails.
std::optional<TAnswers> AskAllAtOnce(providers::Provider& provider, const std::string& table,
                                     const std::string& field) {
  std::string sql = "select ";
  std::vector<Variant> params;
  for (int i = 0; i < kQuestions; ++i) {
    sql += std::string(i ? ", (" : "(") + kQuestionsAsked[i].sql + ")";
    params.emplace_back(table);
    if (kQuestionsAsked[i].of_field) params.emplace_back(field);
  }
  return AskCatalogue(provider, sql, params, kQuestions);
}

// One request a question: each one the server cannot answer leaves its answer out.
TAnswers AskOneByOne(providers::Provider& provider, const std::string& table, const std::string& field) {
  TAnswers answers(kQuestions);
  for (int i = 0; i < kQuestions; ++i) {
    std::vector<Variant> params = {Variant(table)};
    if (kQuestionsAsked[i].of_field) params.emplace_back(field);
    if (std::optional<TAnswers> one = AskCatalogue(provider, kQuestionsAsked[i].sql, params, 1))
      answers[static_cast<size_t>(i)] = (*one)[0];
  }
  return answers;
}

}  // namespace

std::vector<std::string> TableWarnings(const TPassTarget& target, const std::string& table,
                                       const std::string& field, int64_t visible_rows) {
  std::vector<std::string> lines;
  if (target.provider_name == "sqlite") return lines;
  providers::Provider& provider = target.connection->GetProvider();
  std::optional<TAnswers> at_once = AskAllAtOnce(provider, table, field);
  const TAnswers answers = at_once ? std::move(*at_once) : AskOneByOne(provider, table, field);
  auto positive = [&](TAsked question) { return answers[question] && *answers[question] > 0; };
  const std::string prefix = "Warning: " + table + " ";

  if (positive(kRowversion))
    lines.push_back(prefix +
                    "has a rowversion column: every row rewritten gets a new rowversion, so applications "
                    "that compare it will see the row as changed");
  if (answers[kTemporal] && *answers[kTemporal] == 2)
    lines.push_back(prefix +
                    "is system-versioned: its history table receives the old value of every row rewritten, "
                    "so storage grows before it shrinks");
  if (positive(kFullText))
    lines.push_back(prefix + "has a full-text index on " + field +
                    ": it cannot read compressed values, so searches will miss them");
  if (positive(kRowFilter)) {
    const std::optional<int64_t>& catalogued = answers[kCatalogueRows];
    lines.push_back(prefix + "has a row-level security filter: the catalogue counts " +
                    (catalogued ? CountOf(*catalogued, "row") : std::string("an unknown number of rows")) +
                    ", this login sees " + std::to_string(visible_rows) +
                    "; the rows it cannot see are not rewritten");
  }
  if (positive(kCdc))
    lines.push_back(prefix +
                    "is tracked by change data capture: every value rewritten goes through the log into its "
                    "change tables");
  if (positive(kReplicated))
    lines.push_back(prefix + "is replicated: every value rewritten is shipped to the subscribers");
  return lines;
}

}  // namespace tersify
