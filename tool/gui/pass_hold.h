#pragma once
// Holds a pass of the window before one of its rows until released: the
// screenshot tool takes its picture of a pass in its middle that way, and the
// tests look at the window while a pass runs. Install Hook() with
// TTersifyMain::SetBeforeWrite.

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "framework/rtl/variant.h"

namespace tersify::gui {

class TPassHold {
 public:
  // Holds the pass before its row number row (counted from 1).
  explicit TPassHold(int row) : row_(row) {}
  // Never leaves a pass waiting.
  ~TPassHold() { Release(); }
  TPassHold(const TPassHold&) = delete;
  TPassHold& operator=(const TPassHold&) = delete;

  // The hook; runs on the pass's thread.
  std::function<void(const Variant&)> Hook() {
    return [this](const Variant&) {
      if (++rows_ != row_) return;
      std::unique_lock lock(mutex_);
      reached_ = true;
      // Wakes the application's thread should it wait for events.
      QMetaObject::invokeMethod(QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
      released_changed_.wait(lock, [this] { return released_; });
    };
  }

  // Delivers the application's events until the pass waits at its row, or
  // until running says the pass is over (it had fewer rows); true when held.
  bool WaitUntilHeld(const std::function<bool()>& running) {
    while (!Held() && running()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return Held();
  }

  bool Held() {
    std::lock_guard lock(mutex_);
    return reached_ && !released_;
  }

  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    released_changed_.notify_all();
  }

 private:
  const int row_;
  std::atomic<int> rows_{0};
  std::mutex mutex_;
  std::condition_variable released_changed_;
  bool reached_ = false;
  bool released_ = false;
};

}  // namespace tersify::gui
