#include "client/providers/odbc/odbc_handle.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/errors.h"
#include "client/providers/odbc/odbc_failures.h"

namespace tersify::providers::odbc {
namespace {

// A driver that keeps answering records would otherwise hold us forever.
constexpr SQLSMALLINT kMaxDiagnostics = 32;

}  // namespace

const char* ReturnCodeName(SQLRETURN rc) {
  switch (rc) {
    case SQL_SUCCESS: return "SQL_SUCCESS";
    case SQL_SUCCESS_WITH_INFO: return "SQL_SUCCESS_WITH_INFO";
    case SQL_NO_DATA: return "SQL_NO_DATA";
    case SQL_ERROR: return "SQL_ERROR";
    case SQL_INVALID_HANDLE: return "SQL_INVALID_HANDLE";
    case SQL_NEED_DATA: return "SQL_NEED_DATA";
    case SQL_STILL_EXECUTING: return "SQL_STILL_EXECUTING";
    default: return "unknown return code";
  }
}

bool OdbcTraceEnabled() {
  static const bool enabled = [] {
    const char* v = std::getenv("TERSIFY_ODBC_TRACE");
    return v && std::strcmp(v, "1") == 0;
  }();
  return enabled;
}

void TraceOdbc(const char* call, SQLRETURN rc) {
  if (OdbcTraceEnabled()) std::fprintf(stderr, "odbc: %s -> %s\n", call, ReturnCodeName(rc));
}

std::vector<OdbcDiagnostic> ReadDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle) {
  std::vector<OdbcDiagnostic> records;
  if (handle == SQL_NULL_HANDLE) return records;
  for (SQLSMALLINT i = 1; i <= kMaxDiagnostics; ++i) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::vector<SQLCHAR> text(1024);
    SQLRETURN rc = SQLGetDiagRec(handle_type, handle, i, state, &native, text.data(),
                                 static_cast<SQLSMALLINT>(text.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(text.size())) {
      // The message did not fit: ask again with room for all of it.
      text.resize(static_cast<size_t>(length) + 1);
      rc = SQLGetDiagRec(handle_type, handle, i, state, &native, text.data(),
                         static_cast<SQLSMALLINT>(text.size()), &length);
    }
    if (!SQL_SUCCEEDED(rc)) break;
    OdbcDiagnostic d;
    d.sql_state.assign(reinterpret_cast<const char*>(state), strnlen(reinterpret_cast<const char*>(state), 5));
    d.native_error = native;
    const size_t n = std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)),
                                      text.size() - 1);
    d.message.assign(reinterpret_cast<const char*>(text.data()), n);
    while (!d.message.empty() && (d.message.back() == '\n' || d.message.back() == '\r'))
      d.message.pop_back();
    records.push_back(std::move(d));
  }
  return records;
}

SQLRETURN CheckOdbc(SQLRETURN rc, SQLSMALLINT handle_type, SQLHANDLE handle, const char* call) {
  TraceOdbc(call, rc);
  if (rc == SQL_SUCCESS || rc == SQL_NO_DATA) return rc;
  if (rc == SQL_SUCCESS_WITH_INFO) {
    if (OdbcTraceEnabled()) {
      for (const OdbcDiagnostic& d : ReadDiagnostics(handle_type, handle))
        std::fprintf(stderr, "odbc:   [%s] %s\n", d.sql_state.c_str(), d.message.c_str());
    }
    return rc;
  }
  if (rc == SQL_INVALID_HANDLE)
    throw EMSError(std::string("Invalid ODBC handle in ") + call, "HY000", 0);

  std::vector<OdbcDiagnostic> records = ReadDiagnostics(handle_type, handle);
  if (records.empty()) throw EMSError(std::string(call) + " failed: " + ReturnCodeName(rc));
  std::string message;
  for (const OdbcDiagnostic& d : records) {
    if (d.message.empty() || message.find(d.message) != std::string::npos) continue;
    if (!message.empty()) message += '\n';
    message += d.message;
  }
  if (OdbcTraceEnabled()) {
    for (const OdbcDiagnostic& d : records)
      std::fprintf(stderr, "odbc:   [%s] (%d) %s\n", d.sql_state.c_str(), d.native_error,
                   d.message.c_str());
  }
  // A failed connect keeps the driver's words: it is no statement.
  std::string readable_state;
  if (std::strcmp(call, "SQLDriverConnect") != 0) {
    if (std::optional<StatementFailure> failure = ClassifyStatementFailure(handle_type, handle, records)) {
      message = std::move(failure->message);
      readable_state = std::move(failure->sql_state);
    }
  }
  // The first record with a native number is the server's own error.
  const OdbcDiagnostic* first = &records.front();
  for (const OdbcDiagnostic& d : records) {
    if (d.native_error != 0) {
      first = &d;
      break;
    }
  }
  throw EMSError(std::move(message), readable_state.empty() ? first->sql_state : readable_state,
                 first->native_error);
}

}  // namespace tersify::providers::odbc
