#include "client/providers/odbc/odbc_connection.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "client/errors.h"

namespace tersify::providers::odbc {
namespace {

SQLPOINTER UIntegerAttr(int value) {
  return reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(value));
}

}  // namespace

std::shared_ptr<OdbcConnection> OdbcConnection::Connect(const ConnectionSettings& settings,
                                                        const ConnectionStringOptions& options) {
  const std::string connection_string = BuildConnectionString(settings, options);
  const DriverKind kind = DriverKindOf(options.driver);
  const DriverTraits expected = DriverTraits::ForKind(kind);

  std::shared_ptr<OdbcConnection> c(new OdbcConnection());
  c->env_ = EnvHandle::AllocateEnvironment();
  c->dbc_ = DbcHandle::Allocate(c->env_);
  if (settings.login_timeout_seconds > 0) {
    c->dbc_.Check(SQLSetConnectAttr(c->dbc_.get(), SQL_ATTR_LOGIN_TIMEOUT,
                                    UIntegerAttr(settings.login_timeout_seconds), 0),
                  "SQLSetConnectAttr(SQL_ATTR_LOGIN_TIMEOUT)");
    if (expected.connection_timeout_bounds_connect) {
      c->dbc_.Check(SQLSetConnectAttr(c->dbc_.get(), SQL_ATTR_CONNECTION_TIMEOUT,
                                      UIntegerAttr(settings.login_timeout_seconds), 0),
                    "SQLSetConnectAttr(SQL_ATTR_CONNECTION_TIMEOUT)");
    }
  }
  SQLCHAR completed[1024];
  SQLSMALLINT completed_length = 0;
  c->dbc_.Check(
      SQLDriverConnect(c->dbc_.get(), nullptr,
                       reinterpret_cast<SQLCHAR*>(const_cast<char*>(connection_string.c_str())),
                       SQL_NTS, completed, sizeof completed, &completed_length,
                       SQL_DRIVER_NOPROMPT),
      "SQLDriverConnect");
  c->connected_ = true;
  c->command_timeout_ = std::max(settings.command_timeout_seconds, 0);
  c->traits_ = ProbeDriverTraits(c->dbc_, kind);
  if (OdbcTraceEnabled())
    std::fprintf(stderr, "odbc: driver %s %s, %s %s\n", c->traits_.driver_name.c_str(),
                 c->traits_.driver_version.c_str(), c->traits_.dbms_name.c_str(),
                 c->traits_.dbms_version.c_str());
  // FreeTDS also sets it from TextSize; a driver that ignores that keyword
  // would otherwise cut long text and image values.
  c->ExecuteSimple("SET TEXTSIZE 2147483647");
  return c;
}

OdbcConnection::~OdbcConnection() {
  try {
    Disconnect(false);
  } catch (...) {
    // A destructor cannot report; the handles are freed all the same.
  }
}

void OdbcConnection::Disconnect(bool rollback_first) {
  for (std::weak_ptr<StmtHandle>& w : statements_)
    if (std::shared_ptr<StmtHandle> s = w.lock()) s->Free();
  statements_.clear();
  if (!connected_) return;
  connected_ = false;
  if (rollback_first)
    TraceOdbc("SQLEndTran(SQL_ROLLBACK)", SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK));
  dbc_.Check(SQLDisconnect(dbc_.get()), "SQLDisconnect");
}

std::shared_ptr<StmtHandle> OdbcConnection::NewStatement() {
  if (!connected_) throw EMSError("The connection is closed");
  // Forget statements already gone.
  std::erase_if(statements_, [](const std::weak_ptr<StmtHandle>& w) { return w.expired(); });
  auto stmt = std::make_shared<StmtHandle>(StmtHandle::Allocate(dbc_));
  if (command_timeout_ > 0) {
    stmt->Check(SQLSetStmtAttr(stmt->get(), SQL_ATTR_QUERY_TIMEOUT,
                               reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(command_timeout_)), 0),
                "SQLSetStmtAttr(SQL_ATTR_QUERY_TIMEOUT)");
  }
  statements_.push_back(stmt);
  return stmt;
}

void OdbcConnection::ExecuteSimple(const std::string& sql) {
  std::shared_ptr<StmtHandle> stmt = NewStatement();
  stmt->Check(SQLExecDirect(stmt->get(), reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())),
                            SQL_NTS),
              "SQLExecDirect");
  while (stmt->Check(SQLMoreResults(stmt->get()), "SQLMoreResults") != SQL_NO_DATA) {
  }
}

}  // namespace tersify::providers::odbc
