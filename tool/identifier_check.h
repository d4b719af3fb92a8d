#pragma once
// Table, field and key names are inserted into SQL text as they are given. A
// name is accepted only when it is made of identifier parts: letters (bytes of
// 128 and above count as letters of the code page), digits, '_', '$', '#' and
// '@', or a part in square brackets ("]]" inside stands for ']'); parts are
// joined by single dots. Anything else could change the statement.

#include <string>

namespace tersify {

bool IsSafeSqlName(const std::string& name);

// Raises Exception "Invalid <what> name: <name>" for a name that is not safe.
void CheckSqlName(const std::string& what, const std::string& name);

}  // namespace tersify
