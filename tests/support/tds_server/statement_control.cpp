#include "tests/support/tds_server/statement_control.h"

#include <poll.h>

namespace tersify::testing::tds {
namespace {

constexpr auto kWaitStep = std::chrono::milliseconds(5);
constexpr int kWatchStepMs = 10;
// Virtual-machine steps between two looks at the attention flag.
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

void StatementControl::Begin() {
  attention_ = false;
  lock_timed_out_ = false;
}

int StatementControl::Busy(void* self, int attempts) {
  auto* control = static_cast<StatementControl*>(self);
  if (control->attention_) return 0;
  const auto now = std::chrono::steady_clock::now();
  if (attempts == 0) control->wait_started_ = now;
  const int timeout = control->lock_timeout_ms_;
  if (timeout >= 0 && now - control->wait_started_ >= std::chrono::milliseconds(timeout)) {
    control->lock_timed_out_ = true;
    return 0;
  }
  std::this_thread::sleep_for(kWaitStep);
  return control->attention_ ? 0 : 1;
}

int StatementControl::Progress(void* self) {
  return static_cast<StatementControl*>(self)->attention_ ? 1 : 0;
}

StatementControl::Watch::Watch(StatementControl& control, int fd) : control_(control) {
  control_.Begin();
  thread_ = std::thread([this, fd] {
    while (!done_) {
      pollfd watched{fd, POLLIN, 0};
      const int ready = ::poll(&watched, 1, kWatchStepMs);
      if (ready > 0 && !done_) {
        // Anything on the socket now is an attention (or the end of the connection).
        control_.attention_ = true;
        return;
      }
    }
  });
}

StatementControl::Watch::~Watch() {
  done_ = true;
  thread_.join();
}

}  // namespace tersify::testing::tds
