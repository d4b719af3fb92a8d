#include "bench/baseline_odbc.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "bench/envelope_rules.h"
#include "client/providers/odbc/connection_string.h"
#include "client/providers/odbc/driver_traits.h"
#include "client/providers/odbc/odbc_handle.h"

namespace tersify::bench {
namespace {

namespace odbc = tersify::providers::odbc;

struct StoredRow {
  std::string key;
  std::string value;
  bool null = false;
};

SQLCHAR* Text(const char* sql) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)); }

// Ends the session before its handle is freed (the driver refuses to free a
// connected handle).
class Session {
 public:
  Session(const odbc::DbcHandle& dbc, const std::string& connection_string) : dbc_(dbc) {
    SQLCHAR completed[1024];
    SQLSMALLINT completed_length = 0;
    dbc_.Check(SQLDriverConnect(dbc_.get(), nullptr, Text(connection_string.c_str()), SQL_NTS, completed,
                                sizeof completed, &completed_length, SQL_DRIVER_NOPROMPT),
               "SQLDriverConnect");
  }
  ~Session() { SQLDisconnect(dbc_.get()); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

 private:
  const odbc::DbcHandle& dbc_;
};

// One column of the fetched row, whole, read in 64 KiB pieces; false for NULL.
bool ReadColumn(const odbc::StmtHandle& stmt, SQLUSMALLINT column, SQLSMALLINT c_type, std::string& out) {
  static thread_local std::vector<char> piece(64 * 1024);
  // A character piece ends with the terminator the driver writes.
  const size_t room = c_type == SQL_C_CHAR ? piece.size() - 1 : piece.size();
  out.clear();
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc = stmt.Check(SQLGetData(stmt.get(), column, c_type, piece.data(),
                                               static_cast<SQLLEN>(piece.size()), &indicator),
                                    "SQLGetData");
    if (rc == SQL_NO_DATA) return true;
    if (indicator == SQL_NULL_DATA) return false;
    const bool full = indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) > room;
    out.append(piece.data(), full ? room : static_cast<size_t>(indicator));
    if (rc == SQL_SUCCESS) return true;
  }
}

std::vector<StoredRow> SelectAll(const odbc::StmtHandle& stmt) {
  stmt.Check(SQLExecDirect(stmt.get(), Text("select acReport, acReportData from tqz_reports"), SQL_NTS),
             "SQLExecDirect");
  std::vector<StoredRow> rows;
  while (stmt.Check(SQLFetch(stmt.get()), "SQLFetch") != SQL_NO_DATA) {
    StoredRow& row = rows.emplace_back();
    if (!ReadColumn(stmt, 1, SQL_C_CHAR, row.key)) throw std::runtime_error("a row without a key");
    row.null = !ReadColumn(stmt, 2, SQL_C_BINARY, row.value);
  }
  stmt.Check(SQLFreeStmt(stmt.get(), SQL_CLOSE), "SQLFreeStmt(SQL_CLOSE)");
  return rows;
}

}  // namespace

void OdbcPass(const OdbcTarget& target, bool compress, bool transaction) {
  providers::ConnectionSettings settings;
  settings.server = target.server;
  settings.database = target.database;
  settings.username = target.user;
  settings.password = target.password;
  const odbc::ConnectionStringOptions options = odbc::ConnectionStringOptionsFromEnvironment();
  const odbc::DriverTraits traits = odbc::DriverTraits::ForKind(odbc::ConnectionDriverKind(settings, options));

  const odbc::EnvHandle env = odbc::EnvHandle::AllocateEnvironment();
  const odbc::DbcHandle dbc = odbc::DbcHandle::Allocate(env);
  const Session session(dbc, odbc::BuildConnectionString(settings, options));
  const auto start = std::chrono::steady_clock::now();
  if (transaction)
    dbc.Check(SQLSetConnectAttr(dbc.get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
              "SQLSetConnectAttr(SQL_AUTOCOMMIT_OFF)");
  const odbc::StmtHandle stmt = odbc::StmtHandle::Allocate(dbc);
  // As any script must that reads values of more than 4,096 bytes from SQL Server.
  stmt.Check(SQLExecDirect(stmt.get(), Text("SET TEXTSIZE 2147483647"), SQL_NTS), "SQLExecDirect(SET TEXTSIZE)");
  while (stmt.Check(SQLMoreResults(stmt.get()), "SQLMoreResults") != SQL_NO_DATA) {
  }
  const std::vector<StoredRow> rows = SelectAll(stmt);

  // The parameters are bound once, to buffers that each row fills: FreeTDS
  // prepares the statement again whenever a parameter is bound anew. The
  // value's buffer is bound again only when a value outgrows it.
  size_t key_size = 1;
  for (const StoredRow& row : rows) key_size = std::max(key_size, row.key.size());
  std::vector<char> key(key_size + 1), value;
  SQLLEN key_length = 0, value_length = 0;
  stmt.Check(SQLPrepare(stmt.get(), Text("update tqz_reports set acReportData = ? where acReport = ?"), SQL_NTS),
             "SQLPrepare");
  stmt.Check(SQLBindParameter(stmt.get(), 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, key_size, 0, key.data(),
                              static_cast<SQLLEN>(key.size()), &key_length),
             "SQLBindParameter(2)");
  int rewritten = 0;
  std::string out;
  for (const StoredRow& row : rows) {
    if (row.null || !Rewrite(compress, row.value.data(), row.value.size(), out)) continue;
    if (out.size() > value.size()) {
      value.resize(std::max(out.size(), 2 * value.size()));
      stmt.Check(SQLBindParameter(stmt.get(), 1, SQL_PARAM_INPUT, SQL_C_BINARY, traits.long_binary_sql_type,
                                  traits.long_binary_column_size_zero ? 0 : value.size(), 0, value.data(),
                                  static_cast<SQLLEN>(value.size()), &value_length),
                 "SQLBindParameter(1)");
    }
    std::copy(out.begin(), out.end(), value.begin());
    value_length = static_cast<SQLLEN>(out.size());
    std::copy(row.key.begin(), row.key.end(), key.begin());
    key_length = static_cast<SQLLEN>(row.key.size());
    stmt.Check(SQLExecute(stmt.get()), "SQLExecute");
    SQLLEN changed = -1;
    stmt.Check(SQLRowCount(stmt.get(), &changed), "SQLRowCount");
    if (changed != 1)
      throw std::runtime_error("the update of " + row.key + " wrote " + std::to_string(changed) + " rows");
    while (stmt.Check(SQLMoreResults(stmt.get()), "SQLMoreResults") != SQL_NO_DATA) {
    }
    ++rewritten;
  }
  if (transaction) dbc.Check(SQLEndTran(SQL_HANDLE_DBC, dbc.get(), SQL_COMMIT), "SQLEndTran(SQL_COMMIT)");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("rows %zu rewritten %d seconds %.3f\n", rows.size(), rewritten, seconds);
}

}  // namespace tersify::bench
