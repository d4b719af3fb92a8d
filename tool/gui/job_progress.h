#pragma once
// What a job on the background thread tells the window about its progress:
// the pass's two counters (from its per-row event), the rows of the table, the
// rows handled and their plain bytes (from the observer). The job's thread
// writes, the window's thread reads a snapshot; the window hears of a change
// through one queued call at a time, however fast rows go by, so a fast pass
// never floods the window with events.

#include <QObject>
#include <QPointer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tool/recompress.h"

namespace tersify::gui {

struct TJobSnapshot {
  int32_t processed = 0;
  int32_t skipped = 0;
  int64_t rows_total = 0;
  int64_t rows_done = 0;
  int64_t bytes = 0;
  double elapsed_seconds = 0;
};

class TJobProgress : public TRecompressObserver,
                     public std::enable_shared_from_this<TJobProgress> {
 public:
  using Clock = std::chrono::steady_clock;

  // on_change runs on receiver's thread, after one or more changes, with this record.
  TJobProgress(QObject* receiver, std::function<void(TJobProgress&)> on_change);

  // The pass's counters; RecompressTable moves them on the job's thread.
  int32_t processed = 0;
  int32_t skipped = 0;

  // The per-row event of the pass: publishes the two counters.
  void RowCounted(TField* Field);
  TRecompressProgressEvent ProgressEvent() {
    return TRecompressProgressEvent::Bind<&TJobProgress::RowCounted>(this);
  }

  void PassStarted(int64_t rows) override;
  void RowHandled(int64_t plain_bytes, bool rewritten) override;

  TJobSnapshot Snapshot() const;
  // True once the per-row event has run.
  bool RowsCounted() const { return rows_counted_.load(); }

  // "<done> of <total> rows, <share> %\r\n<rate> MB/s, about <time> left"
  // (1 MB = 1,048,576 bytes). The time left follows the rows' rate so far; it
  // is left out until a row is done, and once the job has ended (running
  // false), when the share is left out too.
  static std::string RateText(const TJobSnapshot& snapshot, bool running);

 private:
  void Changed();

  QPointer<QObject> receiver_;
  std::function<void(TJobProgress&)> on_change_;
  Clock::time_point started_;
  std::atomic<int32_t> processed_{0};
  std::atomic<int32_t> skipped_{0};
  std::atomic<int64_t> rows_total_{0};
  std::atomic<int64_t> rows_done_{0};
  std::atomic<int64_t> bytes_{0};
  std::atomic<bool> rows_counted_{false};
  std::atomic<bool> change_posted_{false};
};

}  // namespace tersify::gui
