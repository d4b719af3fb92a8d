#pragma once
// Table, field and key names are inserted into SQL text as they are given. A
// name is accepted only when SQL Server and SQLite read it alike, as the same
// name: parts made of letters (bytes of 128 and above count as letters of the
// code page), digits, '_', '$', '#' and '@' that do not begin with a digit,
// '$', '#' or '@' (SQLite reads those as parameters or numbers), or a part in
// square brackets holding no ']' and no control character (T-SQL reads "]]"
// inside brackets as one ']', SQLite ends the name at the first ']'); parts
// are joined by single dots. Anything else could change the statement.

#include <string>

namespace tersify {

bool IsSafeSqlName(const std::string& name);

// Raises Exception "Invalid <what> name: <name>" for a name that is not safe.
void CheckSqlName(const std::string& what, const std::string& name);

// The object or column a safe name stands for: its last part without
// brackets ("dbo.[acReport]" -> "acReport").
std::string BareSqlName(const std::string& name);

}  // namespace tersify
