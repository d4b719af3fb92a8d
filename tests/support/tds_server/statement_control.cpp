#include "tests/support/tds_server/statement_control.h"

#include <poll.h>

namespace tersify::testing::tds {
namespace {

constexpr int kWaitStepMs = 5;
// Virtual-machine steps between two looks at the socket.
constexpr int kProgressSteps = 1000;

}  // namespace

StatementControl::StatementControl(sqlite3* db) : db_(db) {
  sqlite3_busy_handler(db_, &StatementControl::Busy, this);
  sqlite3_progress_handler(db_, kProgressSteps, &StatementControl::Progress, this);
}

StatementControl::~StatementControl() {
  sqlite3_busy_handler(db_, nullptr, nullptr);
  sqlite3_progress_handler(db_, 0, nullptr, nullptr);
}

bool StatementControl::ClientSpoke(int milliseconds) {
  if (attention_) return true;
  if (fd_ < 0) return false;
  pollfd watched{fd_, POLLIN, 0};
  // Readable: an attention, or the end of the connection; either ends the statement.
  attention_ = ::poll(&watched, 1, milliseconds) > 0;
  return attention_;
}

int StatementControl::Busy(void* self, int attempts) {
  auto* control = static_cast<StatementControl*>(self);
  const auto now = std::chrono::steady_clock::now();
  if (attempts == 0) control->wait_started_ = now;
  const int timeout = control->lock_timeout_ms_;
  if (timeout >= 0 && now - control->wait_started_ >= std::chrono::milliseconds(timeout)) {
    control->lock_timed_out_ = true;
    return 0;
  }
  if (control->fd_ >= 0) return control->ClientSpoke(kWaitStepMs) ? 0 : 1;
  ::poll(nullptr, 0, kWaitStepMs);  // between requests (never, in practice): just wait
  return 1;
}

int StatementControl::Progress(void* self) {
  return static_cast<StatementControl*>(self)->ClientSpoke(0) ? 1 : 0;
}

StatementControl::Watch::Watch(StatementControl& control, int fd) : control_(control) {
  control_.fd_ = fd;
  control_.attention_ = false;
  control_.lock_timed_out_ = false;
}

StatementControl::Watch::~Watch() { control_.fd_ = -1; }

}  // namespace tersify::testing::tds
