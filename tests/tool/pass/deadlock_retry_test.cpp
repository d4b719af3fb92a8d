// A pass chosen as a deadlock victim through ODBC and the TDS test server: the
// rows whose writes the deadlock undid are read again and written, in the
// default mode and with /BATCH=, so that every row ends compressed once and
// the counts are what was committed; a deadlock that keeps coming ends the
// pass with its error after a few attempts.

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/database.h"
#include "db/registries.h"
#include "tests/db/layer_fixture.h"
#include "tests/tool/pass/report_table_fixture.h"
#include "tool/pass/deadlock_retry.h"
#include "tool/recompress.h"

namespace tersify::testing {
namespace {

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
// The pass's in-flight budget: groups of a few rows each.
constexpr int64_t kPassBudget = 48 << 10;

// A deadlock raised at a statement of a request: the statements of the
// request that ran before it, and how many the request had.
struct MidRequestDeadlock {
  int ran = 0, of = 0;
};

class DeadlockRetry : public ReportTableFixture<::testing::Test> {
 protected:
  void SetUp() override {
    if (!ProviderAvailable("odbc")) GTEST_SKIP() << "no ODBC driver for the TDS test server";
    OpenTable("odbc");
    FillTable(kRows, [](int) { return kValueBytes; });
    Connect();
  }

  struct Outcome {
    bool ok = false;
    int32_t processed = 0, skipped = 0;
    TRecompressReport report;
    std::map<std::string, int> writes;  // before_write calls per key
  };
  // A compress pass; groups of a few rows each (a small budget), batch_rows per transaction.
  Outcome Compress(int batch_rows) { return Pass(1, batch_rows); }
  // The same, decompressing (command 2).
  Outcome Pass(int32_t command, int batch_rows) {
    Outcome outcome;
    TRecompressOptions options;
    options.batch_rows = batch_rows;
    options.budget_bytes = kPassBudget;
    options.before_write = [&](const Variant& key) { ++outcome.writes[key.AsString()]; };
    outcome.ok = RecompressTable(false, command, "tqz_reports", "acReportData", "acReport", {}, outcome.processed,
                                 outcome.skipped, nullptr, options, &outcome.report);
    return outcome;
  }
  // Rows whose stored value is an envelope of their own text.
  int CompressedRows() const {
    int rows = 0;
    for (int i = 0; i < kRows; ++i) {
      const std::string stored = test_db_->StoredBytes("select acReportData from tqz_reports where acReport = '" +
                                                       ReportKey(i) + "'");
      if (Decoded(stored) == ReportText(kValueBytes, static_cast<unsigned>(i))) ++rows;
      else EXPECT_EQ(stored, ReportText(kValueBytes, static_cast<unsigned>(i))) << ReportKey(i) << ": neither its text nor its envelope";
    }
    return rows;
  }
  int Deadlocks() const {
    int deadlocks = 0;
    for (const std::string& line : test_db_->ServerLog())
      if (line.find("error: ") != std::string::npos && line.find("deadlock victim") != std::string::npos) ++deadlocks;
    return deadlocks;
  }
  // Every deadlock the server raised at a statement of a request, in order.
  std::vector<MidRequestDeadlock> MidRequestDeadlocks() const {
    std::vector<MidRequestDeadlock> found;
    for (const std::string& line : test_db_->ServerLog()) {
      const size_t at = line.find("deadlock victim: statement ");
      MidRequestDeadlock deadlock;
      if (at != std::string::npos && std::sscanf(line.c_str() + at, "deadlock victim: statement %*d of %d, after %d ran",
                                                 &deadlock.of, &deadlock.ran) == 2)
        found.push_back(deadlock);
    }
    return found;
  }
  // Keys told apart by how often they were written: writes[ReportKey(i)] for every row.
  std::vector<int> WritesByRow(const Outcome& outcome) const {
    std::vector<int> writes;
    for (int i = 0; i < kRows; ++i) {
      const auto found = outcome.writes.find(ReportKey(i));
      writes.push_back(found == outcome.writes.end() ? 0 : found->second);
    }
    return writes;
  }
  int ExpectGivingUp(int batch_rows, const std::function<void()>& keep_deadlocking);
  // A pass that ended well: every row told written once and compressed,
  // whatever was written again on the way.
  void ExpectEveryRowCompressedOnce(const Outcome& outcome) const {
    EXPECT_EQ(outcome.processed, kRows);
    EXPECT_EQ(outcome.skipped, 0);
    EXPECT_EQ(outcome.report.changed_rows + outcome.report.deleted_rows, 0);
    EXPECT_EQ(outcome.report.stored_bytes_read, static_cast<int64_t>(kRows * kValueBytes));
    EXPECT_EQ(CompressedRows(), kRows);
  }
  // Keys written more than once.
  static int WrittenAgain(const Outcome& outcome) {
    int again = 0;
    for (const auto& [key, writes] : outcome.writes) again += writes > 1 ? 1 : 0;
    return again;
  }
};

TEST_F(DeadlockRetry, TheRowsOfAGroupChosenAsVictimAreWrittenAgainInTheDefaultMode) {
  test_db_->DeadlockNextServerWrite("update tqz_reports", 2);
  const Outcome outcome = Compress(1);
  ASSERT_TRUE(outcome.ok);
  EXPECT_EQ(Deadlocks(), 1);
  EXPECT_GT(WrittenAgain(outcome), 0);
  ExpectEveryRowCompressedOnce(outcome);
}

TEST_F(DeadlockRetry, TheWholeBatchAVictimLostIsReadAgainAndWritten) {
  ASSERT_TRUE(Compress(1).ok);
  ASSERT_EQ(CompressedRows(), kRows);
  // Decompressing, a page of envelopes holds several groups of plain values,
  // so that the third group's request is in the batch of the two before it
  // however soon the next page arrives: when it fails, their rows are rolled
  // back too.
  test_db_->DeadlockNextServerWrite("update tqz_reports", 2);
  const Outcome outcome = Pass(2, 40);
  ASSERT_TRUE(outcome.ok);
  EXPECT_EQ(Deadlocks(), 1);
  // A group of plain values ends at the row that reaches a quarter of the
  // budget: the failed one held at most this many rows.
  const int most_group_rows = static_cast<int>(kPassBudget / 4 / static_cast<int64_t>(kValueBytes)) + 1;
  // More rows than the failed group alone are written again.
  EXPECT_GT(WrittenAgain(outcome), most_group_rows);
  EXPECT_EQ(outcome.processed, kRows);
  EXPECT_EQ(outcome.report.changed_rows + outcome.report.deleted_rows, 0);
  EXPECT_EQ(CompressedRows(), 0) << "every row holds its plain text again";
}

// Each row of a group is its update and the SELECT of its count.
constexpr int kStatementsPerRow = 2;
// The victim is the pass's eighth update: the first pages are read small (1
// row, then 4), so it stands third in the group of the third page.
constexpr int kUpdatesBeforeVictim = 7;

// Where a victim chosen in the middle of a group stood, by rows in key order
// (each row before it updated once): its group's first row, its own, and the
// end of its group.
struct VictimPlace {
  int first = 0, victim = 0, end = 0;
};
VictimPlace PlaceOf(const std::vector<MidRequestDeadlock>& deadlocks) {
  if (deadlocks.empty()) return {};
  const MidRequestDeadlock& d = deadlocks.front();
  const int first = kUpdatesBeforeVictim - d.ran / kStatementsPerRow;
  return {first, kUpdatesBeforeVictim, first + d.of / kStatementsPerRow};
}

// A victim in the middle of a group, in the default mode and with a batch.
struct MidGroupVictim {
  const char* name;
  int batch_rows;
};

class DeadlockMidGroup : public DeadlockRetry, public ::testing::WithParamInterface<MidGroupVictim> {};

TEST_P(DeadlockMidGroup, RowsLostAreWrittenAgainAndRowsCommittedAreNot) {
  const bool batched = GetParam().batch_rows > 1;
  test_db_->DeadlockNextServerStatement("update tqz_reports", kUpdatesBeforeVictim);
  const Outcome outcome = Compress(GetParam().batch_rows);
  ASSERT_TRUE(outcome.ok);
  EXPECT_EQ(Deadlocks(), 1);
  const std::vector<MidRequestDeadlock> mid = MidRequestDeadlocks();
  ASSERT_EQ(mid.size(), 1u);
  // Rows of its group stood before the victim, and after it.
  const VictimPlace place = PlaceOf(mid);
  ASSERT_LT(place.first, place.victim);
  ASSERT_LT(place.victim + 1, place.end);
  // The rows written twice run up to the end of the victim's group. In the
  // default mode they start at the victim: the rows before it were committed
  // and told written. With a batch they are the open batch, which holds the
  // rows of the group before the victim too, though they were answered.
  const std::vector<int> writes = WritesByRow(outcome);
  int lost_from = 0;
  while (lost_from < kRows && writes[lost_from] == 1) ++lost_from;
  if (batched) {
    EXPECT_LE(lost_from, place.first);
  } else {
    EXPECT_EQ(lost_from, place.victim);
  }
  for (int i = 0; i < kRows; ++i) EXPECT_EQ(writes[i], i >= lost_from && i < place.end ? 2 : 1) << ReportKey(i);
  ExpectEveryRowCompressedOnce(outcome);
}

INSTANTIATE_TEST_SUITE_P(Modes, DeadlockMidGroup,
                         ::testing::Values(MidGroupVictim{"EachRowOnItsOwn", 1}, MidGroupVictim{"Batched", 40}),
                         [](const ::testing::TestParamInfo<MidGroupVictim>& info) {
                           return std::string(info.param.name);
                         });

// What the counts call written is what the table holds, and a second run
// completes the table; returns the rows the failed pass wrote.
int DeadlockRetry::ExpectGivingUp(int batch_rows, const std::function<void()>& keep_deadlocking) {
  keep_deadlocking();
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

// A deadlock that keeps coming, from the second request that writes on or
// from the middle of a group on.
struct KeepsDeadlocking {
  const char* name;
  int batch_rows;
  bool mid_group;
};

class DeadlockKeepsComing : public DeadlockRetry, public ::testing::WithParamInterface<KeepsDeadlocking> {};

TEST_P(DeadlockKeepsComing, EndsThePassWithTrueCounts) {
  const KeepsDeadlocking& c = GetParam();
  const int times = 1 + TDeadlockRetry::kMostRetries;
  const int written = ExpectGivingUp(c.batch_rows, [&] {
    if (c.mid_group) test_db_->DeadlockNextServerStatement("update tqz_reports", kUpdatesBeforeVictim, times);
    else test_db_->DeadlockNextServerWrite("update tqz_reports", 1, times);
  });
  const std::vector<MidRequestDeadlock> mid = MidRequestDeadlocks();
  if (!c.mid_group) {
    EXPECT_TRUE(mid.empty());
    // In the default mode the first group was written before the deadlocks began.
    if (c.batch_rows == 1) {
      EXPECT_GT(written, 0);
    }
    return;
  }
  // The first victim's request ran the rows of its group before it; the
  // attempts after it fail at their first update.
  ASSERT_EQ(mid.size(), static_cast<size_t>(times));
  const VictimPlace place = PlaceOf(mid);
  EXPECT_LT(place.first, place.victim);
  for (size_t i = 1; i < mid.size(); ++i) EXPECT_EQ(mid[i].ran, 0);
  // Kept: every row before the victim in the default mode. With a batch, not
  // those of its group it had written; the rows before its group only when
  // their batch was committed at the end of their page, which it is when the
  // next page had not arrived yet (else the batch goes on over the page).
  if (c.batch_rows == 1) {
    EXPECT_EQ(written, place.victim);
  } else {
    EXPECT_TRUE(written == 0 || written == place.first) << written << " of " << place.first;
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, DeadlockKeepsComing,
                         ::testing::Values(KeepsDeadlocking{"FromTheSecondRequest", 1, false},
                                           KeepsDeadlocking{"FromTheSecondRequestOfABatch", 40, false},
                                           KeepsDeadlocking{"FromTheMiddleOfAGroup", 1, true},
                                           KeepsDeadlocking{"FromTheMiddleOfAGroupOfABatch", 40, true}),
                         [](const ::testing::TestParamInfo<KeepsDeadlocking>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace tersify::testing
