// The verification and the estimate run in this process against every
// provider: what they hand the window (results, damaged values as found, the
// observer's calls), that threads and page sizes change nothing, rows whose key
// is NULL, a cancel request, and the estimate's bytes against a real pass.

#include <sqlite3.h>
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
#include "framework/rtl/exception.h"
#include "tests/db/layer_fixture.h"
#include "tests/tool/program_runner.h"
#include "tool/pass/estimate.h"
#include "tool/pass/cancel.h"
#include "tool/recompress.h"
#include "tool/pass/verify.h"

namespace tersify::testing {
namespace {

std::string ReportText(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < n)
    text += "<TfrxMemoView Name=\"Memo" + std::to_string(random() % 300) + "\" Top=\"" +
            std::to_string(random() % 900) + "\"/>\r\n";
  text.resize(n);
  return text;
}

std::string SoundEnvelope(const std::string& plain) {
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  std::string payload(size, '\0');
  compress2(reinterpret_cast<Bytef*>(payload.data()), &size, reinterpret_cast<const Bytef*>(plain.data()),
            static_cast<uLong>(plain.size()), 6);
  payload.resize(size);
  std::string header = "PKZ#900Z";
  const auto length = static_cast<uint32_t>(plain.size());
  for (int i = 0; i < 4; ++i) header += static_cast<char>((length >> (8 * i)) & 0xFF);
  return header + std::string(4, '\0') + payload;
}

// An envelope whose zlib stream is cut in half.
std::string CutEnvelope(const std::string& plain) {
  const std::string whole = SoundEnvelope(plain);
  return whole.substr(0, 16 + (whole.size() - 16) / 2);
}

std::string Key(int i) { return "K" + std::to_string(1000 + i); }

// Counts what the pass tells an observer.
class CountingObserver : public TRecompressObserver {
 public:
  void PassStarted(int64_t rows) override {
    ++started;
    total = rows;
  }
  void RowHandled(int64_t plain_bytes, bool rewritten) override {
    ++rows;
    bytes += plain_bytes;
    if (rewritten) ++rewritten_rows;
  }
  void PassEnded() override { ++ended; }
  int started = 0, ended = 0, rows = 0, rewritten_rows = 0;
  int64_t total = -1;
  int64_t bytes = 0;
};

class ReadOnlyPasses : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    StartDatabaseLayer();
    test_db_ = std::make_unique<TestDatabase>(GetParam());
    test_db_->ExecDirect(
        "create table tqz_reports (acReport varchar(20) primary key, acTitle text, acReportData blob)");
    database_ = std::make_unique<TvrDatabase>(nullptr);
    ConnectTo(*database_, *test_db_);
    DefaultDatabase = database_.get();
    database_->SetConnected(true);
  }
  void TearDown() override {
    database_.reset();
    ShutdownDatabaseLayer();
    test_db_.reset();
  }

  void Insert(const std::string& key, const std::string& value) const {
    test_db_->ExecDirect("insert into tqz_reports values ('" + key + "', 'T', " + HexLiteral(value) + ")");
  }
  // Every value with its storage class, read past the connection under test.
  std::map<std::string, std::string> Stored() const {
    return AllValues(test_db_->FilePath(),
                     "select coalesce(acReport, '<null>'), typeof(acReportData) || ':' || "
                     "coalesce(hex(acReportData), '') from tqz_reports");
  }
  int64_t StoredBytes() const {
    return std::stoll(test_db_->StoredBytes(
        "select cast(coalesce(sum(length(cast(acReportData as blob))), 0) as text) from tqz_reports"));
  }

  // Plain, compressed and damaged values mixed (a fifth each damaged, short,
  // plain; two fifths compressed); returns the damaged keys in order.
  std::vector<std::string> FillMixed(int rows) const {
    std::vector<std::string> damaged;
    for (int i = 0; i < rows; ++i) {
      const std::string plain = ReportText(200 + 37 * static_cast<size_t>(i), static_cast<unsigned>(i));
      switch (i % 5) {
        case 0: Insert(Key(i), plain); break;
        case 1:
        case 2: Insert(Key(i), SoundEnvelope(plain)); break;
        case 3: Insert(Key(i), "x"); break;
        case 4:
          Insert(Key(i), CutEnvelope(plain));
          damaged.push_back(Key(i));
          break;
      }
    }
    return damaged;
  }

  std::unique_ptr<TestDatabase> test_db_;
  std::unique_ptr<TvrDatabase> database_;
};

TEST_P(ReadOnlyPasses, VerifyGivesTheSameResultForEveryThreadCountAndPageSize) {
  const std::vector<std::string> damaged = FillMixed(60);
  const auto before = Stored();
  for (const auto& [threads, budget] : std::vector<std::pair<int, int64_t>>{{1, 0}, {3, 0}, {4, 1500}, {2, 1}}) {
    SCOPED_TRACE("threads " + std::to_string(threads) + ", budget " + std::to_string(budget));
    TRecompressOptions options;
    options.threads = threads;
    options.budget_bytes = budget;
    TVerifyResult result;
    std::vector<TDamagedValue> found;
    CountingObserver observer;
    VerifyTable("tqz_reports", "acReportData", "", options, result,
                [&](const TDamagedValue& value) { found.push_back(value); }, &observer);
    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(result.records, 60);
    EXPECT_EQ(result.compressed, 24);
    EXPECT_EQ(result.plain, 24);
    EXPECT_EQ(result.damaged, 12);
    ASSERT_EQ(result.damaged_values.size(), damaged.size());
    ASSERT_EQ(found.size(), damaged.size());
    for (size_t i = 0; i < damaged.size(); ++i) {
      EXPECT_EQ(result.damaged_values[i].key, damaged[i]);
      EXPECT_EQ(found[i].key, damaged[i]);
      EXPECT_EQ(found[i].reason, result.damaged_values[i].reason);
      EXPECT_NE(found[i].reason.find("cut short"), std::string::npos) << found[i].reason;
    }
    EXPECT_EQ(observer.started, 1);
    EXPECT_EQ(observer.total, 60);
    EXPECT_EQ(observer.rows, 60);
    EXPECT_EQ(observer.rewritten_rows, 0);
    EXPECT_EQ(observer.ended, 1);
  }
  EXPECT_EQ(Stored(), before);
}

TEST_P(ReadOnlyPasses, VerifyReadsTheValuesOfRowsWhoseKeyIsNull) {
  Insert(Key(1), SoundEnvelope(ReportText(500, 1)));
  test_db_->ExecDirect("insert into tqz_reports values (null, 'T', " + HexLiteral(CutEnvelope(ReportText(900, 2))) +
                       ")");
  test_db_->ExecDirect("insert into tqz_reports values (null, 'T', null)");
  TVerifyResult result;
  VerifyTable("tqz_reports", "acReportData", "", TRecompressOptions(), result);
  EXPECT_EQ(result.records, 3);
  EXPECT_EQ(result.compressed, 1);
  EXPECT_EQ(result.plain, 1);
  ASSERT_EQ(result.damaged_values.size(), 1u);
  EXPECT_EQ(result.damaged_values[0].key, "NULL");
  EXPECT_EQ(DamagedLine(result.damaged_values[0]).rfind("Damaged value, key NULL: the payload is cut short", 0), 0u);
}

TEST_P(ReadOnlyPasses, ACancelRequestStopsTheVerificationBetweenRows) {
  FillMixed(40);
  TVerifyResult result;
  CountingObserver observer;
  TRecompressOptions options;
  options.threads = 2;
  VerifyTable("tqz_reports", "acReportData", "", options, result,
              [](const TDamagedValue&) { RequestPassCancel(15); }, &observer);
  ResetPassCancel();
  EXPECT_TRUE(result.cancelled);
  EXPECT_EQ(result.damaged, 1);
  EXPECT_EQ(result.records, 5);  // the first damaged row is the fifth
  EXPECT_EQ(observer.ended, 1);
  // The next run starts afresh.
  VerifyTable("tqz_reports", "acReportData", "", options, result);
  EXPECT_FALSE(result.cancelled);
  EXPECT_EQ(result.records, 40);
}

TEST_P(ReadOnlyPasses, VerifyRaisesWhatAPassRaises) {
  TVerifyResult result;
  CountingObserver observer;
  EXPECT_THROW(VerifyTable("tqz_reports", "acTitle", "", TRecompressOptions(), result, {}, &observer), Exception);
  EXPECT_THROW(VerifyTable("tqz_reports", "acMissing", "", TRecompressOptions(), result), std::exception);
  EXPECT_THROW(VerifyTable("tqz_reports; drop table x", "acReportData", "", TRecompressOptions(), result),
               std::exception);
  EXPECT_EQ(observer.ended, 1);
}

// Another connection holds the file locked: the run gives up after its time
// limit and says so (SQLite: the file is locked, gave up after waiting 1 s;
// through the test server: the server did not answer within 1 s).
TEST_P(ReadOnlyPasses, TheTimeLimitHoldsForEveryStatement) {
  FillMixed(10);
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(test_db_->FilePath().c_str(), &raw), SQLITE_OK);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> locker(raw, sqlite3_close);
  ASSERT_EQ(sqlite3_exec(raw, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
  TRecompressOptions options;
  options.timeout_seconds = 1;
  TVerifyResult verified;
  try {
    VerifyTable("tqz_reports", "acReportData", "", options, verified);
    ADD_FAILURE() << "the verification read a locked table";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find(" 1 s"), std::string::npos) << e.what();
  }
  TEstimateResult estimated;
  EXPECT_THROW(EstimateTable("tqz_reports", "acReportData", "", options, 100, estimated), std::exception);
  sqlite3_exec(raw, "rollback", nullptr, nullptr, nullptr);
  // The connection keeps its own limit afterwards (a client that gave up on
  // the server has lost its connection and opens it again).
  EXPECT_EQ(database_->ClientConnection()->CommandTimeout(), 0);
  database_->SetConnected(false);
  database_->SetConnected(true);
  VerifyTable("tqz_reports", "acReportData", "", TRecompressOptions(), verified);
  EXPECT_EQ(verified.records, 10);
}

TEST_P(ReadOnlyPasses, EstimateBuildsWhatARealCompressPassStores) {
  FillMixed(50);
  // A value SQLite keeps as text is written back in its own storage class by
  // the timing probe's rollback.
  test_db_->ExecDirect("insert into tqz_reports values ('K2000', 'T', '" + ReportText(3000, 9) + "')");
  const auto before = Stored();
  const int64_t stored_before = StoredBytes();
  int64_t compressed_before = 0;
  for (int i = 0; i < 50; ++i)
    if (i % 5 == 1 || i % 5 == 2)
      compressed_before += static_cast<int64_t>(SoundEnvelope(ReportText(200 + 37 * static_cast<size_t>(i), static_cast<unsigned>(i))).size());

  TEstimateResult estimate;
  CountingObserver observer;
  EstimateTable("tqz_reports", "acReportData", "", TRecompressOptions(), 100, estimate, &observer);
  EXPECT_FALSE(estimate.cancelled);
  EXPECT_EQ(Stored(), before);
  EXPECT_EQ(estimate.records, 51);
  EXPECT_EQ(estimate.sampled_records, 51);
  EXPECT_EQ(estimate.stored_bytes, stored_before);
  EXPECT_EQ(estimate.compressed_bytes, compressed_before);
  EXPECT_GT(estimate.pass_seconds, 0);
  EXPECT_EQ(observer.rows, 51);
  EXPECT_EQ(observer.ended, 1);

  int32_t processed = 0, skipped = 0;
  ASSERT_TRUE(RecompressTable(false, 1, "tqz_reports", "acReportData", "", {}, processed, skipped));
  EXPECT_GT(processed, 0);
  EXPECT_EQ(estimate.bytes_after, StoredBytes());
  EXPECT_LT(estimate.bytes_after, estimate.stored_bytes);
}

TEST_P(ReadOnlyPasses, EstimateFromASampleReadsSomeRowsAndScalesToAll) {
  for (int i = 0; i < 300; ++i) Insert(Key(i), ReportText(2000, i));
  TEstimateResult estimate;
  EstimateTable("tqz_reports", "acReportData", "", TRecompressOptions(), 20, estimate);
  EXPECT_EQ(estimate.records, 300);
  // About 60 rows; far fewer than all, and some.
  EXPECT_GT(estimate.sampled_records, 20);
  EXPECT_LT(estimate.sampled_records, 120);
  EXPECT_EQ(estimate.stored_bytes, 300 * 2000);
  EXPECT_GT(estimate.bytes_after, 0);
  EXPECT_LT(estimate.bytes_after, estimate.stored_bytes / 2);
}

TEST_P(ReadOnlyPasses, EstimateRefusesASampleOutsideItsRange) {
  Insert(Key(1), ReportText(500, 1));
  TEstimateResult estimate;
  for (double percent : {0.0, -3.0, 100.5}) {
    SCOPED_TRACE(percent);
    EXPECT_THROW(EstimateTable("tqz_reports", "acReportData", "", TRecompressOptions(), percent, estimate),
                 Exception);
  }
}

INSTANTIATE_TEST_SUITE_P(Providers, ReadOnlyPasses, ::testing::ValuesIn(AvailableProviders()), ProviderName());

TEST(EstimateSummary, RoundsToHundredthsOfAMegabyteAndTenthsOfAMinute) {
  TEstimateResult r;
  r.records = 1234;
  r.stored_bytes = 10 * 1048576 + 524288;  // 10.5 MB
  r.bytes_after = 2 * 1048576 + 10486;     // 2.01 MB
  r.pass_seconds = 96;                     // 1.6 minutes
  EXPECT_EQ(EstimateSummary(r),
            "Estimate: 1234 records, 10.50 MB stored now, about 2.01 MB after compression (saves 8.49 MB, 81 %), "
            "about 1.6 minutes for the pass");
  // Envelopes may be a few bytes longer than the value they replace.
  r.stored_bytes = 1048576;
  r.bytes_after = 1048576 + 15 * 1000;
  r.pass_seconds = 0;
  EXPECT_EQ(EstimateSummary(r),
            "Estimate: 1234 records, 1.00 MB stored now, about 1.01 MB after compression (saves -0.01 MB, -1 %), "
            "about 0.0 minutes for the pass");
}

TEST(EstimateDuration, ReadsSensiblyFromUnderASecondToHours) {
  const std::pair<double, const char*> cases[] = {
      {0, "under a second"},          {0.4, "under a second"},      {1, "about 1 second"},
      {1.4, "about 1 second"},        {42.6, "about 43 seconds"},   {59.4, "about 59 seconds"},
      {59.6, "about 1 minute"},       {95, "about 2 minutes"},      {89 * 60, "about 89 minutes"},
      {90 * 60, "about 1.5 hours"},   {7.25 * 3600, "about 7.3 hours"},
  };
  for (const auto& [seconds, text] : cases) EXPECT_EQ(DurationText(seconds), text) << seconds;
}

TEST(EstimateLog, CountsTheNewAndTheOldBytesAndAnAllowancePerRow) {
  TEstimateResult r;
  r.rewritten_records = 1000;
  r.rewritten_stored_bytes = 300 * 1048576;
  r.rewritten_new_bytes = 40 * 1048576;
  EXPECT_EQ(EstimatedLogBytes(r), 340 * 1048576 + 1000 * kLogBytesPerRow);
  EXPECT_EQ(EstimatedLogBytes(TEstimateResult()), 0);
}

TEST(EstimateNotes, TellTheTimeAtTheRateLimitAndTheLog) {
  TEstimateResult r;
  r.stored_bytes = 600 * 1048576;
  r.rewritten_records = 2;
  r.rewritten_stored_bytes = 1048576;
  r.rewritten_new_bytes = 1048576 - 2 * kLogBytesPerRow;
  r.pass_seconds = 50;
  EXPECT_EQ(EstimateNotes(r, 0),
            "The pass would take about 50 seconds in the default mode, and write about 2.00 MB to the "
            "transaction log\n");
  // Reading 600 MB at 2.5 MB/s takes four minutes, however fast the rest is.
  EXPECT_EQ(EstimateNotes(r, 2.5),
            "The pass would take about 50 seconds in the default mode, about 4 minutes at /MAXRATE=2.5, and "
            "write about 2.00 MB to the transaction log\n");
  // A rate faster than the pass leaves its time as it is.
  EXPECT_NE(EstimateNotes(r, 100).find(", about 50 seconds at /MAXRATE=100, "), std::string::npos);
  r.cancelled = true;
  EXPECT_EQ(EstimateNotes(r, 2.5), "");
}

}  // namespace
}  // namespace tersify::testing
