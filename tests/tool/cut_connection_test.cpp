// A connection that drops in the middle of a group of rows: the relay between
// the program and the TDS test server passes so many bytes of the program's
// requests, then cuts both sides. The pass ends with exit code 1 and counts
// only rows that were written (and, with a batch, committed); every row holds
// its old value or an envelope of it; a second run completes the table.

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/tds_server_process.h"
#include "tests/tool/pass_child_fixture.h"

namespace tersify::testing {
namespace {

constexpr int kRows = 400;
constexpr size_t kRowSize = 6000;
// An envelope of a row's text is far shorter than this; a plain value never is.
constexpr int64_t kEnvelopeBelow = kRowSize / 2;
// The rows of one request at most (the writer's group).
constexpr int kMostGroupRows = 525;

// The loopback relay of the benchmarks, cutting after `bytes` from the client.
class CuttingRelay {
 public:
  CuttingRelay(int target_port, int64_t bytes) {
    process_ = std::make_unique<ChildProcess>(
        TERSIFY_RELAY_EXE, std::vector<std::string>{"--target-port", std::to_string(target_port),
                                                    "--cut-after", std::to_string(bytes)});
    const std::string prefix = "listening on 127.0.0.1:";
    PollUntil([&] { return process_->Err().find(prefix) != std::string::npos || !process_->Running(); },
              std::chrono::seconds(20));
    const std::string log = process_->Err();
    const size_t at = log.find(prefix);
    if (at == std::string::npos) throw std::runtime_error("the relay did not start: " + log);
    port_ = std::stoi(log.substr(at + prefix.size()));
  }
  int Port() const { return port_; }

 private:
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
};

// mode ("" or a /BATCH= switch), bytes passed before the cut
using CutCase = std::tuple<std::string, int64_t>;

class CutConnection : public ::testing::TestWithParam<CutCase> {
 protected:
  void SetUp() override {
    if (!ProviderAvailable("odbc"))
      GTEST_SKIP() << "FreeTDS's ODBC driver is not installed";
    PreferMemoryBackedTemp();
    db_ = std::make_unique<PassChildDatabase>("sqlite");
    values_ = db_->Fill(kRows, kRowSize);
    server_ = std::make_unique<TdsServerProcess>(db_->File());
  }

  std::vector<std::string> Extra() const {
    const std::string& mode = std::get<0>(GetParam());
    return mode.empty() ? std::vector<std::string>{} : std::vector<std::string>{mode};
  }

  std::unique_ptr<PassChildDatabase> db_;
  std::map<std::string, std::string> values_;
  std::unique_ptr<TdsServerProcess> server_;
};

TEST_P(CutConnection, RowsHoldTheirValueTheCountsWhatWasCommittedAndASecondRunCompletes) {
  {
    CuttingRelay relay(server_->Port(), std::get<1>(GetParam()));
    std::vector<std::string> through = server_->ConnectionArguments();
    through[0] = "/IP=127.0.0.1," + std::to_string(relay.Port());
    const std::unique_ptr<ChildProcess> pass = StartPassOver(through, "/c", Extra());
    ASSERT_TRUE(pass->WaitFor(kChildLimit)) << "the pass did not end";
    EXPECT_EQ(pass->ExitCode(), 1) << pass->EndDescription() << "\n" << pass->Out() << pass->Err();
    EXPECT_EQ(pass->Out().rfind("Critical error occured:\n", 0), 0u) << pass->Out();
    const std::optional<PassCounts> counts = CountsBeforeTheError(pass->Err());
    ASSERT_TRUE(counts) << "no counts on standard error: " << pass->Err();
    EXPECT_EQ(counts->skipped, 0);
    EXPECT_LT(counts->processed, kRows) << "the cut came after the last row";
    const int envelopes = db_->Table().CountShorterThan(kEnvelopeBelow);
    EXPECT_GE(envelopes, counts->processed) << "a row counted as processed is not rewritten";
    // A request the server ran just before the cut may never have been answered.
    EXPECT_LE(envelopes, counts->processed + kMostGroupRows);
    for (const auto& [key, value] : values_) {
      const std::optional<std::string> stored = db_->Table().Stored(key);
      ASSERT_TRUE(stored) << key << " is gone";
      EXPECT_TRUE(Holds(*stored, value)) << key << " holds neither its value nor an envelope of it";
    }
  }
  const std::unique_ptr<ChildProcess> again = StartPassOver(server_->ConnectionArguments(), "/c", Extra());
  ASSERT_TRUE(again->WaitFor(kChildLimit)) << "the second run did not end";
  EXPECT_EQ(again->ExitCode(), 0) << again->Out() << again->Err();
  EXPECT_EQ(db_->Table().CountShorterThan(kEnvelopeBelow), kRows);
  for (const auto& [key, value] : values_) {
    const std::optional<std::string> stored = db_->Table().Stored(key);
    ASSERT_TRUE(stored && Holds(*stored, value)) << key;
  }
}

// Cut in the first request of rows, and in a later one.
INSTANTIATE_TEST_SUITE_P(
    Modes, CutConnection,
    ::testing::Combine(::testing::Values(std::string(), std::string("/BATCH=100")),
                       ::testing::Values(int64_t{60000}, int64_t{400000})),
    [](const ::testing::TestParamInfo<CutCase>& info) {
      return (std::get<0>(info.param).empty() ? std::string("Default") : std::string("Batch100")) + "_After" +
             std::to_string(std::get<1>(info.param) / 1000) + "KB";
    });

}  // namespace
}  // namespace tersify::testing
