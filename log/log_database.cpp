#include "log/log_database.h"

#include "framework/rtl/platform.h"

namespace tersify {

const char kCreateLogTable[] =
    "CREATE TABLE IF NOT EXISTS Log (AnNo INTEGER PRIMARY KEY, Cas DATETEXT DEFAULT CURRENT_TIMESTAMP, "
    "AppName TEXT,FormName TEXT,ControlName TEXT,Sendername TEXT,ObjectName TEXT,Operation TEXT,"
    "ExceptObject TEXT,BuildNo INTEGER,TickCount INTEGER,Error TEXT,SenderProp TEXT);";

namespace {

const char kNotOpen[] = "The log database is not open";

[[noreturn]] void RaiseEngineError(sqlite3* db, int code) {
  throw ESQLiteError(code, db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
}

// Opens path read-write, creating it when missing. Raises ESQLiteError.
sqlite3* OpenHandle(const std::string& path) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    throw ESQLiteError(rc, message);
  }
  return db;
}

}  // namespace

void TLogDatabase::Open(const std::string& path) {
  Close();
  handle_.reset(OpenHandle(path));
  // The row statements write their texts between double quotes; make sure the
  // engine reads them as string literals whatever its build defaults are.
  sqlite3_db_config(handle_.get(), SQLITE_DBCONFIG_DQS_DML, 1, nullptr);
}

void TLogDatabase::Close() { handle_.reset(); }

void TLogDatabase::SetBusyTimeout(int milliseconds) {
  if (!handle_) throw Exception(kNotOpen);
  sqlite3_busy_timeout(handle_.get(), milliseconds);
}

void TLogDatabase::ExecuteMulti(const std::string& text) {
  if (!handle_) throw Exception(kNotOpen);
  char* error = nullptr;
  int rc = sqlite3_exec(handle_.get(), text.c_str(), nullptr, nullptr, &error);
  std::unique_ptr<char, decltype(&sqlite3_free)> owned(error, &sqlite3_free);
  if (rc != SQLITE_OK) throw ESQLiteError(rc, error ? error : sqlite3_errstr(rc));
}

int TLogDatabase::LastErrorCode() const { return handle_ ? sqlite3_errcode(handle_.get()) : SQLITE_MISUSE; }

bool TLogDatabase::InTransaction() const { return handle_ && sqlite3_get_autocommit(handle_.get()) == 0; }

void OpenLogDatabase(TLogDatabase& database, const std::string& file_name) {
  if (!FileExists(file_name)) {
    sqlite3* created = OpenHandle(file_name);
    int rc = sqlite3_close(created);
    if (rc != SQLITE_OK) RaiseEngineError(nullptr, rc);
  }
  database.Open(file_name);
  database.ExecuteMulti("PRAGMA auto_vacuum = 1;");
  database.ExecuteMulti(kCreateLogTable);
}

int CommitBatch(TLogDatabase& database, const std::string& text, bool has_transaction, int busy_timeout_ms,
                std::string* failure_text) {
  int result = 0;
  std::string failure;
  try {
    database.SetBusyTimeout(busy_timeout_ms);
    database.ExecuteMulti(has_transaction ? text : "BEGIN DEFERRED;\r\n" + text + " COMMIT TRANSACTION ");
    return 0;
  } catch (const ESQLiteError& e) {
    result = database.LastErrorCode();
    if (result == SQLITE_OK) result = e.ErrorCode();
    failure = (result & 0xff) == SQLITE_BUSY ? "  INSERT timed out!" : e.Message();
  } catch (const std::exception& e) {
    result = 1;
    failure = e.what();
  }
  // A statement that failed inside the batch leaves its transaction open; the
  // next attempt's own BEGIN would then fail for ever. End it here so that the
  // same statements can be offered again.
  if (database.InTransaction()) {
    try {
      database.ExecuteMulti("ROLLBACK");
    } catch (const std::exception&) {
      // The next attempt reports whatever is still wrong.
    }
  }
  if (failure_text) *failure_text = failure;
  return result;
}

}  // namespace tersify
