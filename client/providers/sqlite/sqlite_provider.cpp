#include "client/providers/sqlite/sqlite_provider.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <utility>

#include "client/errors.h"
#include "client/providers/sqlite/sqlite_busy_wait.h"
#include "client/providers/sqlite/sqlite_cursor.h"
#include "client/providers/sqlite/sqlite_registry.h"
#include "client/providers/sqlite/sqlite_values.h"
#include "client/providers/sqlite/tsql_rewrites.h"

namespace tersify::providers {
namespace {

constexpr int kFirstSpid = 51;  // SQL Server's first user session id
// How long connecting waits for another process's lock when no login timeout is set.
constexpr int kOpenWaitSeconds = 10;

std::atomic<int> next_spid{kFirstSpid};

std::string Folded(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The rows written by a statement without rows; -1 for statements that write
// no rows of their own (DDL, pragmas, BEGIN ...).
int64_t RowsWritten(sqlite3* db, sqlite3_stmt* stmt) {
  const std::string_view text = sqlite3_sql(stmt);
  const size_t start = SkipFiller(text, 0);
  std::string word;
  for (size_t i = start; i < text.size() && std::isalpha(static_cast<unsigned char>(text[i])); ++i)
    word += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
  if (word == "insert" || word == "update" || word == "delete" || word == "replace" ||
      word == "with")
    return sqlite3_changes64(db);
  return -1;
}

[[noreturn]] void ProcedureNotFound(const std::string& name) {
  throw EMSError("Could not find stored procedure '" + name + "'.", "42000", 2812);
}

std::shared_ptr<const RegisteredProcedure> Procedure(const std::string& name) {
  auto procedure = FindProcedure(UnqualifiedName(name));
  if (!procedure) ProcedureNotFound(name);
  return procedure;
}

[[noreturn]] void ParameterCountMismatch(size_t needed, size_t given) {
  throw EMSError(Format("The statement needs %zu parameter values, %zu were given", needed, given),
                 "07002");
}

// Binds the statement's parameters, taken from params at param_index on (the
// statement is the text's last: they must all be used), and runs it. A
// statement with result columns is stepped to its first row and leaves the
// lease for the cursor returned. One without runs to its end here (null is
// returned); rows_affected gets the rows it wrote, when it writes rows.
std::unique_ptr<SqliteStatementCursor> RunStatement(sqlite3* db, SqliteStatementCache::Lease& stmt,
                                                    const std::vector<Variant>& params,
                                                    size_t& param_index, bool last,
                                                    int64_t& rows_affected) {
  const size_t needed = static_cast<size_t>(sqlite3_bind_parameter_count(stmt.get()));
  if (param_index + needed > params.size() || (last && param_index + needed != params.size()))
    ParameterCountMismatch(param_index + needed, params.size());
  // A statement without result columns runs to its end inside this call,
  // while params live: it reads the values where they are (a large blob is
  // not copied once more).
  const bool runs_here = sqlite3_column_count(stmt.get()) == 0;
  for (size_t i = 0; i < needed; ++i)
    BindVariant(stmt.get(), static_cast<int>(i + 1), params[param_index++], runs_here);

  const int step = sqlite3_step(stmt.get());
  if (step != SQLITE_ROW && step != SQLITE_DONE) RaiseSqliteError(db, step);
  if (sqlite3_column_count(stmt.get()) > 0)
    return std::make_unique<SqliteStatementCursor>(stmt.Release(), step);
  // A statement without rows may still be stopped at a row (e.g. a pragma).
  int more = step;
  while (more == SQLITE_ROW) more = sqlite3_step(stmt.get());
  if (more != SQLITE_DONE) RaiseSqliteError(db, more);
  const int64_t written = RowsWritten(db, stmt.get());
  if (written >= 0) rows_affected = written;
  return nullptr;
}

}  // namespace

void SqliteProvider::Open(const ConnectionSettings& settings) {
  Close();
  const std::string& path = settings.database;
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    throw EMSError("Cannot open SQLite database '" + path + "': the file does not exist",
                   "08001", SQLITE_CANTOPEN);
  }
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  SqliteConnection db(raw);
  if (rc != SQLITE_OK) {
    const std::string reason = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
    throw EMSError("Cannot open SQLite database '" + path + "': " + reason, "08001", rc);
  }
  sqlite3_extended_result_codes(db.get(), 1);
  // Connecting waits for another process's lock no longer than the login timeout.
  const int open_wait_seconds =
      settings.login_timeout_seconds > 0 ? settings.login_timeout_seconds : kOpenWaitSeconds;
  sqlite3_busy_timeout(db.get(), open_wait_seconds * 1000);
  // SQLite reads the file lazily: a file that is no database fails here, not later.
  const int check = sqlite3_exec(db.get(), "select count(*) from sqlite_master", nullptr,
                                 nullptr, nullptr);
  if (check != SQLITE_OK) {
    const int code = sqlite3_extended_errcode(db.get());
    std::string reason = sqlite3_errmsg(db.get());
    if ((code & 0xff) == SQLITE_NOTADB)
      reason = "the file is not a database";
    else if ((code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED)
      reason = "the database file is locked by another process; gave up after waiting " +
               std::to_string(open_wait_seconds) + " s";
    throw EMSError("Cannot open SQLite database '" + path + "': " + reason, "08001", code);
  }
  // Statements wait for other processes' locks as long as the command time limit says.
  SetBusyWait(db.get(), settings.command_timeout_seconds);
  const int spid = next_spid++;
  InstallBuiltinFunctions(db.get(), spid);
  functions_.Clear();
  functions_.Sync(db.get());
  db_ = std::move(db);
  spid_ = spid;
  command_timeout_ = std::max(settings.command_timeout_seconds, 0);
  if (settings.session_settings.empty()) return;
  try {
    std::unique_ptr<Cursor> cursor = Execute(settings.session_settings, {});
    while (cursor->Next()) {
    }
  } catch (...) {
    Close();
    throw;
  }
}

void SqliteProvider::SetCommandTimeout(int seconds) {
  command_timeout_ = std::max(seconds, 0);
  if (db_) SetBusyWait(db_.get(), command_timeout_);
}

void SqliteProvider::Close() {
  // Statements first: a statement still alive would keep the file open.
  statements_.Clear();
  functions_.Clear();
  db_.reset();
  spid_ = 0;
}

sqlite3* SqliteProvider::Db() {
  if (!db_) throw EMSError("The connection is not open", "08003");
  functions_.Sync(db_.get());
  return db_.get();
}

void SqliteProvider::Run(const char* sql) {
  sqlite3* db = Db();
  StartBusyRequest(db);
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) RaiseSqliteError(db, rc);
}

std::unique_ptr<Cursor> SqliteProvider::Execute(const std::string& sql,
                                                const std::vector<Variant>& params) {
  // Read before the rewrite looks functions up: a registration from here on
  // makes the next call forget what this one keeps.
  const uint64_t function_generation = ScalarFunctionGeneration();
  sqlite3* db = Db();
  StartBusyRequest(db);
  statements_.Follow(function_generation);
  int64_t rows_affected = -1;

  // A text run before as one statement without rows: its statement again,
  // without reading the text once more.
  if (SqliteStatementCache::Lease cached = statements_.Take(sql)) {
    size_t param_index = 0;
    if (auto cursor = RunStatement(db, cached, params, param_index, true, rows_affected))
      return cursor;
    return std::make_unique<BufferedCursor>(rows_affected);
  }

  std::unique_ptr<Cursor> rows;  // the last result with rows so far
  ForEachStatement(sql, params, [&](std::unique_ptr<Cursor> result, int64_t written, bool last) {
    if (written >= 0) rows_affected = written;
    if (!result) return;
    // Only the text's last statement may hand its rows over unread.
    rows = last ? std::move(result) : BufferedCursor::ReadAll(*result);
  });
  if (rows) return rows;
  return std::make_unique<BufferedCursor>(rows_affected);
}

std::unique_ptr<Cursor> SqliteProvider::ExecuteEach(const std::string& sql,
                                                    const std::vector<Variant>& params) {
  statements_.Follow(ScalarFunctionGeneration());
  auto results = std::make_unique<ResultSequence>();
  try {
    ForEachStatement(sql, params, [&](std::unique_ptr<Cursor> result, int64_t written, bool last) {
      if (!result) result = std::make_unique<BufferedCursor>(written);
      else if (!last) result = BufferedCursor::ReadAll(*result);
      results->Add(std::move(result));
    });
  } catch (...) {
    // As a server would: the results before the failed statement first, then its error.
    if (results->Empty()) throw;
    results->Fail(std::current_exception());
  }
  if (results->Empty()) results->Add(std::make_unique<BufferedCursor>(-1));
  return results;
}

void SqliteProvider::ForEachStatement(const std::string& sql, const std::vector<Variant>& params,
                                      const StatementResult& on_result) {
  sqlite3* db = Db();
  size_t param_index = 0;
  const std::string_view text(sql);
  auto has_function = [](const std::string& name) { return FindScalarFunction(name) != nullptr; };

  size_t pos = SkipFiller(text, 0);
  bool first = true;
  while (pos < text.size()) {
    const bool first_statement = std::exchange(first, false);
    const size_t end = StatementEnd(text, pos);
    const TsqlRewrite rewrite = RewriteTsql(text.substr(pos, end - pos), has_function);

    if (rewrite.kind == TsqlRewrite::Kind::Ignored) {
      pos = SkipFiller(text, end);
      on_result(nullptr, -1, pos >= text.size());
      continue;
    }

    if (rewrite.kind == TsqlRewrite::Kind::Procedure) {
      const auto procedure = Procedure(rewrite.procedure);
      std::vector<Variant> args(procedure->params.size());
      size_t positional = 0;
      for (const ProcArgument& a : rewrite.arguments) {
        size_t slot = positional++;
        if (!a.name.empty()) {
          slot = procedure->params.size();
          for (size_t i = 0; i < procedure->params.size(); ++i)
            if (Folded(procedure->params[i].name) == Folded(a.name)) slot = i;
          if (slot == procedure->params.size())
            throw EMSError("@" + a.name + " is not a parameter for procedure " +
                               rewrite.procedure + ".",
                           "42000", 8145);
        }
        if (slot >= args.size())
          throw EMSError("Procedure or function " + rewrite.procedure +
                             " has too many arguments specified.",
                         "42000", 8144);
        if (a.is_parameter) {
          if (param_index >= params.size()) ParameterCountMismatch(param_index + 1, params.size());
          args[slot] = params[param_index++];
        } else {
          args[slot] = a.value;
        }
      }
      pos = SkipFiller(text, end);
      std::unique_ptr<Cursor> result = ExecuteProcedure(rewrite.procedure, args);
      db = Db();
      const bool last = pos >= text.size();
      if (result->Columns().empty()) result.reset();
      on_result(std::move(result), -1, last);
      continue;
    }

    // A statement for SQLite: the rewritten one, or SQLite's own from the text.
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    int rc;
    size_t next;
    if (rewrite.kind == TsqlRewrite::Kind::Replaced) {
      rc = sqlite3_prepare_v2(db, rewrite.sql.c_str(), -1, &raw, nullptr);
      next = end;
    } else {
      rc = sqlite3_prepare_v2(db, text.data() + pos, static_cast<int>(text.size() - pos), &raw,
                              &tail);
      next = tail ? static_cast<size_t>(tail - text.data()) : text.size();
    }
    SqliteStatement prepared(raw);
    if (rc != SQLITE_OK) RaiseSqliteError(db, rc);
    pos = SkipFiller(text, next);
    if (!prepared) continue;  // only a comment

    const bool last = pos >= text.size();
    // The whole text is this one statement, and it has no rows to hand to a
    // cursor: it is kept for the text's next execution.
    const bool keep = first_statement && last && sqlite3_column_count(prepared.get()) == 0;
    SqliteStatementCache::Lease stmt = keep ? statements_.Keep(sql, std::move(prepared))
                                            : SqliteStatementCache::Once(std::move(prepared));
    int64_t written = -1;
    std::unique_ptr<Cursor> cursor = RunStatement(db, stmt, params, param_index, last, written);
    on_result(std::move(cursor), written, last);
  }
  if (param_index != params.size()) ParameterCountMismatch(param_index, params.size());
}

void SqliteProvider::StartTransaction() {
  if (InTransaction())
    throw EMSError("cannot start a transaction within a transaction", "25000", SQLITE_ERROR);
  Run("BEGIN");
}

void SqliteProvider::Commit() { Run("COMMIT"); }

void SqliteProvider::Rollback() { Run("ROLLBACK"); }

bool SqliteProvider::InTransaction() const {
  return db_ != nullptr && sqlite3_get_autocommit(db_.get()) == 0;
}

std::string SqliteProvider::ServerVersion() { return sqlite3_libversion(); }

std::vector<std::string> SqliteProvider::PrimaryKey(const std::string& table) {
  sqlite3* db = Db();
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(
      db, "select name from pragma_table_info(?1) where pk > 0 order by pk", -1, &raw, nullptr);
  SqliteStatement stmt(raw);
  if (rc != SQLITE_OK) RaiseSqliteError(db, rc);
  BindVariant(stmt.get(), 1, Variant(UnqualifiedName(table)));
  std::vector<std::string> key;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW)
    key.push_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)));
  if (rc != SQLITE_DONE) RaiseSqliteError(db, rc);
  return key;
}

std::vector<ProcParamInfo> SqliteProvider::ProcedureParams(const std::string& procedure) {
  return Procedure(procedure)->params;
}

std::unique_ptr<Cursor> SqliteProvider::ExecuteProcedure(const std::string& procedure,
                                                         std::vector<Variant>& params) {
  Db();
  const auto entry = Procedure(procedure);
  const size_t count = entry->params.size();
  if (params.size() > count)
    throw EMSError("Procedure or function " + UnqualifiedName(procedure) +
                       " has too many arguments specified.",
                   "42000", 8144);
  // The body always sees one value per declared parameter.
  std::vector<Variant> args = params;
  args.resize(count);
  std::unique_ptr<Cursor> result = entry->body(*this, args);
  for (size_t i = 0; i < params.size(); ++i)
    if (entry->params[i].direction != ParamDirection::Input) params[i] = std::move(args[i]);
  if (!result) result = std::make_unique<BufferedCursor>(-1);
  return result;
}

}  // namespace tersify::providers
