#include "client/providers/odbc/odbc_provider.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

#include "client/errors.h"
#include "client/providers/odbc/connection_string.h"
#include "client/providers/odbc/odbc_catalog.h"
#include "client/providers/odbc/odbc_connection.h"
#include "client/providers/odbc/odbc_cursor.h"
#include "client/providers/odbc/odbc_parameters.h"
#include "client/providers/odbc/own_row_count.h"

namespace tersify::providers {
namespace {

using namespace odbc;

// SQL Server refuses a text null where binary is wanted: "Implicit conversion
// from data type varchar to varbinary(max) is not allowed" (257), "Operand type
// clash" (206). Checked before anything runs, so the statement can be repeated.
bool IsNullTypeClash(const EMSError& e) { return e.NativeError() == 257 || e.NativeError() == 206; }

SQLCHAR* SqlText(const std::string& sql) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str()));
}

// Runs the statement with its bound parameters, handing long values over in
// pieces when the driver asks for them.
SQLRETURN ExecDirect(const StmtHandle& stmt, const std::string& sql, ParameterBuffers& buffers) {
  const SQLRETURN rc = SQLExecDirect(stmt.get(), SqlText(sql), SQL_NTS);
  if (rc != SQL_NEED_DATA) return stmt.Check(rc, "SQLExecDirect");
  TraceOdbc("SQLExecDirect", rc);
  return buffers.SendValuesAtExecution(stmt);
}

class OdbcProvider : public Provider {
 public:
  ~OdbcProvider() override {
    try {
      Close();
    } catch (...) {
      // Nothing can be reported from a destructor.
    }
  }

  std::string Name() const override { return "odbc"; }

  void Open(const ConnectionSettings& settings) override {
    Close();
    connection_ = OdbcConnection::Connect(settings, ConnectionStringOptionsFromEnvironment());
    command_timeout_ = connection_->CommandTimeout();
    in_transaction_ = false;
    procedures_.clear();
  }

  void Close() override {
    if (!connection_) return;
    std::shared_ptr<OdbcConnection> c = std::move(connection_);
    const bool rollback = in_transaction_;
    in_transaction_ = false;
    procedures_.clear();
    c->Disconnect(rollback);
  }

  bool IsOpen() const override { return connection_ && connection_->Connected(); }

  void SetCommandTimeout(int seconds) override {
    command_timeout_ = std::max(seconds, 0);
    if (connection_) connection_->SetCommandTimeout(command_timeout_);
  }
  int CommandTimeout() const override { return command_timeout_; }

  std::unique_ptr<Cursor> Execute(const std::string& sql,
                                  const std::vector<Variant>& params) override {
    if (!params.empty() || !NeedsOwnRowCount(sql)) return Run(sql, params, false);
    // The driver would report the first count, a trigger's (own_row_count.h).
    std::unique_ptr<Cursor> cursor = Run(WithOwnRowCount(sql), params, false);
    int64_t rows = cursor->RowsAffected();
    if (cursor->Next()) rows = cursor->Value(0).AsInt64();
    cursor->Close();
    return std::make_unique<MemoryCursor>(std::vector<ColumnInfo>{}, std::vector<std::vector<Variant>>{}, rows);
  }

  std::unique_ptr<Cursor> ExecuteEach(const std::string& sql,
                                      const std::vector<Variant>& params) override {
    return Run(sql, params, true);
  }

  void StartTransaction() override {
    OdbcConnection& c = Connection();
    if (in_transaction_) throw EMSError("A transaction is already active");
    c.Bounded([&] { SetAutocommit(c, false); });
    in_transaction_ = true;
  }

  void Commit() override { EndTransaction(SQL_COMMIT); }
  // With autocommit left off the driver keeps a transaction open after the
  // commit (FreeTDS asks the server for the next one in the same request),
  // which spares the two requests of switching autocommit on and off again.
  void CommitAndStartNext() override {
    OdbcConnection& c = Connection();
    if (!in_transaction_) throw EMSError("No transaction is active");
    EndAtServer(c, SQL_COMMIT);
  }
  void Rollback() override { EndTransaction(SQL_ROLLBACK); }
  // Switching autocommit on ends the transaction by itself, one request: the
  // ODBC rules commit it, FreeTDS rolls it back, and with nothing written in
  // it either is the same.
  void EndUnusedTransaction() override {
    OdbcConnection& c = Connection();
    if (!in_transaction_) throw EMSError("No transaction is active");
    in_transaction_ = false;
    try {
      c.Bounded([&] { SetAutocommit(c, true); });
    } catch (const EMSError& e) {
      c.MarkLost(e);  // out of the transaction only by giving the connection up
      throw;
    }
  }
  bool InTransaction() const override { return in_transaction_; }

  std::string ServerVersion() override {
    OdbcConnection& c = Connection();
    return c.Bounded([&] { return GetInfoText(c.Dbc(), SQL_DBMS_VER, "SQLGetInfo(SQL_DBMS_VER)"); });
  }

  std::vector<std::string> PrimaryKey(const std::string& table) override {
    OdbcConnection& c = Connection();
    return c.Bounded([&] { return PrimaryKeyColumns(c, table); });
  }

  std::vector<ProcParamInfo> ProcedureParams(const std::string& procedure) override {
    std::vector<ProcParamInfo> out;
    for (const ProcParamDetail& d : Details(procedure)) out.push_back(d.info);
    return out;
  }

  std::unique_ptr<Cursor> ExecuteProcedure(const std::string& procedure,
                                           std::vector<Variant>& params) override {
    OdbcConnection& c = Connection();
    if (procedure.find_first_of("{}();\r\n") != std::string::npos)
      throw EMSError("Invalid procedure name '" + procedure + "'");
    const std::vector<ProcParamDetail>& details = Details(procedure);
    return c.Bounded([&] { return RunProcedure(c, procedure, details, params); });
  }

 private:
  std::unique_ptr<Cursor> RunProcedure(OdbcConnection& c, const std::string& procedure,
                                       const std::vector<ProcParamDetail>& details, std::vector<Variant>& params) {
    std::string sql = "{call " + procedure + "(";
    for (size_t i = 0; i < params.size(); ++i) sql += i ? ",?" : "?";
    sql += ")}";

    std::shared_ptr<StmtHandle> stmt = c.NewStatement();
    ParameterBuffers buffers(c.Traits(), ParameterBuffers::NullAs::Text);
    for (size_t i = 0; i < params.size(); ++i) {
      if (i < details.size() && details[i].info.direction != ParamDirection::Input)
        buffers.AddOutput(details[i], params[i]);
      else
        buffers.AddInput(params[i]);
    }
    buffers.Bind(*stmt);
    const SQLRETURN rc = ExecDirect(*stmt, sql, buffers);

    // Output values arrive after the last result: read everything now.
    std::vector<ColumnInfo> columns;
    std::vector<std::vector<Variant>> rows;
    int64_t rows_affected = -1;
    if (rc != SQL_NO_DATA && SkipToRowResult(*stmt, rows_affected)) {
      const std::vector<ResultColumn> result_columns = DescribeResultColumns(*stmt);
      for (const ResultColumn& rcol : result_columns) columns.push_back(rcol.info);
      std::vector<char> buffer;
      while (stmt->Check(SQLFetch(stmt->get()), "SQLFetch") != SQL_NO_DATA) {
        std::vector<Variant> row;
        row.reserve(result_columns.size());
        for (size_t i = 0; i < result_columns.size(); ++i)
          row.push_back(ReadColumnValue(*stmt, static_cast<SQLUSMALLINT>(i + 1), result_columns[i], buffer));
        rows.push_back(std::move(row));
      }
      DrainResults(*stmt, rows_affected);
    }
    for (size_t i = 0; i < params.size(); ++i)
      if (buffers.IsOutput(i)) params[i] = buffers.OutputValue(i);
    return std::make_unique<MemoryCursor>(std::move(columns), std::move(rows), rows_affected);
  }

 private:
  // Runs the text; the cursor stands at its first result with columns, or
  // (each_result) at every result in turn.
  std::unique_ptr<Cursor> Run(const std::string& sql, const std::vector<Variant>& params, bool each_result) {
    OdbcConnection& c = Connection();
    return c.Bounded([&]() -> std::unique_ptr<Cursor> {
      for (ParameterBuffers::NullAs null_as : {ParameterBuffers::NullAs::Text, ParameterBuffers::NullAs::Binary}) {
        std::shared_ptr<StmtHandle> stmt = c.NewStatement();
        ParameterBuffers buffers(c.Traits(), null_as);
        for (const Variant& p : params) buffers.AddInput(p);
        buffers.Bind(*stmt);
        SQLRETURN rc;
        try {
          rc = ExecDirect(*stmt, sql, buffers);
        } catch (const EMSError& e) {
          if (null_as == ParameterBuffers::NullAs::Text && buffers.HasNull() && IsNullTypeClash(e))
            continue;
          throw;
        }
        // The parameters have been sent; the buffers may go.
        // A first statement that wrote no row may answer "no data" while the
        // results of those after it are still to come.
        if (rc == SQL_NO_DATA && !each_result) return std::make_unique<MemoryCursor>(std::vector<ColumnInfo>{},
                                                                     std::vector<std::vector<Variant>>{}, 0);
        return std::make_unique<OdbcCursor>(connection_, std::move(stmt), each_result);
      }
      throw EMSError("Statement could not be executed");  // not reached
    });
  }

  OdbcConnection& Connection() {
    if (connection_ && connection_->LostError()) throw *connection_->LostError();
    if (!connection_ || !connection_->Connected()) throw EMSError("The connection is closed");
    return *connection_;
  }

  const std::vector<ProcParamDetail>& Details(const std::string& procedure) {
    OdbcConnection& c = Connection();
    auto it = procedures_.find(procedure);
    if (it == procedures_.end())
      it = procedures_.emplace(procedure, c.Bounded([&] { return ProcedureParamDetails(c, procedure); })).first;
    return it->second;
  }

  static void SetAutocommit(OdbcConnection& c, bool on) {
    const uintptr_t value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
    c.Dbc().Check(SQLSetConnectAttr(c.Dbc().get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(value), 0),
                  on ? "SQLSetConnectAttr(SQL_AUTOCOMMIT_ON)" : "SQLSetConnectAttr(SQL_AUTOCOMMIT_OFF)");
  }

  // Commits or rolls back at the server, autocommit staying off. When the
  // server refuses (a deadlock victim, a full log) the provider leaves the
  // transaction: what is left of it is rolled back on the way back to
  // autocommit.
  void EndAtServer(OdbcConnection& c, SQLSMALLINT completion) {
    const char* call = completion == SQL_COMMIT ? "SQLEndTran(SQL_COMMIT)" : "SQLEndTran(SQL_ROLLBACK)";
    try {
      c.Bounded([&] { c.Dbc().Check(SQLEndTran(SQL_HANDLE_DBC, c.Dbc().get(), completion), call); });
    } catch (const EMSError& e) {
      in_transaction_ = false;
      if (c.Connected()) {
        try {
          c.Bounded([&] { SetAutocommit(c, true); });
        } catch (const EMSError&) {
          c.MarkLost(e);  // out of the transaction only by giving the connection up
        }
      }
      throw;
    }
  }

  // Ends the transaction whatever happens: afterwards the provider is out of
  // it, with autocommit back on, or its connection counts as closed. A commit
  // the server confirmed stays done when the switch back to autocommit fails
  // (ECommittedThenLost says so).
  void EndTransaction(SQLSMALLINT completion) {
    OdbcConnection& c = Connection();
    if (!in_transaction_) throw EMSError("No transaction is active");
    in_transaction_ = false;
    // Commit first, then autocommit on: switching it on alone would roll back (FreeTDS).
    EndAtServer(c, completion);
    try {
      c.Bounded([&] { SetAutocommit(c, true); });
    } catch (const EMSError& e) {
      c.MarkLost(e);
      if (completion == SQL_COMMIT) throw ECommittedThenLost(e);
      throw;
    }
  }

  std::shared_ptr<OdbcConnection> connection_;
  bool in_transaction_ = false;
  int command_timeout_ = 0;
  std::map<std::string, std::vector<ProcParamDetail>> procedures_;
};

}  // namespace

std::unique_ptr<Provider> CreateOdbcProvider() { return std::make_unique<OdbcProvider>(); }

std::string OdbcDriverManagerVersion() {
  // SQL_DM_VER is the driver manager's own answer: a connection handle is
  // enough, no driver is loaded.
  const EnvHandle env = EnvHandle::AllocateEnvironment();
  const DbcHandle dbc = DbcHandle::Allocate(env);
  SQLCHAR text[64] = {};
  SQLSMALLINT length = 0;
  dbc.Check(SQLGetInfo(dbc.get(), SQL_DM_VER, text, sizeof text, &length), "SQLGetInfo(SQL_DM_VER)");
  // "##.##.####.####": the ODBC version, then the driver manager's major and minor.
  const std::string version(reinterpret_cast<const char*>(text));
  int odbc_major = 0, odbc_minor = 0, dm_major = 0, dm_minor = 0;
  if (std::sscanf(version.c_str(), "%d.%d.%d.%d", &odbc_major, &odbc_minor, &dm_major, &dm_minor) != 4)
    return "ODBC driver manager " + version;
  return "ODBC driver manager " + std::to_string(dm_major) + "." + std::to_string(dm_minor) + " (ODBC " +
         std::to_string(odbc_major) + "." + (odbc_minor < 10 ? "0" : "") + std::to_string(odbc_minor) + ")";
}

}  // namespace tersify::providers
