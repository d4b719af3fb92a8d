#include "tool/gui/job_progress.h"

#include <QMetaObject>
#include <cstdio>

#include "tool/gui/job_texts.h"

namespace tersify::gui {

TJobProgress::TJobProgress(QObject* receiver, std::function<void(TJobProgress&)> on_change)
    : receiver_(receiver), on_change_(std::move(on_change)), started_(Clock::now()) {}

void TJobProgress::RowCounted(TField* /*Field*/) {
  processed_.store(processed);
  skipped_.store(skipped);
  rows_counted_.store(true);
  Changed();
}

void TJobProgress::PassStarted(int64_t rows) {
  rows_total_.store(rows);
  Changed();
}

void TJobProgress::RowHandled(int64_t plain_bytes, bool /*rewritten*/) {
  rows_done_.fetch_add(1);
  if (plain_bytes > 0) bytes_.fetch_add(plain_bytes);
  Changed();
}

TJobSnapshot TJobProgress::Snapshot() const {
  TJobSnapshot snapshot;
  snapshot.processed = processed_.load();
  snapshot.skipped = skipped_.load();
  snapshot.rows_total = rows_total_.load();
  snapshot.rows_done = rows_done_.load();
  snapshot.bytes = bytes_.load();
  snapshot.elapsed_seconds = std::chrono::duration<double>(Clock::now() - started_).count();
  return snapshot;
}

void TJobProgress::Changed() {
  // One call on its way at a time: it reads the latest values when it runs.
  if (change_posted_.exchange(true)) return;
  QObject* receiver = receiver_.data();
  if (receiver == nullptr) return;
  QMetaObject::invokeMethod(
      receiver,
      [self = shared_from_this()] {
        self->change_posted_.store(false);
        if (self->on_change_) self->on_change_(*self);
      },
      Qt::QueuedConnection);
}

std::string TJobProgress::RateText(const TJobSnapshot& s, bool running) {
  const double mb = static_cast<double>(s.bytes) / (1024.0 * 1024.0);
  const double rate = s.elapsed_seconds > 0 ? mb / s.elapsed_seconds : 0.0;
  std::string text = std::to_string(s.rows_done) + " of " + std::to_string(s.rows_total) + " rows";
  if (running && s.rows_total > 0 && s.rows_total >= s.rows_done)
    text += ", " + std::to_string(s.rows_done * 100 / s.rows_total) + " %";
  char speed[48];
  std::snprintf(speed, sizeof speed, "\r\n%.1f MB/s", rate);
  text += speed;
  if (running && s.rows_done > 0 && s.rows_total >= s.rows_done) {
    const double seconds_per_row = s.elapsed_seconds / static_cast<double>(s.rows_done);
    text += ", " + DurationText(seconds_per_row * static_cast<double>(s.rows_total - s.rows_done)) + " left";
  }
  return text;
}

}  // namespace tersify::gui
