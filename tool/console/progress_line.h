#pragma once
// The live progress line of a console pass: rows done of total and their
// percentage, MB/s, the elapsed time and, once it can be estimated, the time
// left, redrawn in place on a terminal at most ten times a second.
// Standard output keeps exactly the summary line; this writes to its own stream
// (standard error), and only when that stream is a terminal.

#include <chrono>
#include <cstdint>
#include <ostream>

#include "framework/rtl/console.h"  // IsTerminal
#include "tool/recompress.h"

namespace tersify {

class TProgressLine : public TRecompressObserver {
 public:
  using Clock = std::chrono::steady_clock;

  explicit TProgressLine(std::ostream& out) : out_(out), started_(Clock::now()) {}
  ~TProgressLine() override;

  void PassStarted(int64_t rows) override;
  void RowHandled(int64_t plain_bytes, bool rewritten) override;
  // Draws the line a last time and ends it; nothing more is drawn afterwards.
  void PassEnded() override;
  // Clears the line, writes the warning on a line of its own and draws the
  // line again below it.
  void PassWarning(const std::string& line) override;

  // Seconds of a pass before the time left is estimated from its rate.
  static constexpr double kSecondsBeforeEstimate = 1.0;

  // The text of the line for the given state, without control characters:
  // "12 of 300 rows (4 %), 5.0 MB/s, 0:02 elapsed, 0:48 left".
  static std::string Format(int64_t rows_done, int64_t rows_total, int64_t bytes,
                            double elapsed_seconds);

 private:
  void Draw(bool force);

  std::ostream& out_;
  Clock::time_point started_;
  Clock::time_point last_draw_{};
  int64_t rows_total_ = 0;
  int64_t rows_done_ = 0;
  int64_t bytes_ = 0;
  bool drawn_ = false;
  bool ended_ = false;
};

}  // namespace tersify
