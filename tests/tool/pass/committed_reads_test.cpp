// What the verification and the estimate read, and what they hold while
// they read: committed values only, no lock between pages on SQLite, and an
// estimate whose timing probe runs first, or not at all on a connection that
// cannot write (a read-only SQLite file, a read-only database or login on the
// server), ending with numbers either way.

#include <sqlite3.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "db/database.h"
#include "db/registries.h"
#include "tests/db/layer_fixture.h"
#include "tests/tool/pass/report_table_fixture.h"
#include "tests/tool/program_runner.h"
#include "tool/pass/estimate.h"
#include "tool/pass/verify.h"
#include "tool/recompress.h"

namespace tersify::testing {
namespace {

// Runs a callback at one row of the run; counts the rows.
class RowHook : public TRecompressObserver {
 public:
  explicit RowHook(int at, std::function<void()> hook) : at_(at), hook_(std::move(hook)) {}
  void PassStarted(int64_t) override {}
  void RowHandled(int64_t, bool) override {
    if (rows++ == at_ && hook_) hook_();
  }
  void PassEnded() override {}
  int rows = 0;

 private:
  int at_;
  std::function<void()> hook_;
};

class CommittedReads : public ReportTableFixture<::testing::TestWithParam<std::string>> {
 protected:
  void Open(const TdsServerRules& rules = {}) { OpenTable(GetParam(), rules); }
  void Fill(int rows) const {
    FillTable(rows, [](int i) { return 500 + static_cast<size_t>(i); });
  }
};

// SQLite refuses every write to a file whose header asks for a newer writer
// (its write version above 2), whoever opens it: read-only even for root.
void MakeReadOnly(const std::string& file) {
  std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(stream);
  stream.seekp(18);
  stream.put(3);
  ASSERT_TRUE(stream);
}

TEST_P(CommittedReads, TheEstimateOfAReadOnlySqliteFileEndsWithNumbers) {
  if (GetParam() != "sqlite") GTEST_SKIP() << "a file of SQLite's own";
  Open();
  Fill(150);
  MakeReadOnly(test_db_->FilePath());
  Connect();
  TEstimateResult estimate;
  ASSERT_NO_THROW(EstimateTable("tqz_reports", "acReportData", "", TRecompressOptions(), 100, estimate));
  EXPECT_EQ(estimate.records, 150);
  EXPECT_EQ(estimate.sampled_records, 150);
  EXPECT_GT(estimate.stored_bytes, estimate.bytes_after);
  EXPECT_GT(estimate.pass_seconds, 0);
  EXPECT_NE(estimate.untimed_writes.find("cannot write"), std::string::npos) << estimate.untimed_writes;
}

TEST_P(CommittedReads, TheProgramSaysOnStandardErrorThatNoUpdateWasTimed) {
  if (GetParam() != "sqlite") GTEST_SKIP() << "a file of SQLite's own";
  Open();
  Fill(20);
  MakeReadOnly(test_db_->FilePath());
  const RunResult run = RunTersify(std::vector<std::string>{"/GUI=0", "/TABLE=tqz_reports", "/FIELD=acReportData",
                                                            "/estimate"} +
                                   ConnectionArgs(*test_db_));
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out.rfind("Estimate: 20 records, ", 0), 0u) << run.out;
  EXPECT_NE(run.err.find("No update was timed: the connection cannot write ("), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("the time for the pass is estimated from the read rate alone"), std::string::npos);
}

// A server that says the connection cannot write is sent no update.
void ExpectEstimateWithoutUpdates(const TestDatabase& db, const std::string& reason) {
  TEstimateResult estimate;
  ASSERT_NO_THROW(EstimateTable("tqz_reports", "acReportData", "", TRecompressOptions(), 100, estimate));
  EXPECT_EQ(estimate.records, 120);
  EXPECT_GT(estimate.stored_bytes, estimate.bytes_after);
  EXPECT_GT(estimate.pass_seconds, 0);
  EXPECT_EQ(estimate.untimed_writes, reason);
  for (const std::string& line : db.ServerLog()) EXPECT_EQ(line.find("update tqz_reports"), std::string::npos) << line;
}

TEST_P(CommittedReads, AReadOnlyDatabaseIsNotProbedAndTheEstimateEndsWithNumbers) {
  if (GetParam() != "odbc") GTEST_SKIP() << "a server's database";
  TdsServerRules rules;
  rules.access = tds::DatabaseAccess::ReadOnlyDatabase;
  Open(rules);
  Fill(120);
  Connect();
  ExpectEstimateWithoutUpdates(*test_db_, "the database is read-only");
}

TEST_P(CommittedReads, ALoginThatMayNotUpdateIsNotProbedAndTheEstimateEndsWithNumbers) {
  if (GetParam() != "odbc") GTEST_SKIP() << "a server's login";
  TdsServerRules rules;
  rules.access = tds::DatabaseAccess::ReadOnlyLogin;
  Open(rules);
  Fill(120);
  Connect();
  ExpectEstimateWithoutUpdates(*test_db_, "the login may not update tqz_reports");
}

TEST_P(CommittedReads, AProbeThatFailsEndsTheEstimateBeforeTheTableIsRead) {
  Open();
  Fill(400);
  // Every update of the table fails, as the probe's first would on a server
  // that refuses it for a reason other than read-only access.
  test_db_->ExecDirect(
      "create trigger tqz_refuse before update on tqz_reports begin select raise(abort, 'no updates here'); end");
  Connect();
  TEstimateResult estimate;
  RowHook counter(-1, nullptr);
  EXPECT_THROW(EstimateTable("tqz_reports", "acReportData", "", TRecompressOptions(), 100, estimate, &counter),
               std::exception);
  // The probe takes its rows from the first page, before any row is counted.
  EXPECT_EQ(counter.rows, 0);
}

TEST_P(CommittedReads, TheEstimateOfAWritableTableStillTimesItsUpdatesAndChangesNothing) {
  Open();
  Fill(50);
  const std::string before = test_db_->StoredBytes("select group_concat(hex(acReportData)) from tqz_reports");
  Connect();
  TEstimateResult estimate;
  EstimateTable("tqz_reports", "acReportData", "", TRecompressOptions(), 100, estimate);
  EXPECT_EQ(estimate.untimed_writes, "");
  EXPECT_GT(estimate.pass_seconds, 0);
  EXPECT_EQ(test_db_->StoredBytes("select group_concat(hex(acReportData)) from tqz_reports"), before);
}

TEST_P(CommittedReads, VerifyHoldsNoLockBetweenPagesSoThatAWriterIsNotBlocked) {
  if (GetParam() != "sqlite") GTEST_SKIP() << "SQLite's file locks";
  Open();
  Fill(300);
  Connect();
  int rc = -1;
  std::string message;
  // At the first row counted the first page has been read and the second not yet.
  RowHook writer(0, [&] {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(test_db_->FilePath().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    sqlite3_busy_timeout(db, 0);
    char* error = nullptr;
    rc = sqlite3_exec(db, "update tqz_reports set acTitle = 'changed' where acReport = 'K1299'", nullptr, nullptr,
                      &error);
    message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
  });
  TVerifyResult result;
  VerifyTable("tqz_reports", "acReportData", "", TRecompressOptions(), result, {}, &writer);
  EXPECT_EQ(rc, SQLITE_OK) << message;
  EXPECT_EQ(result.records, 300);
  EXPECT_EQ(test_db_->StoredBytes("select acTitle from tqz_reports where acReport = 'K1299'"), "changed");
}

// The test server runs on SQLite, whose readers never see another session's
// uncommitted rows, so what shows here is the level the session asks for.
TEST_P(CommittedReads, VerifyAndEstimateReadCommittedDataAndGiveThePassItsLevelBack) {
  if (GetParam() != "odbc") GTEST_SKIP() << "the server's log of what the session asks";
  Open();
  Fill(30);
  Connect();
  for (const bool verify : {true, false}) {
    SCOPED_TRACE(verify ? "verify" : "estimate");
    const size_t logged_before = test_db_->ServerLog().size();
    if (verify) {
      TVerifyResult result;
      VerifyTable("tqz_reports", "acReportData", "", TRecompressOptions(), result);
      EXPECT_EQ(result.records, 30);
    } else {
      TEstimateResult result;
      EstimateTable("tqz_reports", "acReportData", "", TRecompressOptions(), 100, result);
      EXPECT_EQ(result.records, 30);
    }
    const std::vector<std::string> log = test_db_->ServerLog();
    size_t committed = 0, page = 0, uncommitted = 0;
    for (size_t i = logged_before; i < log.size(); ++i) {
      const std::string& line = log[i];
      if (line.find("ISOLATION LEVEL READ COMMITTED") != std::string::npos && committed == 0) committed = i;
      // A page reads the field in key order; the log keeps the head of a
      // statement only, which may end before the table's name.
      if (line.find("order by") != std::string::npos && line.find("acReportData") != std::string::npos &&
          page == 0)
        page = i;
      if (line.find("ISOLATION LEVEL READ UNCOMMITTED") != std::string::npos) uncommitted = i;
    }
    EXPECT_GT(committed, 0u);
    EXPECT_GT(page, committed);
    EXPECT_GT(uncommitted, page);
  }
}

INSTANTIATE_TEST_SUITE_P(Providers, CommittedReads, ::testing::ValuesIn(AvailableProviders()), ProviderName());

}  // namespace
}  // namespace tersify::testing
