#pragma once
// FreeTDS's command-line client tsql run against a test database: a client
// other than ours, for what the test server must answer to any client.

#include <string>

#include "tests/support/provider_matrix.h"

namespace tersify::testing {

// Whether tsql (freetds-bin) is installed.
bool HaveTsql();

// What tsql prints (standard output, then standard error) for a script run
// against the database; batches end with "go" lines.
std::string RunTsql(const TestDatabase& db, const std::string& script);

}  // namespace tersify::testing
