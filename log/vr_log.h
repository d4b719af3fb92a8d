#pragma once
// The diagnostic log's process-wide settings and entry points. The log is off
// while LogFileName is empty (its value at start; nothing in the program sets
// it): the entry points then return at once. Trace entries need the database
// layer's trace switch as well, which the layer hands over at start-up
// together with a way to describe its components as senders; the log never
// includes the layer.

#include <functional>
#include <memory>
#include <string>

#include "framework/rtl/exception.h"
#include "framework/rtl/object.h"
#include "log/log_sink.h"

namespace tersify {

// ---- settings (empty at start; safe to read and write from any thread)
// Full path of the log database; empty means the log is off.
std::string LogFileName();
void SetLogFileName(const std::string& value);
// Written to column AppName.
std::string LogAppName();
void SetLogAppName(const std::string& value);
// Written to column BuildNo.
std::string LogBuildNo();
void SetLogBuildNo(const std::string& value);

// ---- what the database layer tells the log about itself
struct TLogLayerHooks {
  // The layer's trace switch (SQLTraceEnabled); trace rows need it on.
  std::function<bool()> TraceEnabled;
  // The details of an error row's sender when it is one of the layer's
  // components ("SQL --> " and its text for a script, ...); empty otherwise.
  std::function<std::string(TObject* sender)> DescribeSender;
};
// Installed by the layer's start-up, cleared (empty hooks) at its shutdown.
void SetLogLayerHooks(TLogLayerHooks hooks);
// The trace switch as the layer reports it; false while no layer is started.
bool LogTraceEnabled();
// The layer's description of sender; empty without a layer or for other objects.
std::string LogDescribeSender(TObject* sender);

// ---- what the user interface tells the log about itself
struct TLogScreenHooks {
  // The name of the active form (error rows' FormName).
  std::function<std::string()> ActiveFormName;
  // The name of the control that has the focus (column ControlName).
  std::function<std::string()> FocusedControlName;
};
// Installed by a user interface that has forms; empty hooks (the default) leave
// both columns empty. The hooks may be called from any thread.
void SetLogScreenHooks(TLogScreenHooks hooks);
std::string LogActiveFormName();
std::string LogFocusedControlName();

// ---- entry points
// A trace entry: the component being traced, the operation and a free text.
// Nothing unless the log is on and the layer's trace switch is on.
void LogOperation(TObject* sender, const std::string& operation, const std::string& detail);
// An error entry: the exception being handled, the sender (none stands for the
// application object), the operation and a report text. Nothing unless the
// log is on. Callable from any thread.
void LogError(const Exception& e, TObject* sender, const std::string& operation,
              const std::string& report_text);
// The same without an exception.
void LogError(const Exception* e, TObject* sender, const std::string& operation,
              const std::string& report_text);

// The log the entry points write to: the installed sink when there is one,
// otherwise nothing while LogFileName is empty, otherwise the process's log
// database writer (a TvrLog, log/log_writer.h), created on first use. When
// creating it fails (the database cannot be created or opened) the engine's
// error is raised to the caller and the next call tries again.
std::shared_ptr<TLogSink> GetLog();

// Unit shutdown: frees the log without writing what is still in its batch
// (those rows are lost), closing its database, then clears LogFileName,
// LogAppName and LogBuildNo, so that later entries do nothing. Runs at the end
// of the process once a log was created; may be called earlier, and again.
void ShutdownLogUnit();

// Installs a sink that takes every entry as an enabled log would, whatever
// LogFileName holds (tests, or an application that keeps its log elsewhere);
// nullptr removes it. Returns the sink installed before.
std::shared_ptr<TLogSink> SetLogSink(std::shared_ptr<TLogSink> sink);

// Installs a sink for the lifetime of the guard, then puts the previous one back.
class TScopedLogSink {
 public:
  explicit TScopedLogSink(std::shared_ptr<TLogSink> sink) : previous_(SetLogSink(std::move(sink))) {}
  ~TScopedLogSink() { SetLogSink(std::move(previous_)); }
  TScopedLogSink(const TScopedLogSink&) = delete;
  TScopedLogSink& operator=(const TScopedLogSink&) = delete;

 private:
  std::shared_ptr<TLogSink> previous_;
};

}  // namespace tersify
