// The pass's limits as users meet them, through the real program: /LOGLIMIT=
// against the TDS test server, whose transaction log is as full as a file of
// the test says; on SQLite the switch is only noted.

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/tds_server_process.h"
#include "tests/tool/pass_child_fixture.h"
#include "tests/tool/program_runner.h"

namespace tersify::testing {
namespace {

constexpr int kRows = 60;
constexpr size_t kRowSize = 3000;
// An envelope of a row's text is far shorter than this; a plain value never is.
constexpr int64_t kEnvelopeBelow = kRowSize / 3;

int Occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// The test server's log-space file: written aside, then renamed, so that the
// server never reads half of it.
void SetLogUse(const std::string& file, const std::string& percent) {
  const std::string aside = file + ".tmp";
  {
    std::ofstream out(aside, std::ios::trunc);
    out << percent << "\n";
  }
  ASSERT_EQ(std::rename(aside.c_str(), file.c_str()), 0);
}

class LogLimit : public ::testing::TestWithParam<std::string> {  // the /BATCH= value
 protected:
  void SetUp() override {
    if (!ProviderAvailable("odbc")) GTEST_SKIP() << "FreeTDS's ODBC driver is not installed";
    PreferMemoryBackedTemp();
    db_ = std::make_unique<PassChildDatabase>("sqlite");
    values_ = db_->Fill(kRows, kRowSize);
    log_file_ = dir_.File("log-space");
    SetLogUse(log_file_, "93");
    server_ = std::make_unique<TdsServerProcess>(db_->File(), std::vector<std::string>{"--log-space-file", log_file_});
    pass_ = StartPassOver(server_->ConnectionArguments(), "/c",
                          {"/LOGLIMIT=80", "/BATCH=" + GetParam(), "/TIMEOUT=10"});
    // The pass says it waits, and writes nothing while it does.
    ASSERT_TRUE(PollUntil([&] { return pass_->Err().find(kWaiting) != std::string::npos || !pass_->Running(); },
                          kChildLimit));
    ASSERT_TRUE(pass_->Running()) << pass_->EndDescription() << "\n" << pass_->Out() << pass_->Err();
  }
  void ExpectNothingWritten() {
    EXPECT_EQ(db_->Table().CountShorterThan(kEnvelopeBelow), 0);
    EXPECT_EQ(server_->Log().find("update "), std::string::npos) << "an update reached the server";
  }

  static constexpr const char* kWaiting = "Waiting for the transaction log: 93 % used, limit 80 %, log 2.00 GB\n";
  TempDir dir_;
  std::unique_ptr<PassChildDatabase> db_;
  std::map<std::string, std::string> values_;
  std::string log_file_;
  std::unique_ptr<TdsServerProcess> server_;
  std::unique_ptr<ChildProcess> pass_;
};

TEST_P(LogLimit, WritesNothingWhileTheLogIsFullerAndCompletesOnceItIsLess) {
  ExpectNothingWritten();
  // Some readings later (the pass looks every second) still nothing.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  ASSERT_TRUE(pass_->Running()) << pass_->Out() << pass_->Err();
  ExpectNothingWritten();

  SetLogUse(log_file_, "40");
  ASSERT_TRUE(pass_->WaitFor(kChildLimit)) << "the pass did not go on";
  EXPECT_EQ(pass_->ExitCode(), 0) << pass_->EndDescription() << "\n" << pass_->Out() << pass_->Err();
  EXPECT_EQ(pass_->Out(), "Command completed successfully, " + std::to_string(kRows) +
                              " records processed, 0 records skipped\n");
  EXPECT_EQ(Occurrences(pass_->Err(), kWaiting), 1) << pass_->Err();
  EXPECT_NE(pass_->Err().find("The transaction log is 40 % used again, limit 80 %: the pass goes on\n"),
            std::string::npos)
      << pass_->Err();
  EXPECT_EQ(db_->Table().CountShorterThan(kEnvelopeBelow), kRows) << "every value is an envelope now";
  for (const auto& [key, value] : values_) {
    const std::optional<std::string> stored = db_->Table().Stored(key);
    ASSERT_TRUE(stored) << key;
    EXPECT_TRUE(Holds(*stored, value)) << key;
  }
}

TEST_P(LogLimit, ACancelEndsTheWaitAtOnce) {
  pass_->Signal(SIGINT);
  ASSERT_TRUE(pass_->WaitFor(std::chrono::seconds(20))) << "the wait did not end on SIGINT";
  EXPECT_EQ(pass_->ExitCode(), 130) << pass_->EndDescription() << "\n" << pass_->Out() << pass_->Err();
  const std::optional<PassCounts> counts = ParseCounts(pass_->Out(), "Cancelled, ", "\n");
  ASSERT_TRUE(counts) << pass_->Out();
  EXPECT_EQ(counts->processed, 0);
  ExpectNothingWritten();
}

INSTANTIATE_TEST_SUITE_P(Batches, LogLimit, ::testing::Values("1", "20"),
                         [](const auto& info) { return "Batch" + info.param; });

// /MAXRATE= holds the pass back: 2.5 MB at 1 MB/s cannot be read in less than
// about 2.25 seconds (the first quarter second of credit comes at once),
// however fast the machine is. (How close the rate keeps to the limit is
// measured by bench/rate_limit.sh.)
TEST(MaxRate, ThePassReadsNoFasterThanTheLimit) {
  PreferMemoryBackedTemp();
  PassChildDatabase db("sqlite");
  db.Fill(40, 64 << 10);
  const auto start = std::chrono::steady_clock::now();
  const std::unique_ptr<ChildProcess> pass = db.StartPass("/c", {"/MAXRATE=1"});
  ASSERT_TRUE(pass->WaitFor(kChildLimit));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(pass->ExitCode(), 0) << pass->Out() << pass->Err();
  EXPECT_EQ(pass->Out(), "Command completed successfully, 40 records processed, 0 records skipped\n");
  EXPECT_GE(took, std::chrono::milliseconds(1500));
}

TEST(LogLimitOnSqlite, IsAcceptedAndOnlyNoted) {
  PreferMemoryBackedTemp();
  PassChildDatabase db("sqlite");
  db.Fill(5, kRowSize);
  const std::unique_ptr<ChildProcess> pass = db.StartPass("/c", {"/LOGLIMIT=80"});
  ASSERT_TRUE(pass->WaitFor(kChildLimit));
  EXPECT_EQ(pass->ExitCode(), 0) << pass->Out() << pass->Err();
  EXPECT_EQ(pass->Out(), "Command completed successfully, 5 records processed, 0 records skipped\n");
  EXPECT_EQ(pass->Err().rfind("/LOGLIMIT=80 is not used on SQLite, which keeps no transaction log to watch\n", 0),
            0u)
      << pass->Err();
  EXPECT_EQ(db.Table().CountShorterThan(kEnvelopeBelow), 5);
}

}  // namespace
}  // namespace tersify::testing
