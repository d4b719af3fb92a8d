#pragma once
// Owned SQLite handles and the one way SQLite errors leave the provider.

#include <sqlite3.h>

#include <memory>

namespace tersify::providers {

struct SqliteConnectionCloser {
  // close_v2: statements still alive keep the connection until they are finalised.
  void operator()(sqlite3* db) const noexcept;
};
struct SqliteStatementFinalizer {
  void operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }
};

using SqliteConnection = std::unique_ptr<sqlite3, SqliteConnectionCloser>;
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteStatementFinalizer>;

// Raises EMSError with SQLite's message for the connection's last error; the
// native error is SQLite's extended result code (rc when the connection has none).
// A file locked by another process past the wait (SQLITE_BUSY) says so, with
// the time waited, SQLSTATE HYT00.
[[noreturn]] void RaiseSqliteError(sqlite3* db, int rc);

// The SQLSTATE that stands for a SQLite result code: 23000 for constraint
// violations, 08001 for files that cannot be opened, HY000 otherwise.
const char* SqlStateOf(int extended_code);

}  // namespace tersify::providers
