#pragma once
// A SQLite file as the server serves it: every connection to it knows the
// server's collations, and every table in it follows the server's column
// rules (server_sql.h), also a table written into the file past the server.

#include <sqlite3.h>

#include <string>
#include <vector>

#include "tests/support/tds_server/collation.h"

namespace tersify::testing::tds {

// What a connection to a served file needs before it compares strings: the
// server's collations and functions (server_functions.h).
void PrepareServedConnection(sqlite3* db);

// Gives every table of the file that lacks them the server's column rules,
// rebuilding its indexes under the new collations. Replaces db's busy
// handling (the caller installs its own afterwards). Returns the tables that
// could not follow them (their rows already break a unique key under the
// collation, for instance), each with the reason; those stay as they were.
std::vector<std::string> AdoptTables(sqlite3* db, const DatabaseCollation& collation);

// Every varbinary column marked unpadded (server_sql.h) loses the trailing
// 0x00 bytes of what is inserted or updated into it, as a SQL Server column
// created with ANSI_PADDING OFF does (triggers of the file, created once).
void TrimUnpaddedColumns(sqlite3* db);

// The same on a file of its own.
std::vector<std::string> AdoptTables(const std::string& file, const DatabaseCollation& collation);

}  // namespace tersify::testing::tds
