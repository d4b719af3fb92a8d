#pragma once
// HASHBYTES(algorithm, value), SQL Server's digest function, for statements
// that guard a write with the digest of the value they read. Algorithms:
// 'MD5', 'SHA1', 'SHA2_256', 'SHA2_512' (any letter case); the digest of the
// value's bytes (text as stored, UTF-8) as a blob; NULL for a NULL value;
// an unknown algorithm gives NULL, as on SQL Server.

#include <sqlite3.h>

namespace tersify::providers {

// Raises EMSError when SQLite refuses the function.
void InstallHashBytes(sqlite3* db);

}  // namespace tersify::providers
