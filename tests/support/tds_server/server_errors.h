#pragma once
// SQL Server's error numbers, severities and states for what SQLite (or the
// server itself) reports in its own words, so that a client sees the error a
// SQL Server would have raised: 208 for a missing table, 2627 for a duplicate
// primary key, 1205 for a deadlock victim and so on.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/tds_server/database_access.h"

namespace tersify::testing::tds {

// An error the server raises with SQL Server's number.
class ServerError : public std::runtime_error {
 public:
  ServerError(int32_t number, const std::string& message, uint8_t severity = 16, uint8_t state = 1)
      : std::runtime_error(message), number_(number), severity_(severity), state_(state) {}
  int32_t Number() const { return number_; }
  uint8_t Severity() const { return severity_; }
  uint8_t State() const { return state_; }

 private:
  int32_t number_;
  uint8_t severity_, state_;
};

struct SqlServerError {
  int32_t number = 50000;
  uint8_t severity = 16;
  uint8_t state = 1;
  std::string message;
  // Followed by "The statement has been terminated." (3621), as SQL Server
  // does after a statement that broke a constraint.
  bool terminates_statement = false;
  // The session's transaction has been rolled back (a deadlock victim).
  bool ends_transaction = false;
};

struct ErrorContext {
  std::string database;  // for the names in messages
  int spid = 0;
  std::string sql;       // the statement that failed, may be empty
  // A lock wait ran to the session's LOCK_TIMEOUT; a lock refused without a
  // wait is a deadlock.
  bool lock_timed_out = false;
  // The primary-key columns of a table (to tell 2627 from 2601).
  std::function<std::vector<std::string>(const std::string&)> primary_key;
  // A write refused by SQLite's query_only is the session's read-only access.
  DatabaseAccess access = DatabaseAccess::ReadWrite;
};

SqlServerError ToSqlServerError(const std::exception& error, const ErrorContext& context);

constexpr int32_t kStatementTerminated = 3621;

}  // namespace tersify::testing::tds
