// A pass chosen as a deadlock victim through ODBC and the TDS test server: the
// rows whose writes the deadlock undid are read again and written, in the
// default mode and with /BATCH=, so that every row ends compressed once and
// the counts are what was committed; a deadlock that keeps coming ends the
// pass with its error after a few attempts.

#include <zlib.h>

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/database.h"
#include "db/registries.h"
#include "tests/db/layer_fixture.h"
#include "tool/pass/deadlock_retry.h"
#include "tool/recompress.h"

namespace tersify::testing {
namespace {

std::string Text(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < n) text += "<Memo Name=\"M" + std::to_string(random() % 300) + "\"/>\r\n";
  text.resize(n);
  return text;
}

std::string Key(int i) { return "K" + std::to_string(1000 + i); }

// The plain bytes of an envelope; empty when the bytes are no readable envelope.
std::string Decoded(const std::string& stored) {
  if (stored.size() < 16 || stored.compare(0, 8, "PKZ#900Z") != 0) return {};
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>(static_cast<unsigned char>(stored[8 + i])) << (8 * i);
  std::string plain(length, '\0');
  uLongf size = length;
  if (uncompress(reinterpret_cast<Bytef*>(plain.data()), &size, reinterpret_cast<const Bytef*>(stored.data() + 16),
                 static_cast<uLong>(stored.size() - 16)) != Z_OK)
    return {};
  plain.resize(size);
  return plain;
}

constexpr int kRows = 60;
constexpr size_t kValueBytes = 3000;

class DeadlockRetry : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ProviderAvailable("odbc")) GTEST_SKIP() << "no ODBC driver for the TDS test server";
    StartDatabaseLayer();
    test_db_ = std::make_unique<TestDatabase>("odbc");
    test_db_->ExecDirect(
        "create table tqz_reports (acReport varchar(20) primary key, acTitle text, acReportData blob)");
    std::string sql;
    for (int i = 0; i < kRows; ++i)
      sql += "insert into tqz_reports values ('" + Key(i) + "', 'T', " +
             HexLiteral(Text(kValueBytes, static_cast<unsigned>(i))) + ");";
    test_db_->ExecDirect(sql);
    database_ = std::make_unique<TvrDatabase>(nullptr);
    ConnectTo(*database_, *test_db_);
    DefaultDatabase = database_.get();
    database_->SetConnected(true);
  }
  void TearDown() override {
    if (!test_db_) return;
    database_.reset();
    ShutdownDatabaseLayer();
    test_db_.reset();
  }

  struct Outcome {
    bool ok = false;
    int32_t processed = 0, skipped = 0;
    TRecompressReport report;
    std::map<std::string, int> writes;  // before_write calls per key
  };
  // A compress pass; groups of a few rows each (a small budget), batch_rows per transaction.
  Outcome Compress(int batch_rows) {
    Outcome outcome;
    TRecompressOptions options;
    options.batch_rows = batch_rows;
    options.budget_bytes = 48 << 10;
    options.before_write = [&](const Variant& key) { ++outcome.writes[key.AsString()]; };
    outcome.ok = RecompressTable(false, 1, "tqz_reports", "acReportData", "acReport", {}, outcome.processed,
                                 outcome.skipped, nullptr, options, &outcome.report);
    return outcome;
  }
  // Rows whose stored value is an envelope of their own text.
  int CompressedRows() const {
    int rows = 0;
    for (int i = 0; i < kRows; ++i) {
      const std::string stored = test_db_->StoredBytes("select acReportData from tqz_reports where acReport = '" +
                                                       Key(i) + "'");
      if (Decoded(stored) == Text(kValueBytes, static_cast<unsigned>(i))) ++rows;
      else EXPECT_EQ(stored, Text(kValueBytes, static_cast<unsigned>(i))) << Key(i) << ": neither its text nor its envelope";
    }
    return rows;
  }
  int Deadlocks() const {
    int deadlocks = 0;
    for (const std::string& line : test_db_->ServerLog())
      if (line.find("error: ") != std::string::npos && line.find("deadlock victim") != std::string::npos) ++deadlocks;
    return deadlocks;
  }
  int ExpectGivingUp(int batch_rows);
  // Keys written more than once.
  static int WrittenAgain(const Outcome& outcome) {
    int again = 0;
    for (const auto& [key, writes] : outcome.writes) again += writes > 1 ? 1 : 0;
    return again;
  }

  std::unique_ptr<TestDatabase> test_db_;
  std::unique_ptr<TvrDatabase> database_;
};

TEST_F(DeadlockRetry, TheRowsOfAGroupChosenAsVictimAreWrittenAgainInTheDefaultMode) {
  test_db_->DeadlockNextServerWrite("update tqz_reports", 2);
  const Outcome outcome = Compress(1);
  ASSERT_TRUE(outcome.ok);
  EXPECT_EQ(Deadlocks(), 1);
  EXPECT_EQ(outcome.processed, kRows);
  EXPECT_EQ(outcome.skipped, 0);
  EXPECT_EQ(outcome.report.changed_rows + outcome.report.deleted_rows, 0);
  EXPECT_GT(WrittenAgain(outcome), 0);
  EXPECT_EQ(CompressedRows(), kRows);
}

TEST_F(DeadlockRetry, TheWholeBatchAVictimLostIsReadAgainAndWritten) {
  // The third group's request fails: the batch's rows written by the two before it are rolled back too.
  test_db_->DeadlockNextServerWrite("update tqz_reports", 2);
  const Outcome outcome = Compress(40);
  ASSERT_TRUE(outcome.ok);
  EXPECT_EQ(Deadlocks(), 1);
  EXPECT_EQ(outcome.processed, kRows);
  EXPECT_EQ(outcome.skipped, 0);
  EXPECT_EQ(outcome.report.changed_rows + outcome.report.deleted_rows, 0);
  // More rows than the failed group alone are written again.
  EXPECT_GT(WrittenAgain(outcome), static_cast<int>(outcome.writes.size()) / 10);
  EXPECT_EQ(CompressedRows(), kRows);
  EXPECT_EQ(outcome.report.stored_bytes_read, static_cast<int64_t>(kRows * kValueBytes));
}

// What the counts call written is what the table holds, and a second run
// completes the table; returns the rows the failed pass wrote.
int DeadlockRetry::ExpectGivingUp(int batch_rows) {
  test_db_->DeadlockNextServerWrite("update tqz_reports", 1, 1 + TDeadlockRetry::kMostRetries);
  const Outcome outcome = Compress(batch_rows);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(Deadlocks(), 1 + TDeadlockRetry::kMostRetries);
  EXPECT_EQ(outcome.report.end, TPassEnd::Failed);
  const int compressed = CompressedRows();
  EXPECT_EQ(outcome.processed, compressed);
  EXPECT_LT(compressed, kRows);
  const Outcome second = Compress(batch_rows);
  EXPECT_TRUE(second.ok);
  EXPECT_EQ(second.processed, kRows - compressed);
  EXPECT_EQ(CompressedRows(), kRows);
  return compressed;
}

TEST_F(DeadlockRetry, ADeadlockThatKeepsComingEndsThePassWithTrueCounts) {
  // The first group was written before the deadlocks began.
  EXPECT_GT(ExpectGivingUp(1), 0);
}

TEST_F(DeadlockRetry, ADeadlockThatKeepsComingEndsABatchedPassWithTrueCounts) { ExpectGivingUp(40); }

}  // namespace
}  // namespace tersify::testing
