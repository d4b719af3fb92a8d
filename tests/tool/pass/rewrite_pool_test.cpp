// The worker pool of the pass: every row comes back to the writer in order,
// with its own result, whatever the thread count and however long each row
// takes; rows started ahead of the writer stay within the byte budget, except
// the row the writer waits for; a pool let go of early stops its workers.

#include "tool/pass/rewrite_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tersify::testing {
namespace {

std::vector<TPassRow> Rows(size_t count, size_t bytes) {
  std::vector<TPassRow> page(count);
  for (size_t i = 0; i < count; ++i) {
    page[i].key = Variant(static_cast<int64_t>(i));
    page[i].stored = std::string(bytes, static_cast<char>('a' + i % 26));
  }
  return page;
}

// Rows take uneven times, so that workers finish out of order.
void Pause(size_t index) {
  if (index % 7 == 0) std::this_thread::sleep_for(std::chrono::microseconds(300));
  if (index % 3 == 0) std::this_thread::yield();
}

class RewritePoolTest : public ::testing::TestWithParam<int> {};

TEST_P(RewritePoolTest, EveryRowComesBackInOrderWithItsOwnResult) {
  std::vector<TPassRow> page = Rows(400, 64);
  std::atomic<int> jobs{0};
  TRewritePool pool(
      page,
      [&](TPassRow& row) {
        ++jobs;
        const size_t index = static_cast<size_t>(row.key.AsInt64());
        Pause(index);
        TRewrittenRow out;
        out.rewrite = true;
        out.new_stored = std::to_string(index) + ":" + row.stored;
        return out;
      },
      [](const TPassRow& row) { return static_cast<int64_t>(row.stored.size()); }, GetParam(), 64 * 10);
  for (size_t i = 0; i < page.size(); ++i) {
    const TRewrittenRow row = pool.Take(i);
    ASSERT_TRUE(row.rewrite) << i;
    ASSERT_EQ(row.new_stored, std::to_string(i) + ":" + std::string(64, static_cast<char>('a' + i % 26))) << i;
  }
  EXPECT_EQ(jobs.load(), 400);
}

TEST_P(RewritePoolTest, RowsStartedAheadStayWithinTheBudget) {
  constexpr int64_t kRowBytes = 1000;
  constexpr int64_t kBudget = 3 * kRowBytes;
  std::vector<TPassRow> page = Rows(120, kRowBytes);
  std::mutex mutex;
  size_t taken = 0;           // rows the writer has asked for
  int64_t most_ahead = 0;     // rows started and not yet taken, beyond the one waited for
  TRewritePool pool(
      page,
      [&](TPassRow& row) {
        const size_t index = static_cast<size_t>(row.key.AsInt64());
        {
          std::lock_guard lock(mutex);
          // Rows before `taken - 1` have been written and let go of.
          const int64_t ahead = static_cast<int64_t>(index) - static_cast<int64_t>(taken);
          most_ahead = std::max(most_ahead, ahead);
        }
        Pause(index);
        TRewrittenRow out;
        out.rewrite = true;
        out.new_stored = row.stored;  // holds its expected bytes until taken
        return out;
      },
      [](const TPassRow& row) { return static_cast<int64_t>(row.stored.size()); }, GetParam(), kBudget);
  for (size_t i = 0; i < page.size(); ++i) {
    {
      std::lock_guard lock(mutex);
      taken = i;
    }
    ASSERT_EQ(pool.Take(i).new_stored.size(), static_cast<size_t>(kRowBytes));
    if (i % 10 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));  // a slow write now and then
  }
  // The row being taken is held until the next is asked for, so the budget
  // leaves room for two rows ahead of it, never more.
  EXPECT_LE(most_ahead, kBudget / kRowBytes - 1);
}

// The rows started and not yet taken, beyond the one the writer waits for,
// at most, over a page whose writer is slow against its rewrites.
struct AheadOfASlowWriter {
  int64_t most_ahead = 0;
  int most_running = 0;  // rows being rewritten at once
};

AheadOfASlowWriter RunAheadOfASlowWriter(int threads, int64_t row_bytes, int64_t budget, int64_t lookahead,
                                         std::chrono::microseconds rewrite) {
  std::vector<TPassRow> page = Rows(60, static_cast<size_t>(row_bytes));
  std::mutex mutex;
  size_t taken = 0;
  int running = 0;
  AheadOfASlowWriter seen;
  TRewritePool pool(
      page,
      [&](TPassRow& row) {
        const size_t index = static_cast<size_t>(row.key.AsInt64());
        {
          std::lock_guard lock(mutex);
          seen.most_ahead = std::max(seen.most_ahead, static_cast<int64_t>(index) - static_cast<int64_t>(taken));
          seen.most_running = std::max(seen.most_running, ++running);
        }
        std::this_thread::sleep_for(rewrite);
        {
          std::lock_guard lock(mutex);
          --running;
        }
        TRewrittenRow out;
        out.rewrite = true;
        out.new_stored = row.stored;
        return out;
      },
      [](const TPassRow& row) { return static_cast<int64_t>(row.stored.size()); }, threads, budget, lookahead);
  for (size_t i = 0; i < page.size(); ++i) {
    {
      std::lock_guard lock(mutex);
      taken = i;
    }
    EXPECT_EQ(pool.Take(i).new_stored.size(), static_cast<size_t>(row_bytes));
    std::this_thread::sleep_for(std::chrono::microseconds(300));  // the write
  }
  return seen;
}

TEST_P(RewritePoolTest, RowsFarAheadOfTheWriterStayWithinTheLookAhead) {
  // The budget would let 50 rows pile up ahead of a slow writer; the look-ahead lets 4.
  const AheadOfASlowWriter seen = RunAheadOfASlowWriter(GetParam(), 1000, 50 * 1000, 4 * 1000,
                                                        std::chrono::microseconds(0));
  EXPECT_LE(seen.most_ahead, std::max<int64_t>(GetParam(), 4));
}

TEST_P(RewritePoolTest, RowsLargerThanTheLookAheadStillRunOnEveryThread) {
  // Each row is larger than the look-ahead: still, as many rows as threads are rewritten at once.
  const AheadOfASlowWriter seen = RunAheadOfASlowWriter(GetParam(), 1000, 50 * 1000, 500,
                                                        std::chrono::milliseconds(3));
  EXPECT_EQ(seen.most_running, GetParam());
}

TEST_P(RewritePoolTest, ARowLargerThanTheBudgetIsStillRewritten) {
  std::vector<TPassRow> page = Rows(5, 100);
  page[2].stored = std::string(10000, 'x');
  TRewritePool pool(
      page,
      [](TPassRow& row) {
        TRewrittenRow out;
        out.rewrite = true;
        out.new_stored = row.stored;
        return out;
      },
      [](const TPassRow& row) { return static_cast<int64_t>(row.stored.size()); }, GetParam(), 500);
  for (size_t i = 0; i < page.size(); ++i) EXPECT_EQ(pool.Take(i).new_stored, page[i].stored) << i;
}

// The writer asks whether taking the next row would wait (then it sends the
// rows it queued first): true while a worker is still at the row, false once
// it is done, and never with one thread, where taking a row rewrites it.
TEST_P(RewritePoolTest, TakingARowWouldWaitOnlyWhileAWorkerIsStillAtIt) {
  std::vector<TPassRow> page = Rows(3, 10);
  std::atomic<bool> started{false}, release{false};
  TRewritePool pool(
      page,
      [&](TPassRow& row) {
        if (row.key.AsInt64() == 1) {
          started = true;
          while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        TRewrittenRow out;
        out.new_stored = row.stored;
        return out;
      },
      [](const TPassRow& row) { return static_cast<int64_t>(row.stored.size()); }, GetParam(), 1000);
  if (GetParam() == 1) {
    release = true;
    for (size_t i = 0; i < page.size(); ++i) {
      EXPECT_FALSE(pool.WouldWait(i)) << i;
      EXPECT_EQ(pool.Take(i).new_stored, page[i].stored);
    }
    return;
  }
  EXPECT_EQ(pool.Take(0).new_stored, page[0].stored);
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!started && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(started);
  EXPECT_TRUE(pool.WouldWait(1)) << "a worker is still at the row";
  release = true;
  while (pool.WouldWait(1) && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(pool.WouldWait(1)) << "the row was done";
  EXPECT_EQ(pool.Take(1).new_stored, page[1].stored);
  EXPECT_EQ(pool.Take(2).new_stored, page[2].stored);
}

TEST_P(RewritePoolTest, APoolLetGoOfEarlyStopsItsWorkers) {
  std::vector<TPassRow> page = Rows(300, 100);
  std::atomic<int> jobs{0};
  {
    TRewritePool pool(
        page,
        [&](TPassRow& row) {
          ++jobs;
          std::this_thread::sleep_for(std::chrono::microseconds(100));
          TRewrittenRow out;
          out.new_stored = row.stored;
          return out;
        },
        [](const TPassRow& row) { return static_cast<int64_t>(row.stored.size()); }, GetParam(), 1000);
    EXPECT_EQ(pool.Take(0).new_stored, page[0].stored);
  }
  // Only rows the budget let start ran: the workers did not go on through the page.
  EXPECT_LT(jobs.load(), 300);
}

INSTANTIATE_TEST_SUITE_P(Threads, RewritePoolTest, ::testing::Values(1, 2, 4, 8),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::to_string(info.param) + "Threads";
                         });

}  // namespace
}  // namespace tersify::testing
