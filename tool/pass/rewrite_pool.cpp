#include "tool/pass/rewrite_pool.h"

#include <algorithm>
#include <utility>

#include "tool/pass/options.h"

namespace tersify {

int TRewritePool::ThreadsFor(int asked) {
  if (asked > 0) return asked;
  const unsigned cores = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp<unsigned>(cores, 1, kMostPassThreads));
}

TRewritePool::TRewritePool(std::vector<TPassRow>& page, bool compress, TWriteGuard guard, int threads,
                           int64_t budget_bytes, int64_t lookahead_bytes)
    : TRewritePool(
          page, [compress, guard](TPassRow& row) { return RewriteRow(row, compress, guard); },
          [compress](const TPassRow& row) { return ExpectedRewriteBytes(row, compress); }, threads,
          budget_bytes, lookahead_bytes) {}

TRewritePool::TRewritePool(std::vector<TPassRow>& page, Job job, ExpectedBytes expected, int threads,
                           int64_t budget_bytes, int64_t lookahead_bytes)
    : page_(page),
      job_(std::move(job)),
      expected_(std::move(expected)),
      budget_bytes_(budget_bytes),
      lookahead_bytes_(lookahead_bytes > 0 ? std::min(lookahead_bytes, budget_bytes) : budget_bytes),
      results_(page.size()),
      ready_(page.size(), 0),
      held_(page.size(), 0) {
  if (threads <= 1) return;
  const size_t count = std::min<size_t>(static_cast<size_t>(threads), page.size());
  threads_ = count;
  workers_.reserve(count);
  try {
    for (size_t i = 0; i < count; ++i) workers_.emplace_back([this] { Work(); });
  } catch (...) {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    may_start_.notify_all();
    for (std::thread& t : workers_) t.join();
    throw;
  }
}

TRewritePool::~TRewritePool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  may_start_.notify_all();
  for (std::thread& t : workers_) t.join();
}

bool TRewritePool::NextMayStart() const {
  if (next_ >= page_.size()) return false;
  if (next_ == waited_for_) return true;
  const int64_t after = in_flight_ + expected_(page_[next_]);
  if (after > budget_bytes_) return false;
  return next_ < waited_for_ + threads_ || after <= lookahead_bytes_;
}

void TRewritePool::Work() {
  std::unique_lock lock(mutex_);
  while (true) {
    if (!stopping_ && !NextMayStart()) {
      ++idle_workers_;
      may_start_.wait(lock, [this] { return stopping_ || NextMayStart(); });
      --idle_workers_;
    }
    if (stopping_) return;
    const size_t index = next_++;
    const int64_t expected = expected_(page_[index]);
    in_flight_ += expected;
    lock.unlock();
    TRewrittenRow row = job_(page_[index]);
    const int64_t held =
        static_cast<int64_t>(row.new_stored.size() + row.guard.value.RawString().size());
    lock.lock();
    in_flight_ += held - expected;
    held_[index] = held;
    results_[index] = std::move(row);
    ready_[index] = 1;
    if (writer_waiting_ && index == waited_for_) row_ready_.notify_one();
    // The bytes held may have shrunk below what was expected: another row may fit.
    if (idle_workers_ > 0 && NextMayStart()) may_start_.notify_one();
  }
}

bool TRewritePool::WouldWait(size_t index) {
  if (workers_.empty()) return false;
  std::lock_guard lock(mutex_);
  return ready_[index] == 0;
}

TRewrittenRow TRewritePool::Take(size_t index) {
  if (workers_.empty()) return job_(page_[index]);
  std::unique_lock lock(mutex_);
  // Asking for this row means the one before it has been written.
  if (index > 0) {
    in_flight_ -= held_[index - 1];
    held_[index - 1] = 0;
  }
  waited_for_ = index;
  // Budget was freed, and the row waited for may start whatever the budget says.
  if (idle_workers_ > 0 && NextMayStart()) may_start_.notify_all();
  if (ready_[index] == 0) {
    writer_waiting_ = true;
    row_ready_.wait(lock, [&] { return ready_[index] != 0; });
    writer_waiting_ = false;
  }
  return std::move(results_[index]);
}

}  // namespace tersify
