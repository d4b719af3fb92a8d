#include "tool/console/progress_line.h"

#include <algorithm>
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

void TProgressLine::PassStarted(int64_t rows) {
  rows_total_ = rows;
  started_ = Clock::now();
  Draw(true);
}

void TProgressLine::RowHandled(int64_t plain_bytes, bool /*rewritten*/) {
  ++rows_done_;
  if (plain_bytes > 0) bytes_ += plain_bytes;
  Draw(rows_done_ == rows_total_);
}

namespace {

// m:ss below an hour, h:mm:ss from there on.
std::string ClockText(long seconds) {
  char text[32];
  if (seconds >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", seconds / 60, seconds % 60);
  return text;
}

}  // namespace

std::string TProgressLine::Format(int64_t rows_done, int64_t rows_total, int64_t bytes,
                                  double elapsed_seconds) {
  const double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
  const double rate = elapsed_seconds > 0 ? mb / elapsed_seconds : 0.0;
  char text[200];
  std::snprintf(text, sizeof text, "%lld of %lld %s", static_cast<long long>(rows_done),
                static_cast<long long>(rows_total), rows_total == 1 ? "row" : "rows");
  std::string line = text;
  // Whole percents, rounded down: 100 % only once every row is done.
  if (rows_total > 0) {
    const long long percent = static_cast<long long>(static_cast<double>(rows_done) * 100.0 / static_cast<double>(rows_total));
    line += " (" + std::to_string(std::min(percent, 100LL)) + " %)";
  }
  std::snprintf(text, sizeof text, ", %.1f MB/s, ", rate);
  line += text + ClockText(static_cast<long>(elapsed_seconds)) + " elapsed";
  // The rest at the rate so far, once a second has passed and a row is done.
  if (elapsed_seconds >= kSecondsBeforeEstimate && rows_done > 0 && rows_done < rows_total) {
    const double left = elapsed_seconds * static_cast<double>(rows_total - rows_done) / static_cast<double>(rows_done);
    line += ", " + ClockText(static_cast<long>(left + 0.5)) + " left";
  }
  return line;
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
