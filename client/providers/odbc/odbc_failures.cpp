#include "client/providers/odbc/odbc_failures.h"

#include <string_view>

namespace tersify::providers::odbc {
namespace {

// SQLSTATEs of a connection that is gone: communication link failure,
// connection does not exist, connection failure during the transaction.
bool IsLostConnectionState(const std::string& state) {
  return state == "08S01" || state == "08003" || state == "08007";
}

// The driver's text without the "[vendor][component]" prefixes.
std::string_view PlainText(std::string_view message) {
  while (!message.empty() && message.front() == '[') {
    const size_t close = message.find(']');
    if (close == std::string_view::npos) break;
    message.remove_prefix(close + 1);
  }
  return message;
}

// FreeTDS says only this when the socket died under a request.
bool IsBareUnknownError(const OdbcDiagnostic& d) { return PlainText(d.message) == "Unknown error"; }

// FreeTDS's own numbers for a socket that failed: read failed, write failed,
// unexpected end of stream (the server went away).
bool IsSocketFailure(const OdbcDiagnostic& d) {
  return d.native_error == 20004 || d.native_error == 20006 || d.native_error == 20017;
}

SQLULEN QueryTimeoutOf(SQLHANDLE stmt) {
  SQLULEN seconds = 0;
  if (!SQL_SUCCEEDED(SQLGetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, &seconds, 0, nullptr))) return 0;
  return seconds;
}

}  // namespace

std::optional<StatementFailure> ClassifyStatementFailure(SQLSMALLINT handle_type, SQLHANDLE handle,
                                                         const std::vector<OdbcDiagnostic>& records) {
  if (records.empty()) return std::nullopt;
  bool lost = false;
  bool timed_out = false;
  for (const OdbcDiagnostic& d : records) {
    if (IsLostConnectionState(d.sql_state) || IsSocketFailure(d) || IsBareUnknownError(d)) lost = true;
    if (d.sql_state == "HYT00" && handle_type == SQL_HANDLE_STMT) timed_out = true;
  }
  if (lost) {
    std::string text = "the connection to the server was lost";
    std::string detail;
    for (const OdbcDiagnostic& d : records) {
      if (d.message.empty() || IsBareUnknownError(d)) continue;
      if (!detail.empty()) detail += "; ";
      detail += std::string(PlainText(d.message));
    }
    if (!detail.empty()) text += ": " + detail;
    return StatementFailure{std::move(text), "08S01"};
  }
  if (timed_out) {
    const SQLULEN seconds = QueryTimeoutOf(handle);
    if (seconds == 0) return StatementFailure{"the server did not answer in time", "HYT00"};
    return StatementFailure{"the server did not answer within " + std::to_string(seconds) + " s", "HYT00"};
  }
  return std::nullopt;
}

}  // namespace tersify::providers::odbc
