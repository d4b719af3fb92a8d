#include "client/providers/odbc/request_watchdog.h"

#include "client/providers/request_cancel.h"

namespace tersify::providers::odbc {
namespace {

// How often a running request looks for a cancel.
constexpr std::chrono::milliseconds kCancelPoll{100};

}  // namespace

RequestWatchdog::RequestWatchdog(TcpSocket socket) : socket_(socket) {
  if (socket_.Known()) thread_ = std::thread([this] { Run(); });
}

RequestWatchdog::~RequestWatchdog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void RequestWatchdog::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  bool cancel_seen = false;
  while (!stopping_) {
    if (!armed_ || severed_) {
      cancel_seen = false;
      changed_.wait(lock);
      continue;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!cancel_seen && RequestCancelAsked()) {
      cancel_seen = true;
      const auto cancel_deadline = now + kGrace;
      if (!has_deadline_ || cancel_deadline < deadline_) {
        deadline_ = cancel_deadline;
        has_deadline_ = true;
        severed_by_cancel_ = true;
      }
    }
    if (has_deadline_ && now >= deadline_) {
      SeverSocket(socket_);
      severed_ = true;
      continue;
    }
    auto wake = now + kCancelPoll;
    if (has_deadline_ && deadline_ < wake) wake = deadline_;
    changed_.wait_until(lock, wake);
  }
}

RequestWatchdog::Watch::Watch(RequestWatchdog& dog, int seconds) : dog_(dog) {
  std::lock_guard<std::mutex> lock(dog_.mutex_);
  outermost_ = !dog_.armed_;
  if (!outermost_ || !dog_.socket_.Known()) return;
  dog_.armed_ = true;
  dog_.has_deadline_ = seconds > 0;
  dog_.severed_by_cancel_ = false;
  if (dog_.has_deadline_)
    dog_.deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(seconds) + kGrace;
  dog_.changed_.notify_all();
}

RequestWatchdog::Watch::~Watch() {
  if (!outermost_) return;
  std::lock_guard<std::mutex> lock(dog_.mutex_);
  dog_.armed_ = false;
  dog_.changed_.notify_all();
}

bool RequestWatchdog::Watch::Severed() const {
  std::lock_guard<std::mutex> lock(dog_.mutex_);
  return dog_.severed_;
}

bool RequestWatchdog::Watch::Cancelled() const {
  std::lock_guard<std::mutex> lock(dog_.mutex_);
  return dog_.severed_ && dog_.severed_by_cancel_;
}

}  // namespace tersify::providers::odbc
