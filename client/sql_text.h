#pragma once
// What the client reads from a dataset's SQL text without a server: macros
// ("&name") expanded, and the shape of a simple select (its one table and the
// columns it names plainly), which decides whether a row can be found again by
// its key.

#include <string>
#include <vector>

#include "framework/rtl/strings.h"

namespace tersify {

// Replaces each "&name" outside quotes, brackets and comments by the value of
// the macro line "name=value" (names compared ignoring case). An '&' not
// followed by a known macro name stays as written (T-SQL's bitwise and).
std::string ExpandMacros(const std::string& sql, const TStrings& macros);

struct SelectShape {
  // The first table named after FROM, as written ("dbo.tqz_reports"); empty
  // when the text has no FROM clause.
  std::string table;
  // The statement is one select whose FROM names exactly that table (an alias
  // and a table hint allowed): no join, no second table, no subquery in FROM,
  // no UNION. Only then does every row of the result stand for one table row.
  bool single_table = false;
  // The select list holds '*' or 'alias.*'.
  bool star = false;
  // Columns the select list names plainly: "col", "[col]", "t.col", or
  // "col as col"; expressions and renamed columns are left out.
  std::vector<std::string> plain_columns;
  // Names the select list gives to expressions ("x + 1 as total", "total = x + 1").
  std::vector<std::string> expression_names;

  // Whether a result column of this name is a column of the table itself.
  bool NamesTableColumn(const std::string& column) const;
};

SelectShape AnalyzeSelect(const std::string& sql);

// A column name ready for a statement: [name], with ']' doubled.
std::string QuoteName(const std::string& name);

}  // namespace tersify
