// SIGINT or SIGTERM sent to the program during a pass: it stops between rows,
// reports how far it got on standard output and exits with 128 + the signal;
// no row is left half-written, and a second pass finishes the job.

#include <signal.h>

#include <map>
#include <optional>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "tests/tool/pass_child_fixture.h"

namespace tersify::testing {
namespace {

constexpr int kRows = 60;
constexpr size_t kRowSize = size_t{1} << 20;
constexpr int64_t kEnvelopeBelow = kRowSize / 3;

using CancelCase = std::tuple<std::string, int>;  // provider, signal

class CancelledPass : public ::testing::TestWithParam<CancelCase> {
 protected:
  void SetUp() override {
    PreferMemoryBackedTemp();
    db_ = std::make_unique<PassChildDatabase>(std::get<0>(GetParam()));
  }
  std::unique_ptr<PassChildDatabase> db_;
};

TEST_P(CancelledPass, StopsBetweenRowsReportsItsCountsAndExitsWith128PlusTheSignal) {
  const int signal_number = std::get<1>(GetParam());
  const std::map<std::string, std::string> values = db_->Fill(kRows, kRowSize);
  LiveTable& table = db_->Table();

  const std::unique_ptr<ChildProcess> pass = db_->StartPass("/c");
  ASSERT_TRUE(WaitForRowsBelow(table, *pass, 3, kEnvelopeBelow))
      << "the pass ended before it could be cancelled: " << pass->EndDescription() << "\n"
      << pass->Out() << pass->Err();
  pass->Signal(signal_number);
  ASSERT_TRUE(pass->WaitFor(kChildLimit)) << "the cancelled pass did not end";

  EXPECT_EQ(pass->EndSignal(), 0) << "the signal ended the program before the pass could stop";
  EXPECT_EQ(pass->ExitCode(), 128 + signal_number) << pass->EndDescription() << "\n" << pass->Out();
  const std::optional<PassCounts> counts = ParseCounts(pass->Out(), "Cancelled, ", "\n");
  ASSERT_TRUE(counts) << "standard output is not exactly the cancel line: " << pass->Out();
  EXPECT_LT(counts->processed, kRows) << "the pass did not stop";
  EXPECT_EQ(counts->skipped, 0);
  // Every row counted is rewritten, every other row is untouched.
  int envelopes = 0;
  for (const auto& [key, plain] : values) {
    const std::string stored = table.Stored(key).value_or("<gone>");
    const std::optional<std::string> opened = OpenEnvelope(stored);
    if (opened) {
      EXPECT_EQ(*opened, plain) << key << " holds an envelope of another value";
      ++envelopes;
    } else {
      EXPECT_TRUE(stored == plain) << key << " is neither its old value nor an envelope of it";
    }
  }
  EXPECT_EQ(envelopes, counts->processed);

  const std::unique_ptr<ChildProcess> second = db_->StartPass("/c");
  ASSERT_TRUE(second->WaitFor(kChildLimit)) << "the second pass did not end";
  EXPECT_EQ(second->ExitCode(), 0) << second->EndDescription() << "\n" << second->Out() << second->Err();
  const std::optional<PassCounts> second_counts =
      ParseCounts(second->Out(), "Command completed successfully, ", "\n");
  ASSERT_TRUE(second_counts) << second->Out();
  EXPECT_EQ(second_counts->processed, kRows - envelopes);
  EXPECT_EQ(second_counts->skipped, envelopes);
  for (const auto& [key, plain] : values) {
    const std::optional<std::string> opened = OpenEnvelope(table.Stored(key).value_or(""));
    EXPECT_TRUE(opened && *opened == plain) << key << " is not the envelope of its value";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Providers, CancelledPass,
    ::testing::Combine(::testing::ValuesIn(AvailableProviders()), ::testing::Values(SIGINT, SIGTERM)),
    [](const ::testing::TestParamInfo<CancelCase>& info) {
      return std::get<0>(info.param) + (std::get<1>(info.param) == SIGINT ? "_SIGINT" : "_SIGTERM");
    });

}  // namespace
}  // namespace tersify::testing
