#include "tests/support/tds_server/server_state.h"

#include <cctype>

#include "tests/support/tds_server/packet_io.h"

namespace tersify::testing::tds {

void ServerState::SetFrozen(bool frozen) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    frozen_ = frozen;
  }
  changed_.notify_all();
}

bool ServerState::Frozen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frozen_;
}

bool ServerState::WaitWhileFrozen() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !frozen_ || stopping_; });
  return !stopping_;
}

void ServerState::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
}

void ServerState::CountRequest(uint8_t packet_type) {
  switch (packet_type) {
    case kSqlBatch: ++sql_batch_; break;
    case kRpc: ++rpc_; break;
    case kTransactionManager: ++transaction_manager_; break;
    case kAttention: ++attention_; break;
    default: break;
  }
}

void ServerState::CountRowsSentFor(const std::string& containing) {
  std::lock_guard<std::mutex> lock(mutex_);
  rows_counted_for_ = containing;
  rows_sent_for_ = 0;
}

uint64_t ServerState::RowsSentFor() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rows_sent_for_;
}

void ServerState::RowsSent(const std::string& sql, int64_t rows) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (rows > 0 && rows_counted_for_ && sql.find(*rows_counted_for_) != std::string::npos)
    rows_sent_for_ += static_cast<uint64_t>(rows);
}

void ServerState::FailNextRead(const std::string& containing) {
  std::lock_guard<std::mutex> lock(mutex_);
  fail_read_ = containing;
}

bool ServerState::TakeReadFailure(const std::string& sql) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!fail_read_ || sql.find(*fail_read_) == std::string::npos) return false;
  fail_read_.reset();
  return true;
}

void ServerState::DeadlockNextWrite(const std::string& containing, int skip, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  deadlock_write_ = containing;
  deadlock_skip_ = skip;
  deadlock_times_ = times;
}

bool ServerState::TakeWriteDeadlock(const std::string& sql) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!deadlock_write_ || sql.find(*deadlock_write_) == std::string::npos) return false;
  if (deadlock_skip_ > 0) {
    --deadlock_skip_;
    return false;
  }
  if (--deadlock_times_ <= 0) deadlock_write_.reset();
  return true;
}

void ServerState::DeadlockNextStatement(const std::string& containing, int skip, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  deadlock_statement_ = containing;
  statement_skip_ = skip;
  statement_times_ = times;
}

bool ServerState::StatementDeadlockArmed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return deadlock_statement_.has_value();
}

std::optional<size_t> ServerState::TakeStatementDeadlock(const std::vector<std::string>& statements) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < statements.size() && deadlock_statement_; ++i) {
    if (statements[i].find(*deadlock_statement_) == std::string::npos) continue;
    if (statement_skip_ > 0) {
      --statement_skip_;
      continue;
    }
    if (--statement_times_ <= 0) deadlock_statement_.reset();
    return i;
  }
  return std::nullopt;
}

namespace {
std::string Folded(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}
}  // namespace

void ServerState::MarkTable(const std::string& table, const TableMarks& marks) {
  std::lock_guard<std::mutex> lock(mutex_);
  marks_[Folded(table)] = marks;
}

TableMarks ServerState::MarksOf(const std::string& table) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = marks_.find(Folded(table));
  return it == marks_.end() ? TableMarks() : it->second;
}

RequestCounts ServerState::Counts() const {
  RequestCounts counts;
  counts.sql_batch = sql_batch_.load();
  counts.rpc = rpc_.load();
  counts.transaction_manager = transaction_manager_.load();
  counts.attention = attention_.load();
  return counts;
}

}  // namespace tersify::testing::tds
