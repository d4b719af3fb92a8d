#pragma once
// How the sqlite provider describes a column: the SQL Server type names the
// application's tables use map as they do for every provider (DescribeColumn),
// with SQLite's own reading of TEXT (the ordinary string type); any other
// declared type by SQLite's affinity rules (https://www.sqlite.org/datatype3.html,
// 3.1). A column without a declared type, or declared ANY, takes the type of
// the first row's value.

#include <sqlite3.h>

#include <string>

#include "client/providers/provider.h"

namespace tersify::providers {

// first_storage: the storage class (SQLITE_INTEGER ...) of the column in the
// first row, SQLITE_NULL when there is no row or it is NULL.
//   "" / "any"                    -> by first_storage (ftUnknown without one)
//   "text"                        -> ftString, no size
//   names DescribeColumn knows    -> as it says
//   containing "int"              -> ftLargeint (INTEGER affinity)
//   containing "char"/"clob"/"text" -> ftString (TEXT affinity)
//   containing "blob"             -> ftBlob
//   containing "real"/"floa"/"doub" -> ftFloat (REAL affinity)
//   anything else (NUMERIC affinity) -> by first_storage, else ftFloat
ColumnInfo DescribeSqliteColumn(const std::string& name, const std::string& declared_type,
                                int first_storage);

}  // namespace tersify::providers
