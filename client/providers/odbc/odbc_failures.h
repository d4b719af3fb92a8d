#pragma once
// Failures of a running statement that a user should read in plain words
// instead of the driver's: the statement's time limit ran out, or the
// connection to the server is gone (the socket died, the server was killed).

#include <optional>
#include <string>
#include <vector>

#include "client/providers/odbc/odbc_handle.h"

namespace tersify::providers::odbc {

struct StatementFailure {
  std::string message;
  std::string sql_state;  // HYT00 for the time limit, 08S01 for a lost connection
};

// The readable failure for the diagnostics of a failed call on a statement or
// connection handle, or none when they are an ordinary error:
//   HYT00 on a statement -> "the server did not answer within 30 s"
//   08S01, 08003, 08007, FreeTDS's socket errors (20004 read failed, 20006
//   write failed, 20017 unexpected EOF) or its bare "Unknown error" ->
//   "the connection to the server was lost: <driver detail>" (the detail left
//   out when it is only "Unknown error").
// Connecting is not a statement: its failures keep the driver's words.
std::optional<StatementFailure> ClassifyStatementFailure(SQLSMALLINT handle_type, SQLHANDLE handle,
                                                         const std::vector<OdbcDiagnostic>& records);

}  // namespace tersify::providers::odbc
