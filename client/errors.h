#pragma once
// Errors of the SQL Server client library. Driver and server errors carry the
// provider's own message, its SQLSTATE and the native error number.

#include <string>

#include "framework/data/db_error.h"

namespace tersify {

class EDAError : public EDatabaseError {
 public:
  explicit EDAError(std::string message, int native_error = 0)
      : EDatabaseError(std::move(message)), native_error_(native_error) {}
  int NativeError() const { return native_error_; }

 private:
  int native_error_;
};

// A row statement that wrote another number of rows than the one it must
// ("Update failed. Found %d records"). No update-error handler can turn it
// into success: the caller's transaction must be rolled back.
class ERowCountError : public EDAError {
 public:
  using EDAError::EDAError;
};

// An error reported by SQL Server (or a provider standing in for it).
class EMSError : public EDAError {
 public:
  EMSError(std::string message, std::string sql_state = {}, int native_error = 0)
      : EDAError(std::move(message), native_error), sql_state_(std::move(sql_state)) {}
  const std::string& SQLState() const { return sql_state_; }
  // The statement ran out of time (the server did not answer, or the database
  // file stayed locked), or the connection to the server is gone: nothing
  // about the statement itself, so no caller may take it for "not supported".
  bool IsTimeoutOrLostConnection() const {
    return sql_state_ == "HYT00" || sql_state_ == "08S01" || sql_state_ == "08003" ||
           sql_state_ == "08007";
  }

 private:
  std::string sql_state_;
};

// The server confirmed a commit, and the connection was lost right after it
// (switching back to autocommit): the transaction's rows are written, and the
// connection is closed.
class ECommittedThenLost : public EMSError {
 public:
  explicit ECommittedThenLost(const EMSError& lost) : EMSError(lost) {}
};

}  // namespace tersify
