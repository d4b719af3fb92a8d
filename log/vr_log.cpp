#include "log/vr_log.h"

#include <mutex>

namespace tersify {
namespace {

// The unit's state. Entries come from the main thread and from the
// transaction-log saving threads, so every piece is read under the lock and
// used through a copy.
struct LogState {
  std::mutex mutex;
  std::string file_name;
  std::string app_name;
  std::string build_no;
  TLogLayerHooks hooks;
  std::shared_ptr<TLogSink> sink;
};

LogState& State() {
  static LogState* state = new LogState;  // lives to the end of the process: threads may still log
  return *state;
}

std::string Read(std::string LogState::*member) {
  LogState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.*member;
}

void Write(std::string LogState::*member, const std::string& value) {
  LogState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.*member = value;
}

}  // namespace

std::string LogFileName() { return Read(&LogState::file_name); }
void SetLogFileName(const std::string& value) { Write(&LogState::file_name, value); }
std::string LogAppName() { return Read(&LogState::app_name); }
void SetLogAppName(const std::string& value) { Write(&LogState::app_name, value); }
std::string LogBuildNo() { return Read(&LogState::build_no); }
void SetLogBuildNo(const std::string& value) { Write(&LogState::build_no, value); }

void SetLogLayerHooks(TLogLayerHooks hooks) {
  LogState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.hooks = std::move(hooks);
}

bool LogTraceEnabled() {
  std::function<bool()> trace_enabled;
  {
    LogState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    trace_enabled = s.hooks.TraceEnabled;
  }
  return trace_enabled && trace_enabled();
}

std::string LogDescribeSender(TObject* sender) {
  std::function<std::string(TObject*)> describe;
  {
    LogState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    describe = s.hooks.DescribeSender;
  }
  return describe && sender ? describe(sender) : std::string();
}

std::shared_ptr<TLogSink> SetLogSink(std::shared_ptr<TLogSink> sink) {
  LogState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::swap(s.sink, sink);
  return sink;
}

std::shared_ptr<TLogSink> GetLog() {
  LogState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.sink) return s.sink;
  if (s.file_name.empty()) return nullptr;
  // The log database writer (batched inserts into the Log table, flushed once
  // a second) is created here on first use once it is part of the program;
  // until then a set LogFileName records nothing.
  return nullptr;
}

void LogOperation(TObject* sender, const std::string& operation, const std::string& detail) {
  std::shared_ptr<TLogSink> log = GetLog();
  if (!log || !LogTraceEnabled()) return;
  log->LogTrace(sender, operation, detail);
}

void LogError(const Exception& e, TObject* sender, const std::string& operation,
              const std::string& report_text) {
  LogError(&e, sender, operation, report_text);
}

void LogError(const Exception* e, TObject* sender, const std::string& operation,
              const std::string& report_text) {
  std::shared_ptr<TLogSink> log = GetLog();
  if (!log) return;
  log->LogException(e, sender, operation, report_text);
}

}  // namespace tersify
