#pragma once
// The embedded provider: a SQLite file standing in for SQL Server. It runs
// SQLite's own SQL, plus the fixed T-SQL statements of the database access
// layer (tsql_rewrites.h) and the stored procedures and scalar functions of
// the process-wide registry (sqlite_registry.h).

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/providers/provider.h"
#include "client/providers/sqlite/sqlite_functions.h"
#include "client/providers/sqlite/sqlite_handles.h"
#include "client/providers/sqlite/sqlite_statement_cache.h"

namespace tersify::providers {

class SqliteProvider final : public Provider {
 public:
  SqliteProvider() = default;
  ~SqliteProvider() override { Close(); }
  SqliteProvider(const SqliteProvider&) = delete;
  SqliteProvider& operator=(const SqliteProvider&) = delete;

  std::string Name() const override { return "sqlite"; }

  // settings.database is the path of an existing SQLite file; a missing file is
  // an error and nothing is created. Opening an open provider closes it first.
  void Open(const ConnectionSettings& settings) override;
  void Close() override;
  bool IsOpen() const override { return db_ != nullptr; }
  void SetCommandTimeout(int seconds) override;
  int CommandTimeout() const override { return command_timeout_; }

  // A text of one or more statements; each '?' takes the next parameter in
  // order across the statements. The last statement that returns rows gives
  // the cursor (read row by row when it is the text's last statement); without
  // one, the cursor has no rows and tells the rows written by the last insert,
  // update or delete (-1 when there was none). A text that is one statement
  // without result columns keeps its prepared statement for its next
  // execution (sqlite_statement_cache.h).
  std::unique_ptr<Cursor> Execute(const std::string& sql,
                                  const std::vector<Variant>& params) override;
  // The same text, one result per statement (a statement without rows gives
  // its count, -1 for one that writes no rows); the last result is read as
  // it is stepped, those before it are read into memory as they come.
  std::unique_ptr<Cursor> ExecuteEach(const std::string& sql,
                                      const std::vector<Variant>& params) override;

  void StartTransaction() override;
  void Commit() override;
  void Rollback() override;
  bool InTransaction() const override;

  // SQLite's version, "3.40.1".
  std::string ServerVersion() override;
  std::vector<std::string> PrimaryKey(const std::string& table) override;
  std::vector<ProcParamInfo> ProcedureParams(const std::string& procedure) override;
  std::unique_ptr<Cursor> ExecuteProcedure(const std::string& procedure,
                                           std::vector<Variant>& params) override;

  // The connection's id, what "select @@SPID" answers: unique in the process,
  // counted from 51 as connections open; 0 while closed.
  int Spid() const { return spid_; }
  // How many prepared statements are kept for texts executed again.
  size_t KeptStatements() const { return statements_.Size(); }
  // The SQLite connection itself, for a host that registers collations or
  // its own busy handling on it (the TDS test server); null while closed.
  sqlite3* NativeHandle() const { return db_.get(); }

 private:
  sqlite3* Db();
  void Run(const char* sql);  // a fixed statement without rows
  // Each statement's rows (null for one without), the rows it wrote (-1 for
  // none) and whether it is the text's last, in the text's order.
  using StatementResult = std::function<void(std::unique_ptr<Cursor> rows, int64_t written, bool last)>;
  void ForEachStatement(const std::string& sql, const std::vector<Variant>& params,
                        const StatementResult& on_result);

  SqliteConnection db_;
  // Statements of db_ kept for reuse, keyed by the text executed.
  SqliteStatementCache statements_;
  int spid_ = 0;
  int command_timeout_ = 0;
  RegisteredFunctions functions_;
};

}  // namespace tersify::providers
