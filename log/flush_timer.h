#pragma once
// The log's flush timer. It behaves like a window-message timer: created
// disabled; once enabled it calls its handler one interval later, and again
// every interval until it is disabled; enabling an enabled timer changes
// nothing. The program has no message loop on its console paths, so the
// handler runs on a thread of the timer's own: one thread per timer, which
// ends when the timer is destroyed (waiting for a handler that is running).

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tersify {

class TLogFlushTimer {
 public:
  TLogFlushTimer(std::chrono::milliseconds interval, std::function<void()> on_timer);
  ~TLogFlushTimer();
  TLogFlushTimer(const TLogFlushTimer&) = delete;
  TLogFlushTimer& operator=(const TLogFlushTimer&) = delete;

  bool Enabled() const;
  void SetEnabled(bool enabled);
  std::chrono::milliseconds Interval() const { return interval_; }

 private:
  void Run();

  const std::chrono::milliseconds interval_;
  const std::function<void()> on_timer_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool enabled_ = false;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point due_;
  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace tersify
