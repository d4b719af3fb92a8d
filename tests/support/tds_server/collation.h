#pragma once
// SQL Server's string comparison for SQLite: the collations the server
// registers on every connection to a served file and declares on its string
// columns, so that comparisons, ORDER BY, GROUP BY, DISTINCT, MIN/MAX and
// unique indexes follow them. Every one of them ignores trailing blanks.
//
//   SQL_Latin1_General_CP1_CI_AS  varchar/char under the default collation:
//                                 case ignored, accents kept, every character
//                                 weighs ("string sort": 'a-c' < 'ab')
//   Latin1_General_CI_AS          nvarchar/nchar (and varchar under a Windows
//                                 collation): the same, but hyphens and
//                                 apostrophes weigh only last ("word sort":
//                                 'ab' < 'a-c')
//   ..._CS_AS                     the same with case kept, lower case first
//   Latin1_General_BIN2           code points, nothing ignored but trailing blanks

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace tersify::testing::tds {

// The collations of datetime and datetime2 columns: a datetime value is its
// 1/300 s tick exactly, so a datetime2 parameter of .0030000 is below a stored
// datetime of .003 (.00333...), as on SQL Server from compatibility level 130.
inline constexpr const char* kDateTimeCollation = "tds_datetime";
inline constexpr const char* kDateTime2Collation = "tds_datetime2";

enum class CollationStrength { CaseInsensitive, CaseSensitive, Binary };

// A database collation: how strings compare, and whether varchar data sorts
// the SQL way (string sort) or the Windows way (word sort).
struct DatabaseCollation {
  CollationStrength strength = CollationStrength::CaseInsensitive;
  bool sql_collation = true;  // SQL_Latin1_General_CP1_*: varchar uses string sort

  // "SQL_Latin1_General_CP1_CI_AS", "Latin1_General_CS_AS", "Latin1_General_BIN2"...
  // Raises std::invalid_argument for any other name.
  static DatabaseCollation Parse(const std::string& name);
  std::string Name() const;
  // The SQLite collation of a column of this type (wide: nchar/nvarchar).
  std::string ColumnCollation(bool wide) const;
};

// -1, 0 or 1 as a and b (UTF-8) compare under the named column collation.
int CompareStrings(std::string_view collation, std::string_view a, std::string_view b);

// Registers every collation above on db. Raises std::runtime_error on failure.
void RegisterCollations(sqlite3* db);

}  // namespace tersify::testing::tds
