#pragma once
// A log sink for tests: takes every entry as an enabled diagnostic log would
// and keeps it, so that a suite can see what reached the log without a log
// database. Entries may come from any thread; WaitForCount waits for them.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "framework/rtl/exception.h"
#include "log/log_sink.h"

namespace tersify::testing {

struct LogEntry {
  bool is_error = false;
  TObject* sender = nullptr;
  std::string operation;
  std::string detail;         // trace: the caller's text; error: the report text
  bool has_exception = false;
  std::string exception_class;
  std::string message;
};

class RecordingLogSink : public TLogSink {
 public:
  void LogTrace(TObject* sender, const std::string& operation, const std::string& detail) override {
    Add({false, sender, operation, detail, false, {}, {}});
  }
  void LogException(const Exception* error, TObject* sender, const std::string& operation,
                    const std::string& report_text) override {
    Add({true, sender, operation, report_text, error != nullptr, error ? error->ClassName() : "",
         error ? error->Message() : ""});
  }

  std::vector<LogEntry> Entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
  }
  // True once at least count entries arrived; false after the timeout.
  bool WaitForCount(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return entries_.size() >= count; });
  }

 private:
  void Add(LogEntry entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(std::move(entry));
    changed_.notify_all();
  }

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<LogEntry> entries_;
};

}  // namespace tersify::testing
