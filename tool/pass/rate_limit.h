#pragma once
// At most so many bytes of stored values read per second (/MAXRATE=): a token
// bucket the pass's reader draws on. Each page read spends its bytes; before
// the next page the reader waits until the bucket is out of debt again. The
// bucket starts empty and holds at most a second of credit, so that a pass
// that paused (writing, waiting for the log) reads at most a second's worth
// at once, and the rate over any few seconds stays near the limit.
//
// The clock and the sleep are injectable, so that the pacing is tested on a
// fake clock without waiting in real time.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

namespace tersify {

// 1 MB of /MAXRATE= is 1,048,576 bytes, as on the progress line.
inline constexpr double kBytesPerRateMB = 1048576.0;

class TRateLimit {
 public:
  using Clock = std::chrono::steady_clock;
  using Now = std::function<Clock::time_point()>;
  using Sleep = std::function<void(Clock::duration)>;
  // Whether a wait is to end at once (a cancel request, the time limit).
  using Stop = std::function<bool()>;

  // bytes_per_second > 0.
  explicit TRateLimit(double bytes_per_second, Stop stop = {}, Now now = Clock::now, Sleep sleep = {});

  // Bytes just read.
  void Spend(int64_t bytes);
  // Waits until reading may go on, in short slices so that stop() ends the
  // wait within one of them. False when stop() ended it.
  bool Wait();
  // From now on every wait ends at once (the reader is going away); safe
  // from another thread than the one that waits.
  void Release() { released_.store(true); }
  // Seconds Wait would wait now.
  double SecondsOwed();

  // The most bytes one page should hold: a quarter of a second at the rate
  // (at least one byte), so that a page is never a burst of many seconds.
  int64_t PageBytes() const;

  static constexpr double kMostCreditSeconds = 1.0;
  static constexpr double kPageSeconds = 0.25;
  static constexpr std::chrono::milliseconds kSlice{50};

 private:
  void Refill();

  double bytes_per_second_;
  Stop stop_;
  Now now_;
  Sleep sleep_;
  double credit_ = 0;  // bytes that may be read at once; negative: owed
  Clock::time_point last_;
  std::atomic<bool> released_{false};
};

}  // namespace tersify
