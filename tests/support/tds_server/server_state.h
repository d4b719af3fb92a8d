#pragma once
// What every session of one server shares: the freeze switch (the server stops
// answering while every socket stays open, as a hung server would) and the
// count of requests (and attention messages) the clients sent.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/tds_server/catalog_views.h"

namespace tersify::testing::tds {

struct RequestCounts {
  uint64_t sql_batch = 0;
  uint64_t rpc = 0;
  uint64_t transaction_manager = 0;
  // Cancels of a running statement; not requests of their own.
  uint64_t attention = 0;
  uint64_t Total() const { return sql_batch + rpc + transaction_manager; }
};

class ServerState {
 public:
  void SetFrozen(bool frozen);
  bool Frozen() const;
  // Blocks while the server is frozen. False once the server stops: the
  // session then ends without answering.
  bool WaitWhileFrozen();
  // Releases every waiting session for good.
  void Stop();

  // Counts a client message of this packet type; logins and the like are not
  // counted, attention apart from the requests.
  void CountRequest(uint8_t packet_type);
  RequestCounts Counts() const;

  // The next query whose text holds `containing` (any session) fails with
  // SQL Server's error 601, as a dirty read that lost its place in the index does.
  void FailNextRead(const std::string& containing);
  // True once for the query that is to fail.
  bool TakeReadFailure(const std::string& sql);
  // Of the requests whose text holds `containing` (any session), the `times`
  // after `skip` others fail with SQL Server's error 1205, their transaction
  // rolled back, as a deadlock victim's does.
  void DeadlockNextWrite(const std::string& containing, int skip, int times);
  // Of the statements holding `containing`, counted one by one across the
  // requests of every session, the `times` after `skip` others are chosen as
  // deadlock victims when they are about to run: the statements of their
  // request before them have run, the rest of it does not.
  void DeadlockNextStatement(const std::string& containing, int skip, int times);
  // What the catalogue views say of a table beyond what SQLite knows (catalog_views.h).
  void MarkTable(const std::string& table, const TableMarks& marks);
  TableMarks MarksOf(const std::string& table) const;
  // True for each request that is to fail.
  bool TakeWriteDeadlock(const std::string& sql);
  // From now on the rows sent in the results of statements whose text holds
  // `containing` (any session) are counted, from 0.
  void CountRowsSentFor(const std::string& containing);
  uint64_t RowsSentFor() const;
  // A statement sent `rows` rows of a result.
  void RowsSent(const std::string& sql, int64_t rows);
  // Whether a statement is still to be chosen as a deadlock victim.
  bool StatementDeadlockArmed() const;
  // Of the statements of a request about to run, in order, the index of the
  // one that is to fail, if any; the statements up to it are counted.
  std::optional<size_t> TakeStatementDeadlock(const std::vector<std::string>& statements);

 private:
  std::optional<std::string> fail_read_;  // guarded by mutex_
  std::optional<std::string> deadlock_write_;  // guarded by mutex_
  int deadlock_skip_ = 0;                       // guarded by mutex_
  int deadlock_times_ = 0;                      // guarded by mutex_
  std::optional<std::string> deadlock_statement_;  // guarded by mutex_
  int statement_skip_ = 0;                         // guarded by mutex_
  int statement_times_ = 0;                        // guarded by mutex_
  std::map<std::string, TableMarks> marks_;      // by folded name; guarded by mutex_
  std::optional<std::string> rows_counted_for_;  // guarded by mutex_
  uint64_t rows_sent_for_ = 0;                    // guarded by mutex_
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool frozen_ = false;
  bool stopping_ = false;
  std::atomic<uint64_t> sql_batch_{0}, rpc_{0}, transaction_manager_{0}, attention_{0};
};

}  // namespace tersify::testing::tds
