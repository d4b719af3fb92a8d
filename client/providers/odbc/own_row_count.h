#pragma once
// FreeTDS keeps the first row count of a batch sent without parameters: for a
// statement that fires a trigger that is the trigger's count (SQL Server sends
// a trigger's DONEINPROC before the statement's own DONE), so an update of one
// row that writes three audit rows reports three. A lone INSERT, UPDATE,
// DELETE or MERGE sent without parameters is therefore followed by
// "select @@ROWCOUNT", whose value is the statement's own count. Sent with
// parameters (sp_executesql) the driver reports the statement's own count.

#include <string>

namespace tersify::providers::odbc {

// True for one INSERT, UPDATE, DELETE or MERGE statement (nothing but blanks
// after a ';') without an OUTPUT clause, which would return rows of its own.
bool NeedsOwnRowCount(const std::string& sql);

// The text that reports the statement's own count as its last result.
std::string WithOwnRowCount(const std::string& sql);

}  // namespace tersify::providers::odbc
