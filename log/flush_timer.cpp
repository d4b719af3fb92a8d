#include "log/flush_timer.h"

namespace tersify {

TLogFlushTimer::TLogFlushTimer(std::chrono::milliseconds interval, std::function<void()> on_timer)
    : interval_(interval), on_timer_(std::move(on_timer)), thread_([this] { Run(); }) {}

TLogFlushTimer::~TLogFlushTimer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool TLogFlushTimer::Enabled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return enabled_;
}

void TLogFlushTimer::SetEnabled(bool enabled) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (enabled) due_ = std::chrono::steady_clock::now() + interval_;
  }
  changed_.notify_all();
}

void TLogFlushTimer::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (!enabled_) {
      changed_.wait(lock);
      continue;
    }
    auto now = std::chrono::steady_clock::now();
    if (now < due_) {
      changed_.wait_until(lock, due_);
      continue;
    }
    due_ = now + interval_;
    lock.unlock();
    try {
      on_timer_();
    } catch (...) {
      // A timer handler's failure ends that tick only.
    }
    lock.lock();
  }
}

}  // namespace tersify
