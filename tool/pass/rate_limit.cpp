#include "tool/pass/rate_limit.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace tersify {

TRateLimit::TRateLimit(double bytes_per_second, Stop stop, Now now, Sleep sleep)
    : bytes_per_second_(bytes_per_second > 0 ? bytes_per_second : 1),
      stop_(std::move(stop)),
      now_(std::move(now)),
      sleep_(sleep ? std::move(sleep) : Sleep([](Clock::duration d) { std::this_thread::sleep_for(d); })),
      last_(now_()) {}

void TRateLimit::Refill() {
  const Clock::time_point now = now_();
  const double seconds = std::chrono::duration<double>(now - last_).count();
  last_ = now;
  if (seconds > 0)
    credit_ = std::min(credit_ + seconds * bytes_per_second_, bytes_per_second_ * kMostCreditSeconds);
}

void TRateLimit::Spend(int64_t bytes) {
  Refill();
  credit_ -= static_cast<double>(bytes);
}

double TRateLimit::SecondsOwed() {
  Refill();
  return credit_ >= 0 ? 0 : -credit_ / bytes_per_second_;
}

bool TRateLimit::Wait() {
  for (double owed = SecondsOwed(); owed > 0; owed = SecondsOwed()) {
    if (released_.load() || (stop_ && stop_())) return false;
    const auto left = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(owed));
    // At least a millisecond: a wait of less would never let the clock move on.
    sleep_(std::clamp<Clock::duration>(left, std::chrono::milliseconds(1), kSlice));
  }
  return true;
}

int64_t TRateLimit::PageBytes() const {
  return std::max<int64_t>(std::llround(bytes_per_second_ * kPageSeconds), 1);
}

}  // namespace tersify
