// The warnings a pass gives before its first row about what the rewrite
// touches beyond the column, through ODBC and the TDS test server's catalogue
// views: one line for each of a rowversion column, system versioning, a
// full-text index on the column, a row-level security filter (with the rows
// the catalogue counts against those the pass sees), change data capture and
// replication; none for a plain table; a view the server lacks leaves its
// line out, and nothing stops the pass.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/database.h"
#include "db/registries.h"
#include "tests/db/layer_fixture.h"
#include "tool/recompress.h"

namespace tersify::testing {
namespace {

// The warnings, and how many rows had been handled when each came.
class WarningRecorder : public TRecompressObserver {
 public:
  void PassStarted(int64_t) override {}
  void RowHandled(int64_t, bool) override { ++rows; }
  void PassWarning(const std::string& line) override {
    lines.push_back(line);
    rows_before.push_back(rows);
  }
  int rows = 0;
  std::vector<std::string> lines;
  std::vector<int> rows_before;
};

class TableWarnings : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ProviderAvailable("odbc")) GTEST_SKIP() << "no ODBC driver for the TDS test server";
    StartDatabaseLayer();
    test_db_ = std::make_unique<TestDatabase>("odbc");
  }
  void TearDown() override {
    if (!test_db_) return;
    database_.reset();
    ShutdownDatabaseLayer();
    test_db_.reset();
  }
  void Create(const std::string& extra_column) {
    test_db_->ExecDirect("create table tqz_reports (acReport varchar(20) primary key, acTitle text, acReportData blob" +
                         extra_column + ")");
    for (int i = 0; i < 5; ++i)
      test_db_->ExecDirect("insert into tqz_reports (acReport, acTitle, acReportData) values ('K" + std::to_string(i) +
                           "', 'T', " + HexLiteral(std::string(400, static_cast<char>('a' + i))) + ")");
    database_ = std::make_unique<TvrDatabase>(nullptr);
    ConnectTo(*database_, *test_db_);
    DefaultDatabase = database_.get();
    database_->SetConnected(true);
  }
  WarningRecorder Compress(int32_t& processed) {
    WarningRecorder recorder;
    int32_t skipped = 0;
    EXPECT_TRUE(RecompressTable(false, 1, "tqz_reports", "acReportData", "acReport", {}, processed, skipped,
                                &recorder));
    return recorder;
  }
  static tds::TableMarks Everything() {
    tds::TableMarks marks;
    marks.system_versioned = marks.tracked_by_cdc = marks.replicated = marks.row_filter = true;
    marks.fulltext_column = "acReportData";
    return marks;
  }

  // The requests the server logged that ask about the table's rowversion
  // column: with every other question (`together`), or alone.
  int RowversionQuestions(bool together) const {
    const std::string start = together ? "select (select count(*) from sys.columns where"
                                       : "select count(*) from sys.columns where";
    int n = 0;
    for (const std::string& line : test_db_->ServerLog())
      if (line.find("rpc sp_executesql: " + start) != std::string::npos) ++n;
    return n;
  }

  std::unique_ptr<TestDatabase> test_db_;
  std::unique_ptr<TvrDatabase> database_;
};

TEST_F(TableWarnings, EachThingTheRewriteTouchesIsToldOnceBeforeTheFirstRow) {
  Create(", acStamp rowversion");
  test_db_->MarkServerTable("tqz_reports", Everything());
  int32_t processed = 0;
  const WarningRecorder recorder = Compress(processed);
  EXPECT_EQ(processed, 5) << "nothing stops the pass";
  std::string told;
  for (const std::string& line : recorder.lines) told += line + "\n";
  ASSERT_EQ(recorder.lines.size(), 6u) << told;
  const std::vector<std::string> starts = {
      "Warning: tqz_reports has a rowversion column: ",
      "Warning: tqz_reports is system-versioned: ",
      "Warning: tqz_reports has a full-text index on acReportData: ",
      "Warning: tqz_reports has a row-level security filter: the catalogue counts 5 rows, this login sees 5; ",
      "Warning: tqz_reports is tracked by change data capture: ",
      "Warning: tqz_reports is replicated: "};
  for (size_t i = 0; i < starts.size(); ++i) {
    EXPECT_EQ(recorder.lines[i].rfind(starts[i], 0), 0u) << recorder.lines[i];
    EXPECT_EQ(recorder.rows_before[i], 0) << recorder.lines[i];
  }
  EXPECT_EQ(RowversionQuestions(true), 1) << "across a network every question goes in one request";
  EXPECT_EQ(RowversionQuestions(false), 0);
}

TEST_F(TableWarnings, APlainTableGetsNoWarning) {
  Create("");
  // A full-text index on another column is no concern of the pass.
  tds::TableMarks marks;
  marks.fulltext_column = "acTitle";
  test_db_->MarkServerTable("tqz_reports", marks);
  int32_t processed = 0;
  const WarningRecorder recorder = Compress(processed);
  EXPECT_EQ(processed, 5);
  EXPECT_EQ(recorder.lines, std::vector<std::string>{});
}

TEST_F(TableWarnings, AViewTheServerLacksLeavesItsWarningOutAndThePassGoesOn) {
  Create(", acStamp timestamp");
  test_db_->MarkServerTable("tqz_reports", Everything());
  // As an older server without full-text views, or without temporal_type.
  for (const char* view : {"tds_sys_fulltext_index_columns", "tds_sys_tables"})
    database_->ClientConnection()->GetProvider().Execute(std::string("drop view ") + view, {});
  int32_t processed = 0;
  const WarningRecorder recorder = Compress(processed);
  EXPECT_EQ(processed, 5);
  ASSERT_EQ(recorder.lines.size(), 2u);
  EXPECT_EQ(recorder.lines[0].rfind("Warning: tqz_reports has a rowversion column: ", 0), 0u) << recorder.lines[0];
  EXPECT_EQ(recorder.lines[1].rfind("Warning: tqz_reports has a row-level security filter: ", 0), 0u)
      << recorder.lines[1];
  EXPECT_EQ(RowversionQuestions(true), 1) << "the questions together first";
  EXPECT_EQ(RowversionQuestions(false), 1) << "then one by one";
}

}  // namespace
}  // namespace tersify::testing
