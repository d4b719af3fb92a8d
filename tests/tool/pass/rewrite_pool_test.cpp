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
