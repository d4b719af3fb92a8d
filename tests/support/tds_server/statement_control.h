#pragma once
// What stops a statement the server runs, as SQL Server stops it: a lock is
// waited for as long as it is held, or as long as SET LOCK_TIMEOUT says
// (then the statement fails with 1222), and an attention from the client
// stops the statement at once, also while it waits for a lock.
//
// While a request runs, SQLite's progress and busy handlers look at the
// session's socket: the client sends nothing else then, so anything that
// arrives is an attention.

#include <sqlite3.h>

#include <chrono>
#include <cstdint>

namespace tersify::testing::tds {

class StatementControl {
 public:
  // Takes over db's busy handling and progress handler for the session.
  explicit StatementControl(sqlite3* db);
  ~StatementControl();
  StatementControl(const StatementControl&) = delete;
  StatementControl& operator=(const StatementControl&) = delete;

  // Milliseconds a statement waits for a lock; -1 for ever (the default), 0 not at all.
  void SetLockTimeout(int milliseconds) { lock_timeout_ms_ = milliseconds; }

  // While one lives, an attention arriving on fd stops the running statement.
  class Watch {
   public:
    Watch(StatementControl& control, int fd);
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

   private:
    StatementControl& control_;
  };

  // Rows written on the connection since it opened, by statements and the
  // triggers they fired (sqlite3_total_changes).
  int64_t TotalChanges() const { return sqlite3_total_changes64(db_); }
  sqlite3* Db() const { return db_; }

  // Whether an attention arrived while the current request ran.
  bool AttentionArrived() const { return attention_; }
  // Looks at the socket now (without waiting): whether an attention has
  // arrived for the running request. False between requests.
  bool AttentionPending() { return ClientSpoke(0); }
  // Whether the last statement gave up waiting for a lock at its LOCK_TIMEOUT
  // (rather than being refused at once: a deadlock).
  bool LockTimedOut() const { return lock_timed_out_; }

 private:
  static int Busy(void* self, int attempts);
  static int Progress(void* self);
  // Whether the client has sent something, waiting at most milliseconds.
  bool ClientSpoke(int milliseconds);

  sqlite3* db_;
  int fd_ = -1;  // the socket watched, -1 between requests
  int lock_timeout_ms_ = -1;
  bool attention_ = false;
  bool lock_timed_out_ = false;
  std::chrono::steady_clock::time_point wait_started_;
};

}  // namespace tersify::testing::tds
