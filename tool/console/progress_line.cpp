#include "tool/console/progress_line.h"

#include <cstdio>
#include <string>

namespace tersify {

TProgressLine::~TProgressLine() { PassEnded(); }

void TProgressLine::PassEnded() {
  if (drawn_ && !ended_) {
    Draw(true);
    out_ << '\n' << std::flush;
  }
  ended_ = true;
}

void TProgressLine::PassWarning(const std::string& line) {
  if (drawn_ && !ended_) out_ << "\r\x1b[K";
  out_ << line << '\n' << std::flush;
  if (drawn_ && !ended_) Draw(true);
}

void TProgressLine::PassStarted(int rows) {
  rows_total_ = rows;
  started_ = Clock::now();
  Draw(true);
}

void TProgressLine::RowHandled(int64_t plain_bytes, bool /*rewritten*/) {
  ++rows_done_;
  if (plain_bytes > 0) bytes_ += plain_bytes;
  Draw(rows_done_ == rows_total_);
}

std::string TProgressLine::Format(int64_t rows_done, int64_t rows_total, int64_t bytes,
                                  double elapsed_seconds) {
  const double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
  const double rate = elapsed_seconds > 0 ? mb / elapsed_seconds : 0.0;
  const long total_seconds = static_cast<long>(elapsed_seconds);
  char text[160];
  std::snprintf(text, sizeof text, "%lld of %lld rows, %.1f MB/s, %ld:%02ld elapsed",
                static_cast<long long>(rows_done), static_cast<long long>(rows_total), rate,
                total_seconds / 60, total_seconds % 60);
  return text;
}

void TProgressLine::Draw(bool force) {
  if (ended_) return;
  const auto now = Clock::now();
  if (!force && drawn_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
  last_draw_ = now;
  const double elapsed = std::chrono::duration<double>(now - started_).count();
  // Carriage return and clear-to-end-of-line redraw the line in place.
  out_ << '\r' << Format(rows_done_, rows_total_, bytes_, elapsed) << "\x1b[K" << std::flush;
  drawn_ = true;
}

}  // namespace tersify
