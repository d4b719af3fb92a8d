#pragma once
// What a session may write: everything, nothing because the database is
// read-only (as a read-only database or a readable secondary is), or nothing
// because the login has no UPDATE permission. A read-only session runs with
// SQLite's query_only on, so that every write fails; server_errors.cpp gives
// the failure SQL Server's number (3906 or 229). The session's SQLite
// connection also answers the functions the tool asks about it:
//
//   DB_NAME()                                  the database's name
//   DATABASEPROPERTYEX(db, 'Updateability')    READ_ONLY or READ_WRITE
//   HAS_PERMS_BY_NAME(object, class, perm)     0 for UPDATE (and INSERT,
//                                              DELETE) on a read-only login, else 1

#include <sqlite3.h>

#include <string>

namespace tersify::testing::tds {

enum class DatabaseAccess { ReadWrite, ReadOnlyDatabase, ReadOnlyLogin };

// Installs the functions on db and, unless access is ReadWrite, makes it read-only.
void ApplyDatabaseAccess(sqlite3* db, const std::string& database, DatabaseAccess access);

}  // namespace tersify::testing::tds
