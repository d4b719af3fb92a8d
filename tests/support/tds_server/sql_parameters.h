#pragma once
// Statements sent through sp_executesql / sp_prepexec name their parameters
// (@P1, @P2 ... declared as "@P1 INT,@P2 VARBINARY(MAX)"); the provider binds
// positional '?' marks. This turns one form into the other.

#include <string>
#include <string_view>
#include <vector>

#include "framework/rtl/variant.h"

namespace tersify::testing::tds {

struct PositionalStatement {
  std::string sql;
  // For each '?' in order, the index of its value among the declared parameters.
  std::vector<size_t> value_index;
};

// The end of the run quoted by the character at `at` up to `close` (a doubled
// `close` stays inside); the end of sql when it is not closed.
size_t SkipQuoted(std::string_view sql, size_t at, char close);

// The '?' marks of a positional statement (quoted text, quoted names and
// comments left alone): how many of its values it binds.
size_t CountMarks(std::string_view sql);

// The parameter names of a declaration list, in order, with their '@'.
std::vector<std::string> DeclaredNames(const std::string& declarations);

// The declared types of a declaration list, in order, lower case ("nvarchar(4000)").
std::vector<std::string> DeclaredTypes(const std::string& declarations);

// Replaces every use of a declared parameter by '?' (quoted text, quoted
// names and comments are left alone). A parameter used twice is bound twice.
// With wide_collation, a parameter declared nchar/nvarchar/ntext becomes
// "(? COLLATE <wide_collation>)": it then compares under that collation, also
// with a varchar column.
PositionalStatement ToPositional(const std::string& sql, const std::string& declarations,
                                 const std::string& wide_collation = "");

// The values for the statement's marks, taken from the declared values (moved
// out at their last use, so a large value is not copied).
std::vector<Variant> BindValues(const PositionalStatement& statement,
                                std::vector<Variant> declared_values);

}  // namespace tersify::testing::tds
