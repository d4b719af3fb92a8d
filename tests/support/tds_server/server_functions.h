#pragma once
// SQL Server's scalar functions the served statements use that SQLite lacks,
// installed on every connection to a served file:
//
//   DATALENGTH(x)          the bytes of x (text as stored, blobs as they are);
//                          NULL for NULL
//   tds_type_id(declared)  sys.types' id of a declared type ("varbinary(40)": 165)
//   tds_max_length(declared)  sys.columns.max_length of a declared type: bytes,
//                          -1 for (max) and for a blob or a size left out
//   tds_zero_trimmed(x)    the bytes of x without its trailing 0x00 bytes: how a
//                          server before 2016 compares varbinary values
//                          (server_sql.h), and what an unpadded varbinary
//                          column keeps of a value

#include <sqlite3.h>

namespace tersify::testing::tds {

void RegisterServerFunctions(sqlite3* db);

}  // namespace tersify::testing::tds
