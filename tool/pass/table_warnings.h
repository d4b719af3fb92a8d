#pragma once
// What a rewrite of one column touches beyond the column, told before the
// first row so that nobody is surprised afterwards (SQL Server only; nothing
// here stops the pass):
//
//   a rowversion column     every rewritten row gets a new rowversion, so an
//                           application that compares it sees the row changed
//   system versioning       the history table receives every old value
//   a full-text index       on the column: it cannot read compressed bytes
//   row-level security      rows the login cannot see are not rewritten
//   change data capture,    the log carries every rewritten value to the
//   replication             change tables or the subscribers
//
// Each is asked of the catalogue views, all in one request; where an older
// server cannot answer one of them (no such view or column), they are asked
// one by one, and each it cannot answer leaves its warning out.

#include <cstdint>
#include <string>
#include <vector>

#include "tool/pass/target.h"

namespace tersify {

// One line each, in the order above; empty on SQLite. table and field as the
// pass names them; visible_rows: the rows the pass counted.
std::vector<std::string> TableWarnings(const TPassTarget& target, const std::string& table,
                                       const std::string& field, int64_t visible_rows);

}  // namespace tersify
