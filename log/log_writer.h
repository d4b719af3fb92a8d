#pragma once
// TvrLog: the diagnostic log's writer. Every entry becomes one insert
// statement appended to an in-memory batch; the flush timer writes the whole
// batch in one transaction about a second after the first entry of the batch.
// A batch that cannot be written is put back, ahead of the entries made
// since, and offered again a second later.
//
// Entries may come from any thread. Only the flush writes to the database,
// one flush at a time, and a flush takes the whole batch, so rows reach the
// table in the order their entries were made.

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "framework/rtl/object.h"
#include "log/flush_timer.h"
#include "log/log_database.h"
#include "log/log_sink.h"

namespace tersify {

struct TvrLogTimings {
  std::chrono::milliseconds FlushInterval{1000};
  int BusyTimeoutMs = 4000;
};

class TvrLog : public TObject, public TLogSink {
 public:
  // Opens (creating when needed) the database at file_name when its directory
  // is writable; raises the engine's error when that fails. An unwritable
  // directory leaves the database closed: entries are kept, every flush fails.
  explicit TvrLog(const std::string& file_name, TvrLogTimings timings = {});
  // Entries still in the batch are dropped; there is no final flush.
  ~TvrLog() override;

  void LogTrace(TObject* sender, const std::string& operation, const std::string& detail) override;
  void LogException(const Exception* error, TObject* sender, const std::string& operation,
                    const std::string& report_text) override;

  // Appends one statement to the batch and enables the flush timer.
  void QueueStatement(const std::string& statement);

  // What the flush timer does, now: disables the timer and writes the batch.
  // Returns 0 when the batch was written (or empty); otherwise the failure's
  // code, with the statements back in the batch and the timer enabled.
  int Flush();

  // The statements waiting to be written, oldest first.
  std::vector<std::string> Batch() const;
  bool TimerEnabled() const { return timer_.Enabled(); }
  bool DatabaseOpen() const;
  // What the last failed flush reported ("  INSERT timed out!" for a busy
  // database, the engine's message otherwise); nothing shows it.
  std::string LastFlushFailure() const;

 private:
  const TvrLogTimings timings_;
  mutable std::mutex writer_mutex_;  // the database, and one flush at a time
  TLogDatabase database_;
  mutable std::mutex batch_mutex_;   // the batch and the last failure
  std::vector<std::string> batch_;
  std::string last_failure_;
  TLogFlushTimer timer_;             // last: its thread may call Flush at once
};

}  // namespace tersify
