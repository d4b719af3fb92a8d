#include "log/log_database.h"

#include <fstream>

#include <gtest/gtest.h>

#include "framework/rtl/platform.h"
#include "tests/log/log_test_support.h"

namespace tersify {
namespace {

using testing::ReadLog;
using testing::ScratchDir;
using testing::SqliteConnection;

const char kInsert[] = " insert into log (Operation) values (\"op\"); ";

TEST(OpenLogDatabaseTest, CreatesTheFileTheTableAndFullAutoVacuum) {
  ScratchDir dir;
  const std::string path = dir.File("log.db");
  TLogDatabase database;
  OpenLogDatabase(database, path);
  EXPECT_TRUE(database.IsOpen());
  ASSERT_TRUE(FileExists(path));

  SqliteConnection reader(path);
  auto schema = reader.Query("select sql from sqlite_master where type = 'table' and name = 'Log'");
  ASSERT_EQ(schema.size(), 1u);
  EXPECT_EQ(*schema[0]["sql"],
            "CREATE TABLE Log (AnNo INTEGER PRIMARY KEY, Cas DATETEXT DEFAULT CURRENT_TIMESTAMP, AppName TEXT,"
            "FormName TEXT,ControlName TEXT,Sendername TEXT,ObjectName TEXT,Operation TEXT,ExceptObject TEXT,"
            "BuildNo INTEGER,TickCount INTEGER,Error TEXT,SenderProp TEXT)");
  EXPECT_EQ(*reader.Query("pragma auto_vacuum")[0]["auto_vacuum"], "1");
}

TEST(OpenLogDatabaseTest, KeepsTheRowsOfAnExistingLog) {
  ScratchDir dir;
  const std::string path = dir.File("log.db");
  {
    TLogDatabase database;
    OpenLogDatabase(database, path);
    database.ExecuteMulti(kInsert);
  }
  TLogDatabase database;
  OpenLogDatabase(database, path);
  EXPECT_EQ(ReadLog(path).size(), 1u);
}

TEST(OpenLogDatabaseTest, AFileThatIsNoDatabaseRaisesTheEnginesError) {
  ScratchDir dir;
  const std::string path = dir.File("log.db");
  std::ofstream(path) << std::string(4096, 'x');
  TLogDatabase database;
  try {
    OpenLogDatabase(database, path);
    FAIL() << "no error raised";
  } catch (const ESQLiteError& e) {
    EXPECT_EQ(e.ErrorCode(), SQLITE_NOTADB);
    EXPECT_FALSE(e.Message().empty());
  }
}

class CommitBatchTest : public ::testing::Test {
 protected:
  void SetUp() override { OpenLogDatabase(database_, path_); }
  ScratchDir dir_;
  std::string path_ = dir_.File("log.db");
  TLogDatabase database_;
};

TEST_F(CommitBatchTest, WritesEveryStatementOfTheText) {
  std::string failure = "untouched";
  EXPECT_EQ(CommitBatch(database_, std::string(kInsert) + "\r\n" + kInsert + "\r\n" + kInsert + "\r\n", false, 4000,
                        &failure),
            0);
  EXPECT_EQ(failure, "untouched");
  EXPECT_EQ(ReadLog(path_).size(), 3u);
  EXPECT_FALSE(database_.InTransaction());
}

// The batch is one transaction: a failing statement writes none of the rows,
// and the transaction it opened does not block the next attempt.
TEST_F(CommitBatchTest, AFailingStatementWritesNothingAndLeavesNoTransactionOpen) {
  const std::string text = std::string(kInsert) + "\r\n insert into nowhere values (1);\r\n" + kInsert;
  std::string failure;
  EXPECT_EQ(CommitBatch(database_, text, false, 4000, &failure), SQLITE_ERROR);
  EXPECT_NE(failure.find("nowhere"), std::string::npos) << failure;
  EXPECT_TRUE(ReadLog(path_).empty());
  EXPECT_FALSE(database_.InTransaction());
  EXPECT_EQ(CommitBatch(database_, kInsert, false, 4000), 0);
  EXPECT_EQ(ReadLog(path_).size(), 1u);
}

TEST_F(CommitBatchTest, ABusyDatabaseReportsBusyAndTheRetryWorksOnceItIsFree) {
  auto other = std::make_unique<SqliteConnection>(path_);
  other->Exec("BEGIN EXCLUSIVE");
  std::string failure;
  EXPECT_EQ(CommitBatch(database_, kInsert, false, 50, &failure), SQLITE_BUSY);
  EXPECT_EQ(failure, "  INSERT timed out!");
  EXPECT_FALSE(database_.InTransaction());
  other.reset();
  EXPECT_EQ(CommitBatch(database_, kInsert, false, 50), 0);
  EXPECT_EQ(ReadLog(path_).size(), 1u);
}

TEST(CommitBatchClosedTest, AClosedDatabaseFailsWithOne) {
  TLogDatabase database;
  std::string failure;
  EXPECT_EQ(CommitBatch(database, kInsert, false, 4000, &failure), 1);
  EXPECT_FALSE(failure.empty());
}

}  // namespace
}  // namespace tersify
