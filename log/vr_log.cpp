#include "log/vr_log.h"

#include <cstdlib>
#include <mutex>

#include "log/log_writer.h"

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
  TLogScreenHooks screen;
  std::shared_ptr<TLogSink> sink;
  std::shared_ptr<TvrLog> log;
  // Held while the log is created or freed, so that only one is made.
  std::mutex creation;
  bool shutdown_registered = false;
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

void SetLogScreenHooks(TLogScreenHooks hooks) {
  LogState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.screen = std::move(hooks);
}

namespace {

std::string CallScreenHook(std::function<std::string()> TLogScreenHooks::*member) {
  std::function<std::string()> hook;
  {
    LogState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    hook = s.screen.*member;
  }
  return hook ? hook() : std::string();
}

}  // namespace

std::string LogActiveFormName() { return CallScreenHook(&TLogScreenHooks::ActiveFormName); }
std::string LogFocusedControlName() { return CallScreenHook(&TLogScreenHooks::FocusedControlName); }

std::shared_ptr<TLogSink> SetLogSink(std::shared_ptr<TLogSink> sink) {
  LogState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::swap(s.sink, sink);
  return sink;
}

std::shared_ptr<TLogSink> GetLog() {
  LogState& s = State();
  std::string file_name;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.sink) return s.sink;
    if (s.file_name.empty()) return nullptr;
    if (s.log) return s.log;
  }
  // First use: create the log outside the settings lock (it opens the
  // database), one creator at a time.
  std::lock_guard<std::mutex> creating(s.creation);
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.sink) return s.sink;
    if (s.file_name.empty()) return nullptr;
    if (s.log) return s.log;
    file_name = s.file_name;
  }
  auto log = std::make_shared<TvrLog>(file_name);  // an engine error leaves no log behind
  bool register_shutdown = false;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.log = log;
    register_shutdown = !s.shutdown_registered;
    s.shutdown_registered = true;
  }
  if (register_shutdown) std::atexit(ShutdownLogUnit);
  return log;
}

void ShutdownLogUnit() {
  LogState& s = State();
  std::shared_ptr<TvrLog> log;
  std::lock_guard<std::mutex> creating(s.creation);
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    log.swap(s.log);
    s.file_name.clear();
    s.app_name.clear();
    s.build_no.clear();
  }
  // Freed here unless an entry in progress still holds it; then that entry
  // frees it when it is done.
  log.reset();
}

void LogOperation(TObject* sender, const std::string& operation, const std::string& detail) {
  // The switch first: with tracing off no log is created for a trace.
  if (!LogTraceEnabled()) return;
  std::shared_ptr<TLogSink> log = GetLog();
  if (!log) return;
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
