// The program killed with SIGKILL at several moments of a pass: every row is
// left either its old value or a valid envelope of it, and a second pass
// completes the job.

#include <signal.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "tests/tool/pass_child_fixture.h"

namespace tersify::testing {
namespace {

constexpr int kRows = 60;
constexpr size_t kRowSize = size_t{1} << 20;
constexpr int64_t kEnvelopeBelow = kRowSize / 3;

// provider, rows rewritten before the kill (0: while connecting and opening)
using KillCase = std::tuple<std::string, int>;

class KilledPass : public ::testing::TestWithParam<KillCase> {
 protected:
  void SetUp() override {
    PreferMemoryBackedTemp();
    db_ = std::make_unique<PassChildDatabase>(std::get<0>(GetParam()));
  }
  std::unique_ptr<PassChildDatabase> db_;
};

TEST_P(KilledPass, LeavesEveryRowOldOrNewAndASecondPassCompletes) {
  const int rows_before_kill = std::get<1>(GetParam());
  const std::map<std::string, std::string> values = db_->Fill(kRows, kRowSize);
  LiveTable& table = db_->Table();

  const std::unique_ptr<ChildProcess> pass = db_->StartPass("/c");
  if (rows_before_kill > 0) {
    ASSERT_TRUE(WaitForRowsBelow(table, *pass, rows_before_kill, kEnvelopeBelow))
        << "the pass ended before the kill: " << pass->EndDescription() << "\n" << pass->Out();
  }
  pass->Signal(SIGKILL);
  ASSERT_TRUE(pass->WaitFor(kChildLimit));
  ASSERT_EQ(pass->EndSignal(), SIGKILL) << pass->EndDescription();
  // A request of several rows that reached the server runs to its end there,
  // the program gone or not: the rows are counted once they stop changing.
  int settled = -1;
  PollUntil(
      [&] {
        const int now = table.CountShorterThan(kEnvelopeBelow);
        if (now == settled) return true;
        settled = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return false;
      },
      std::chrono::seconds(30));

  int envelopes = 0;
  for (const auto& [key, plain] : values) {
    const std::optional<std::string> stored = table.Stored(key);
    ASSERT_TRUE(stored) << key << " is gone";
    const std::optional<std::string> opened = OpenEnvelope(*stored);
    if (opened) {
      EXPECT_EQ(*opened, plain) << key << " holds an envelope of another value";
      ++envelopes;
    } else {
      EXPECT_TRUE(*stored == plain) << key << " is neither its old value nor an envelope of it";
    }
  }
  EXPECT_GE(envelopes, rows_before_kill);

  const std::unique_ptr<ChildProcess> second = db_->StartPass("/c");
  ASSERT_TRUE(second->WaitFor(kChildLimit)) << "the second pass did not end";
  EXPECT_EQ(second->ExitCode(), 0) << second->EndDescription() << "\n" << second->Out() << second->Err();
  const std::optional<PassCounts> counts =
      ParseCounts(second->Out(), "Command completed successfully, ", "\n");
  ASSERT_TRUE(counts) << second->Out();
  EXPECT_EQ(counts->processed, kRows - envelopes);
  EXPECT_EQ(counts->skipped, envelopes);
  for (const auto& [key, plain] : values) {
    const std::optional<std::string> opened = OpenEnvelope(table.Stored(key).value_or(""));
    EXPECT_TRUE(opened && *opened == plain) << key << " is not the envelope of its value";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Providers, KilledPass,
    ::testing::Combine(::testing::ValuesIn(AvailableProviders()), ::testing::Values(0, 1, 7, 20)),
    [](const ::testing::TestParamInfo<KillCase>& info) {
      return std::get<0>(info.param) + "_After" + std::to_string(std::get<1>(info.param)) + "Rows";
    });

}  // namespace
}  // namespace tersify::testing
