// The program's pass while another session keeps writing the table: every
// value the other session committed survives the pass (plainly, or as an
// envelope that decodes to it), rows it deleted stay deleted, nothing is
// written into another row, and the counts add up.

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tool/pass_child_fixture.h"

namespace tersify::testing {
namespace {

constexpr int kRows = 40;
// Values of a megabyte keep the pass's window between reading a row and
// writing it wide.
constexpr size_t kRowSize = size_t{1} << 20;
// An envelope of a row's text is far shorter than this; a plain value never is.
constexpr int64_t kEnvelopeBelow = kRowSize / 3;
// Bounds of the writer's loop.
constexpr int kMostWrites = 4 * kRows;
constexpr int kMostDeletes = 3;

using WriterCase = std::tuple<std::string, std::string>;  // provider, command

class LiveWriter : public ::testing::TestWithParam<WriterCase> {
 protected:
  void SetUp() override {
    PreferMemoryBackedTemp();
    db_ = std::make_unique<PassChildDatabase>(std::get<0>(GetParam()));
  }
  bool Compressing() const { return std::get<1>(GetParam()) == "/c"; }
  // Whether a stored length says the pass has brought the row into its wanted form.
  bool Done(int64_t length) const {
    return Compressing() ? length < kEnvelopeBelow : length >= kEnvelopeBelow;
  }

  std::unique_ptr<PassChildDatabase> db_;
};

TEST_P(LiveWriter, EveryCommittedWriteOfTheOtherSessionSurvivesThePass) {
  const std::map<std::string, std::string> original = db_->Fill(kRows, kRowSize, !Compressing());
  // What the table must hold for each key when the pass is over: the original
  // value, the writer's last committed value, or nothing (deleted).
  std::map<std::string, std::optional<std::string>> expected(original.begin(), original.end());
  std::set<std::string> written;
  LiveTable& table = db_->Table();

  struct WriterValue {
    std::string plain, envelope;
  };
  std::vector<WriterValue> values(kMostWrites);
  for (int i = 0; i < kMostWrites; ++i) {
    WriterValue& v = values[static_cast<size_t>(i)];
    v.plain = RowText("writer " + std::to_string(i), kRowSize + 5000 + static_cast<size_t>(i));
    if (!Compressing() && i % 2 == 0) v.envelope = ZlibEnvelope(v.plain);
  }

  const std::unique_ptr<ChildProcess> pass = db_->StartPass(std::get<1>(GetParam()));
  int writes = 0, deletes = 0;
  int last_frontier = -1, moves_here = 0, step = 0;
  const auto deadline = std::chrono::steady_clock::now() + kChildLimit;
  while (pass->Running() && writes < kMostWrites && std::chrono::steady_clock::now() < deadline) {
    // The pass walks the rows in key order: the row after the last one it
    // brought into the wanted form (among the rows this writer left alone) is
    // the row it is working on.
    const std::map<std::string, int64_t> lengths = table.Lengths();
    int frontier = 0;
    for (int i = kRows - 1; i >= 0; --i) {
      const auto found = lengths.find(LiveKey(i));
      if (found != lengths.end() && !written.count(found->first) && Done(found->second)) {
        frontier = i + 1;
        break;
      }
    }
    // The moves take turns; at most four at one position of the pass, then
    // wait for it to move on.
    if (frontier != last_frontier) {
      last_frontier = frontier;
      moves_here = 0;
    }
    if (moves_here == 4) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    ++moves_here;
    const int move = step++ % 4;
    int target;
    switch (move) {
      case 0: target = frontier; break;      // the row being worked on
      case 1: target = frontier + 2; break;  // a row ahead
      case 2: target = frontier - 1; break;  // a row behind
      default: target = frontier + 1; break; // the next row, sometimes deleted
    }
    if (target < 0 || target >= kRows) continue;
    const std::string key = LiveKey(target);
    if (!expected[key]) continue;  // deleted already
    // A delete once the pass is past each quarter of the table.
    if (move == 3 && deletes < kMostDeletes && frontier >= (deletes + 1) * kRows / 4) {
      table.Delete(key);
      expected[key] = std::nullopt;
      ++deletes;
      continue;
    }
    // New text of another length, made before the pass so that the writer
    // keeps pace with it; on a decompress pass every other write is an
    // envelope, which the pass then has to decompress.
    const WriterValue& value = values[static_cast<size_t>(writes)];
    table.Put(key, !Compressing() && writes % 2 == 0 ? value.envelope : value.plain);
    expected[key] = value.plain;
    written.insert(key);
    ++writes;
  }
  ASSERT_TRUE(pass->WaitFor(kChildLimit)) << "the pass did not end";
  RecordProperty("writes", writes);
  RecordProperty("deletes", deletes);
  ASSERT_GT(writes, 0) << "the pass ended before the writer could write: the test proved nothing";

  EXPECT_EQ(pass->ExitCode(), 0) << pass->EndDescription() << "\n" << pass->Out() << pass->Err();
  const std::optional<PassCounts> counts =
      ParseCounts(pass->Out(), "Command completed successfully, ", "\n");
  ASSERT_TRUE(counts) << "standard output is not exactly the summary line: " << pass->Out();
  // The pass saw every row but, perhaps, the ones deleted before it reached them.
  const int seen = counts->processed + counts->skipped;
  EXPECT_LE(seen, kRows);
  EXPECT_GE(seen, kRows - deletes);
  const int changed = ChangedByAnotherSession(pass->Err());
  RecordProperty("changed_by_another_session", changed);
  EXPECT_LE(changed, counts->skipped) << pass->Err();

  EXPECT_EQ(table.CountRows(), kRows - deletes);
  for (const auto& [key, value] : expected) {
    const std::optional<std::string> stored = table.Stored(key);
    if (!value) {
      EXPECT_FALSE(stored) << key << " was deleted by the other session and is back";
      continue;
    }
    ASSERT_TRUE(stored) << key << " is gone";
    if (written.count(key)) {
      EXPECT_TRUE(Holds(*stored, *value))
          << key << ": the other session's committed value was overwritten";
    } else if (Compressing()) {
      const std::optional<std::string> opened = OpenEnvelope(*stored);
      EXPECT_TRUE(opened && *opened == *value) << key << " is not the envelope of its own value";
    } else {
      EXPECT_TRUE(*stored == *value) << key << " is not its own plain value";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Providers, LiveWriter,
    ::testing::Combine(::testing::ValuesIn(AvailableProviders()), ::testing::Values("/c", "/d")),
    [](const ::testing::TestParamInfo<WriterCase>& info) {
      return std::get<0>(info.param) +
             (std::get<1>(info.param) == "/c" ? "_Compress" : "_Decompress");
    });

}  // namespace
}  // namespace tersify::testing
