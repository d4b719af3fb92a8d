#pragma once
// What the diagnostic log's entry points hand their entries to: the log
// database writer, or a sink a test installs in its place.

#include <string>

namespace tersify {

class Exception;
class TObject;

class TLogSink {
 public:
  virtual ~TLogSink() = default;
  // A trace row: the traced component, the operation ("BeforeExecute", ...) and
  // the caller's text. Reached only while the layer's trace switch is on.
  virtual void LogTrace(TObject* sender, const std::string& operation, const std::string& detail) = 0;
  // An error row: the exception being handled (or none), the sender (or none:
  // the application object), the operation and a report text. Called from any
  // thread (the transaction-log saving threads report here).
  virtual void LogException(const Exception* error, TObject* sender, const std::string& operation,
                            const std::string& report_text) = 0;
};

}  // namespace tersify
