#include "log/log_writer.h"

#include <exception>

#include "common/vr_common.h"
#include "framework/rtl/application.h"
#include "framework/rtl/component.h"
#include "framework/rtl/platform.h"
#include "log/debug_output.h"
#include "log/log_values.h"
#include "log/vr_log.h"

namespace tersify {
namespace {

// The directory part of a file name, with its trailing '/'; a bare file name
// lies in the current directory.
std::string DirectoryOf(const std::string& file_name) {
  auto slash = file_name.rfind('/');
  return slash == std::string::npos ? std::string("./") : file_name.substr(0, slash + 1);
}

// The class name of the exception being handled; empty when it cannot be read.
std::string HandledExceptionClass(const std::exception_ptr& handled) {
  try {
    std::rethrow_exception(handled);
  } catch (const TObject& object) {
    return object.ClassName();
  } catch (...) {
    return {};
  }
}

}  // namespace

TvrLog::TvrLog(const std::string& file_name, TvrLogTimings timings)
    : timings_(timings), timer_(timings.FlushInterval, [this] { Flush(); }) {
  if (!file_name.empty() && TcShell::IsDirectoryWritable(DirectoryOf(file_name))) {
    std::lock_guard<std::mutex> lock(writer_mutex_);
    OpenLogDatabase(database_, file_name);
  }
}

TvrLog::~TvrLog() = default;

void TvrLog::QueueStatement(const std::string& statement) {
  std::lock_guard<std::mutex> lock(batch_mutex_);
  batch_.push_back(statement);
  timer_.SetEnabled(true);
}

void TvrLog::LogTrace(TObject* sender, const std::string& operation, const std::string& detail) {
  if (LogFileName().empty() || !LogTraceEnabled()) return;
  TLogRow row;
  row.TickCount = GetTickCount();
  auto* component = dynamic_cast<TComponent*>(sender);
  row.FormName = component && component->Owner() ? component->Owner()->Name() : "<nil>";
  row.ControlName = LogFocusedControlName();
  row.SenderName = sender ? sender->ClassName() : std::string();
  row.ObjectName = component ? component->Name() : std::string();
  row.AppName = LogAppName();
  row.BuildNo = LogBuildNo();
  row.Operation = operation;
  row.SenderProp = detail;
  if (WindbgSwitch()) OutputDebugString(TraceDebugText(row));
  QueueStatement(TraceInsertStatement(row));
}

void TvrLog::LogException(const Exception* error, TObject* sender, const std::string& operation,
                          const std::string& report_text) {
  if (LogFileName().empty()) return;
  std::string handled_class;
  if (error) {
    std::exception_ptr handled = std::current_exception();
    if (!handled) return;
    handled_class = HandledExceptionClass(handled);
    if (handled_class == "EAbort") return;
  }
  TLogRow row;
  row.TickCount = GetTickCount();
  row.AppName = LogAppName();
  row.BuildNo = LogBuildNo();
  row.Operation = operation;
  if (!sender) sender = Application;
  // Describing the sender must never cost the row: whatever fails here, the
  // row is written with what was gathered.
  try {
    row.FormName = LogActiveFormName();
    row.ControlName = LogFocusedControlName();
    row.SenderName = sender ? sender->ClassName() : "<Unknown class>";
    if (auto* component = dynamic_cast<TComponent*>(sender)) row.ObjectName = component->Name();
    if (error) {
      row.ExceptObject = handled_class.empty() ? error->ClassName() : handled_class;
      row.Error = error->Message();
    }
    try {
      if (SameText(row.SenderName, "TBrennHelper")) {
        row.SenderProp = operation;
        row.Operation = "ExecStep";
      } else {
        row.SenderProp = LogDescribeSender(sender);
      }
      if (!report_text.empty()) row.SenderProp += "\r\nBug Report --> " + report_text;
    } catch (...) {
    }
  } catch (...) {
  }
  if (WindbgSwitch()) OutputDebugString(ErrorDebugText(row));
  QueueStatement(ErrorInsertStatement(row));
}

int TvrLog::Flush() {
  std::lock_guard<std::mutex> writer(writer_mutex_);
  std::vector<std::string> taken;
  {
    std::lock_guard<std::mutex> lock(batch_mutex_);
    timer_.SetEnabled(false);
    if (batch_.empty()) return 0;
    taken.swap(batch_);
  }
  std::string text;
  for (const std::string& statement : taken) text += statement + "\r\n";
  std::string failure;
  int result = CommitBatch(database_, text, false, timings_.BusyTimeoutMs, &failure);
  if (result != 0) {
    std::lock_guard<std::mutex> lock(batch_mutex_);
    last_failure_ = failure;
    batch_.insert(batch_.begin(), std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end()));
    timer_.SetEnabled(true);
  }
  return result;
}

std::vector<std::string> TvrLog::Batch() const {
  std::lock_guard<std::mutex> lock(batch_mutex_);
  return batch_;
}

bool TvrLog::DatabaseOpen() const {
  std::lock_guard<std::mutex> lock(writer_mutex_);
  return database_.IsOpen();
}

std::string TvrLog::LastFlushFailure() const {
  std::lock_guard<std::mutex> lock(batch_mutex_);
  return last_failure_;
}

}  // namespace tersify
