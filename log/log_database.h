#pragma once
// The log's one connection to its SQLite database, creating and opening that
// database, and writing a batch of statements in one transaction.

#include <sqlite3.h>

#include <memory>
#include <string>

#include "framework/rtl/exception.h"

namespace tersify {

// An error the database engine reported; carries the engine's error code.
class ESQLiteError : public Exception {
 public:
  ESQLiteError(int error_code, std::string message) : Exception(std::move(message)), error_code_(error_code) {}
  int ErrorCode() const { return error_code_; }

 private:
  int error_code_;
};

// One connection; closed on destruction.
class TLogDatabase {
 public:
  TLogDatabase() = default;
  TLogDatabase(const TLogDatabase&) = delete;
  TLogDatabase& operator=(const TLogDatabase&) = delete;

  // Opens the database at path, creating the file when it is missing; an open
  // connection is closed first. Raises ESQLiteError.
  void Open(const std::string& path);
  void Close();
  bool IsOpen() const { return handle_ != nullptr; }

  // Raises Exception when the connection is not open.
  void SetBusyTimeout(int milliseconds);
  // Runs a text of several statements; raises ESQLiteError for an engine
  // error and Exception when the connection is not open.
  void ExecuteMulti(const std::string& text);
  // The engine's code of the last failed call; SQLITE_MISUSE when not open.
  int LastErrorCode() const;
  // True while a transaction is open on the connection.
  bool InTransaction() const;

 private:
  struct Closer {
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
  };
  std::unique_ptr<sqlite3, Closer> handle_;
};

// Makes sure a database file exists at file_name (creating and closing one
// when none does), opens it on database, switches auto-vacuum to full and
// creates table Log when it is missing. Raises ESQLiteError.
void OpenLogDatabase(TLogDatabase& database, const std::string& file_name);

// The statement that creates table Log.
extern const char kCreateLogTable[];

// Writes text (one or more statements) with the given busy timeout. Unless
// has_transaction is true the text is wrapped in "BEGIN DEFERRED;" and
// " COMMIT TRANSACTION ". Returns 0 on success, the engine's last error code
// after an engine error, 1 after any other failure; failure_text (when given)
// receives "  INSERT timed out!" for a busy database, the error's message
// otherwise. A failed text leaves no transaction open behind it.
int CommitBatch(TLogDatabase& database, const std::string& text, bool has_transaction, int busy_timeout_ms,
                std::string* failure_text = nullptr);

}  // namespace tersify
