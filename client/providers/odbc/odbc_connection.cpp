#include "client/providers/odbc/odbc_connection.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "client/errors.h"
#include "client/providers/odbc/connect_failure.h"

namespace tersify::providers::odbc {
namespace {

SQLPOINTER UIntegerAttr(int value) {
  return reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(value));
}

// Where the settings point, for the reason of a failed connect.
ConnectTarget TargetOf(const ConnectionSettings& settings, const ConnectionStringOptions& options) {
  ConnectTarget t;
  t.user = settings.username;
  t.database = settings.database;
  t.timeout_seconds = settings.login_timeout_seconds;
  t.encryption = ConnectionEncryption(settings, options);
  t.data_source = DataSourceName(settings.server);
  if (!t.data_source.empty()) {
    if (!options.data_source) return t;
    auto entry = [&](const char* key) { return options.data_source(t.data_source, key); };
    if (t.user.empty()) t.user = entry("UID");
    if (t.database.empty()) t.database = entry("Database");
    if (const std::string section = entry("Servername"); !section.empty()) {
      // A freetds.conf section: address and certificate checks come from there.
      t.host = FreeTdsConfEntry(section, "host");
      t.port = std::atoi(FreeTdsConfEntry(section, "port").c_str());
      t.ca_file = FreeTdsConfEntry(section, "ca file");
    } else if (const std::string server = entry("Server"); !server.empty()) {
      const ServerAddress address = ParseServer(server, std::atoi(entry("Port").c_str()));
      t.host = address.host;
      t.port = address.port;
      t.instance = address.instance;
    }
    return t;
  }
  const ServerAddress address = ParseServer(settings.server, settings.port);
  t.host = address.host;
  t.port = address.port;
  t.instance = address.instance;
  return t;
}

}  // namespace

std::shared_ptr<OdbcConnection> OdbcConnection::Connect(const ConnectionSettings& settings,
                                                        const ConnectionStringOptions& options) {
  const std::string connection_string = BuildConnectionString(settings, options);
  const DriverKind kind = ConnectionDriverKind(settings, options);
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
  // The driver's socket is what appears while it connects.
  const std::set<int> sockets_before = OutgoingTcpSockets();
  SQLCHAR completed[1024];
  SQLSMALLINT completed_length = 0;
  try {
    c->dbc_.Check(
        SQLDriverConnect(c->dbc_.get(), nullptr,
                         reinterpret_cast<SQLCHAR*>(const_cast<char*>(connection_string.c_str())),
                         SQL_NTS, completed, sizeof completed, &completed_length,
                         SQL_DRIVER_NOPROMPT),
        "SQLDriverConnect");
  } catch (const EMSError& e) {
    ConnectTarget target;
    try {
      target = TargetOf(settings, options);
    } catch (const EMSError&) {
      throw e;  // a data source without a usable Server entry: the driver's words stand
    }
    throw ExplainConnectFailure(e, target);
  }
  c->connected_ = true;
  c->watchdog_ = std::make_unique<RequestWatchdog>(NewOutgoingSocket(sockets_before, OutgoingTcpSockets()));
  c->command_timeout_ = std::max(settings.command_timeout_seconds, 0);
  c->traits_ = ProbeDriverTraits(c->dbc_, kind);
  if (OdbcTraceEnabled())
    std::fprintf(stderr, "odbc: driver %s %s, %s %s\n", c->traits_.driver_name.c_str(),
                 c->traits_.driver_version.c_str(), c->traits_.dbms_name.c_str(),
                 c->traits_.dbms_version.c_str());
  // TEXTSIZE: SQL Server cuts large values at 4,096 bytes for a session that
  // sets no text size (FreeTDS is told to send none of its own, a request
  // less at log-in: connection_string.cpp).
  // NOCOUNT OFF: a server whose 'user options' turn it on would send no row
  // counts, and every write would look as if it wrote nothing.
  std::string session = "SET TEXTSIZE 2147483647; SET NOCOUNT OFF";
  if (!settings.session_settings.empty()) session += "; " + settings.session_settings;
  c->ExecuteSimple(session);
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
  const bool lost = lost_;
  connected_ = false;
  // A lost connection has nothing to roll back: the server did when it went.
  if (rollback_first && !lost) {
    RequestWatchdog::Watch watch(*watchdog_, command_timeout_);
    TraceOdbc("SQLEndTran(SQL_ROLLBACK)", SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK));
  }
  const SQLRETURN rc = SQLDisconnect(dbc_.get());
  if (!lost) dbc_.Check(rc, "SQLDisconnect");
}

void OdbcConnection::MarkLost(const EMSError& error) {
  lost_ = true;
  if (!lost_error_) lost_error_ = error;
}

void OdbcConnection::RaiseFailure(const EMSError& error, const RequestWatchdog::Watch& watch) {
  if (watch.Severed()) {
    const EMSError cut = watch.Cancelled()
                             ? EMSError("the request was cancelled; the connection to the server was closed", "HY008")
                             : EMSError("the server did not answer within " + std::to_string(command_timeout_) + " s",
                                        "HYT00");
    // The requests after it learn that the connection is gone, and why.
    MarkLost(EMSError("the connection to the server was lost: " + std::string(cut.what()), "08S01"));
    throw cut;
  }
  if (error.SQLState() == "08S01" || error.SQLState() == "08003" || error.SQLState() == "08007") MarkLost(error);
  throw error;
}

std::shared_ptr<StmtHandle> OdbcConnection::NewStatement() {
  if (lost_error_) throw *lost_error_;
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
  Bounded([&] { ExecuteSimpleUnbounded(sql); });
}

void OdbcConnection::ExecuteSimpleUnbounded(const std::string& sql) {
  std::shared_ptr<StmtHandle> stmt = NewStatement();
  stmt->Check(SQLExecDirect(stmt->get(), reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())),
                            SQL_NTS),
              "SQLExecDirect");
  while (stmt->Check(SQLMoreResults(stmt->get()), "SQLMoreResults") != SQL_NO_DATA) {
  }
}

}  // namespace tersify::providers::odbc
