// The pass's two waits on a fake clock: the rate limit's token bucket
// (/MAXRATE=) and the transaction log's watch (/LOGLIMIT=). Nothing here
// sleeps in real time: the fake clock moves only when a wait sleeps, or when
// the test says that work took time.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tool/pass/log_space.h"
#include "tool/pass/rate_limit.h"

namespace tersify::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A clock that stands still until a sleep or the test moves it.
struct FakeClock {
  Clock::time_point now = Clock::time_point() + 1000h;
  Clock::duration slept{};
  int sleeps = 0;
  TRateLimit::Now Now() {
    return [this] { return now; };
  }
  TRateLimit::Sleep Sleep() {
    return [this](Clock::duration d) {
      now += d;
      slept += d;
      ++sleeps;
    };
  }
  double Seconds(Clock::time_point since) const { return std::chrono::duration<double>(now - since).count(); }
};

constexpr double kMB = kBytesPerRateMB;

// ---- The rate limit ---------------------------------------------------------

struct RateCase {
  const char* title;
  double mb_per_second;
  int64_t page_bytes;          // what a page would hold without the limit
  Clock::duration work_per_page;  // reading and writing a page takes this long besides the wait
};

class RateLimit : public ::testing::TestWithParam<RateCase> {};

// A reader that reads as fast as it may, for some seconds of the fake clock:
// its rate over the whole run stays within 20 % of the limit (here within
// 5 %, whatever the page or the work per page), and so does every stretch of
// two seconds after the first.
TEST_P(RateLimit, KeepsTheReadingNearTheLimitOverEveryFewSeconds) {
  const RateCase& c = GetParam();
  FakeClock clock;
  TRateLimit limit(c.mb_per_second * kMB, {}, clock.Now(), clock.Sleep());
  const int64_t page = std::min(c.page_bytes, limit.PageBytes());
  const Clock::time_point start = clock.now;
  std::vector<std::pair<double, int64_t>> reads;  // (seconds since start, bytes read up to then)
  int64_t bytes = 0;
  while (clock.Seconds(start) < 8) {
    ASSERT_TRUE(limit.Wait());
    bytes += page;
    clock.now += c.work_per_page;
    limit.Spend(page);
    reads.emplace_back(clock.Seconds(start), bytes);
  }
  const double rate = static_cast<double>(bytes) / clock.Seconds(start) / kMB;
  EXPECT_NEAR(rate, c.mb_per_second, c.mb_per_second * 0.05);
  for (size_t i = 0; i < reads.size(); ++i) {
    for (size_t j = i + 1; j < reads.size(); ++j) {
      const double seconds = reads[j].first - reads[i].first;
      if (seconds < 2 || seconds > 2.5) continue;
      const double stretch = static_cast<double>(reads[j].second - reads[i].second) / seconds / kMB;
      ASSERT_LE(stretch, c.mb_per_second * 1.2) << "from " << reads[i].first << " s to " << reads[j].first << " s";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RateLimit,
    ::testing::Values(RateCase{"OneMBInSmallPages", 1, 64 << 10, 0ms},
                      RateCase{"HalfAnMBInLargePages", 0.5, int64_t{16} << 20, 0ms},
                      RateCase{"TwentyMBWithSlowWork", 20, int64_t{4} << 20, 30ms},
                      RateCase{"AFractionOfAnMB", 0.25, 1000, 1ms}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(RateLimitPage, HoldsAQuarterOfASecondAtTheRate) {
  EXPECT_EQ(TRateLimit(4 * kMB).PageBytes(), static_cast<int64_t>(kMB));
  EXPECT_EQ(TRateLimit(1).PageBytes(), 1);
}

TEST(RateLimitCredit, StartsEmptyAndBuildsUpForOneSecondAtMost) {
  FakeClock clock;
  TRateLimit limit(kMB, {}, clock.Now(), clock.Sleep());
  // A first page costs no wait; the second waits for what the first spent.
  EXPECT_DOUBLE_EQ(limit.SecondsOwed(), 0);
  limit.Spend(static_cast<int64_t>(kMB / 2));
  EXPECT_NEAR(limit.SecondsOwed(), 0.5, 1e-9);
  // After a long pause (the pass was writing, or waiting for the log) one
  // second's credit is there, not ten.
  clock.now += 10s;
  limit.Spend(static_cast<int64_t>(kMB));
  EXPECT_NEAR(limit.SecondsOwed(), 0.0, 1e-9);
  limit.Spend(static_cast<int64_t>(kMB));
  EXPECT_NEAR(limit.SecondsOwed(), 1.0, 1e-9);
  ASSERT_TRUE(limit.Wait());
  EXPECT_NEAR(std::chrono::duration<double>(clock.slept).count(), 1.0, 0.002);
}

TEST(RateLimitStop, EndsTheWaitWithinOneSlice) {
  FakeClock clock;
  bool stop = false;
  TRateLimit limit(kMB, [&] { return stop; }, clock.Now(), [&](Clock::duration d) {
    clock.now += d;
    // A cancel request comes in a second into a wait of a minute.
    if (clock.slept += d; clock.slept >= 1s) stop = true;
  });
  limit.Spend(static_cast<int64_t>(60 * kMB));
  EXPECT_FALSE(limit.Wait());
  EXPECT_LE(clock.slept, 1s + TRateLimit::kSlice);
}

// A reader going away (the pass failed) ends a wait of its read-ahead at once.
TEST(RateLimitStop, AReleasedLimitWaitsNoMore) {
  FakeClock clock;
  TRateLimit limit(kMB, {}, clock.Now(), clock.Sleep());
  limit.Spend(static_cast<int64_t>(100 * kMB));
  limit.Release();
  EXPECT_FALSE(limit.Wait());
  EXPECT_EQ(clock.sleeps, 0);
}

// ---- The transaction log's watch ---------------------------------------------

// A log whose use follows a script, one reading after another (the last one
// stays), and the lines the watch said.
struct ScriptedLog {
  explicit ScriptedLog(std::vector<double> script) : percents(std::move(script)) {}
  std::vector<double> percents;
  size_t reads = 0;
  std::vector<std::string> lines;
  TLogSpaceWatch::Read Read() {
    return [this] {
      const double percent = percents[std::min(reads, percents.size() - 1)];
      ++reads;
      return TLogSpace{percent, int64_t{2} << 30};
    };
  }
  TLogSpaceWatch::Note Note() {
    return [this](const std::string& line) { lines.push_back(line); };
  }
};

TEST(LogSpaceWatch, GoesOnAtOnceWhileTheLogIsWithinTheLimit) {
  FakeClock clock;
  ScriptedLog log({80});
  TLogSpaceWatch watch(80, log.Read(), log.Note(), {}, clock.Now(), clock.Sleep());
  EXPECT_TRUE(watch.WaitForRoom());
  EXPECT_EQ(log.reads, 1u);
  EXPECT_TRUE(log.lines.empty());
  EXPECT_EQ(clock.sleeps, 0);
}

TEST(LogSpaceWatch, WaitsWhileTheLogIsFullerSayingSoOnceAndReadsItEverySecond) {
  FakeClock clock;
  ScriptedLog log({93, 95, 91, 85, 40});
  TLogSpaceWatch watch(80, log.Read(), log.Note(), {}, clock.Now(), clock.Sleep());
  const Clock::time_point start = clock.now;
  EXPECT_TRUE(watch.WaitForRoom());
  EXPECT_EQ(log.reads, 5u);
  EXPECT_NEAR(clock.Seconds(start), 4.0, 0.06);
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0], "Waiting for the transaction log: 93 % used, limit 80 %, log 2.00 GB");
  EXPECT_EQ(log.lines[1], "The transaction log is 40 % used again, limit 80 %: the pass goes on");
}

TEST(LogSpaceWatch, ACancelOrTheTimeLimitEndsTheWaitWithinOneSlice) {
  FakeClock clock;
  ScriptedLog log({99});
  bool stop = false;
  TLogSpaceWatch watch(50, log.Read(), log.Note(), [&] { return stop; }, clock.Now(), [&](Clock::duration d) {
    clock.now += d;
    if (clock.slept += d; clock.slept >= 2500ms) stop = true;
  });
  EXPECT_FALSE(watch.WaitForRoom());
  EXPECT_LE(clock.slept, 2500ms + TLogSpaceWatch::kSlice);
  EXPECT_EQ(log.lines.size(), 1u);
}

TEST(LogSpaceWatch, InTheDefaultModeReadsTheLogEveryFewSecondsOnly) {
  FakeClock clock;
  ScriptedLog log({10});
  TLogSpaceWatch watch(80, log.Read(), log.Note(), {}, clock.Now(), clock.Sleep());
  // A row every 100 ms for ten seconds.
  for (int row = 0; row < 100; ++row) {
    ASSERT_TRUE(watch.WaitForRoomIfDue());
    clock.now += 100ms;
  }
  // At 0, 3, 6 and 9 seconds.
  EXPECT_EQ(log.reads, 4u);
  // Before a batch it is read every time.
  EXPECT_TRUE(watch.WaitForRoom());
  EXPECT_EQ(log.reads, 5u);
}

}  // namespace
}  // namespace tersify::testing
