// The program's pass on a table where things go wrong around it: keys that
// cannot name one row, keys that differ only by a trailing blank, a server
// that stops answering, a lost connection, a file locked by another process,
// a full disk. The pass ends with a message and its counts, never waits without
// end, and never leaves a row half-written or written into another.

#include <signal.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/tds_server_process.h"
#include "tests/tool/pass_child_fixture.h"

namespace tersify::testing {
namespace {

constexpr int kRows = 40;
constexpr size_t kRowSize = size_t{1} << 20;
// An envelope of a row's text is far shorter than this; a plain value never is.
constexpr int64_t kEnvelopeBelow = kRowSize / 3;
const char kCriticalError[] = "Critical error occured:\n";
// The rows of one request at most (the writer's group).
constexpr int kMostGroupRows = 525;

bool StartsWith(const std::string& text, const std::string& lead) {
  return text.compare(0, lead.size(), lead) == 0;
}

// Every row still holds its own value, plainly or as an envelope.
void ExpectEveryRowHoldsItsValue(LiveTable& table, const std::map<std::string, std::string>& values) {
  for (const auto& [key, value] : values) {
    const std::optional<std::string> stored = table.Stored(key);
    ASSERT_TRUE(stored) << key << " is gone";
    EXPECT_TRUE(Holds(*stored, value)) << key << " holds neither its value nor an envelope of it";
  }
}

// ---- Keys that do not name one row, keys that differ by a blank -----------

using KeyCase = std::tuple<std::string, std::string>;  // provider, command

class KeyEdges : public ::testing::TestWithParam<KeyCase> {
 protected:
  void SetUp() override {
    PreferMemoryBackedTemp();
    db_ = std::make_unique<PassChildDatabase>(std::get<0>(GetParam()));
  }
  bool Compressing() const { return std::get<1>(GetParam()) == "/c"; }
  // A value as the pass finds it: plain before a compress pass, an envelope
  // before a decompress pass.
  std::string AsFound(const std::string& plain) const {
    return Compressing() ? plain : ZlibEnvelope(plain);
  }
  std::unique_ptr<PassChildDatabase> db_;
};

TEST_P(KeyEdges, NullKeysAreSkippedAndKeysDifferingByATrailingBlankKeepTheirOwnValues) {
  const std::string null_one = RowText("null key one", 3000);
  const std::string null_two = RowText("null key two", 3100);
  std::map<std::string, std::string> keyed = {{"A", RowText("A", 3200)}, {"B", RowText("B", 3400)}};
  // SQL Server ignores trailing blanks when it compares keys, so that "A "
  // cannot stand beside "A" there; SQLite keeps them apart.
  const bool blanks_count = std::get<0>(GetParam()) == "sqlite";
  if (blanks_count) keyed["A "] = RowText("A and a blank", 3300);
  LiveTable& table = db_->Table();
  table.InsertNullKey(AsFound(null_one));
  table.Insert("A", AsFound(keyed.at("A")));
  table.InsertNullKey(AsFound(null_two));
  if (blanks_count) table.Insert("A ", AsFound(keyed.at("A ")));
  table.Insert("B", AsFound(keyed.at("B")));
  const std::vector<std::string> null_rows_before = table.StoredWhere("acKey is null");

  const std::unique_ptr<ChildProcess> pass = db_->StartPass(std::get<1>(GetParam()));
  ASSERT_TRUE(pass->WaitFor(kChildLimit)) << "the pass did not end";
  EXPECT_EQ(pass->ExitCode(), 0) << pass->EndDescription() << "\n" << pass->Out() << pass->Err();
  const std::optional<PassCounts> counts =
      ParseCounts(pass->Out(), "Command completed successfully, ", "\n");
  ASSERT_TRUE(counts) << pass->Out();
  EXPECT_EQ(counts->processed, static_cast<int>(keyed.size()));
  EXPECT_EQ(counts->skipped, 2) << "the rows whose key is NULL are skipped and counted";

  // A row with a NULL key cannot be told from the other: neither is written.
  EXPECT_EQ(table.StoredWhere("acKey is null"), null_rows_before);
  for (const auto& [key, plain] : keyed) {
    const std::optional<std::string> stored = table.Stored(key);
    ASSERT_TRUE(stored) << "'" << key << "' is gone";
    if (Compressing()) {
      const std::optional<std::string> opened = OpenEnvelope(*stored);
      EXPECT_TRUE(opened && *opened == plain) << "'" << key << "' is not the envelope of its own value";
    } else {
      EXPECT_TRUE(*stored == plain) << "'" << key << "' is not its own plain value";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Providers, KeyEdges,
    ::testing::Combine(::testing::ValuesIn(AvailableProviders()), ::testing::Values("/c", "/d")),
    [](const ::testing::TestParamInfo<KeyCase>& info) {
      return std::get<0>(info.param) +
             (std::get<1>(info.param) == "/c" ? "_Compress" : "_Decompress");
    });

// ---- A server that stops answering, a connection that is lost --------------

// The pass through a tds-test-server of its own, which the test can freeze
// and kill.
class ServerFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ProviderAvailable("odbc"))
      GTEST_SKIP() << "FreeTDS's ODBC driver is not installed";
    PreferMemoryBackedTemp();
    db_ = std::make_unique<PassChildDatabase>("sqlite");
    values_ = db_->Fill(kRows, kRowSize);
    server_ = std::make_unique<TdsServerProcess>(db_->File());
  }

  // Runs a compress pass through the server with /TIMEOUT=2, lets it rewrite
  // two rows, then does to the server what fail says, and waits for the end.
  // Returns how long the pass went on after that.
  std::chrono::milliseconds PassUntilTheServerFails(void (TdsServerProcess::*fail)()) {
    pass_ = StartPassOver(server_->ConnectionArguments(), "/c", {"/TIMEOUT=2"});
    EXPECT_TRUE(WaitForRowsBelow(db_->Table(), *pass_, 2, kEnvelopeBelow))
        << "the pass ended before the server failed: " << pass_->EndDescription() << "\n"
        << pass_->Out() << pass_->Err();
    const auto failed_at = std::chrono::steady_clock::now();
    ((*server_).*fail)();
    EXPECT_TRUE(pass_->WaitFor(kChildLimit)) << "the pass waited without end";
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - failed_at);
    // A frozen server holds what it was doing; killed, its file rolls back the
    // write it had not committed, and a pass still waiting for it ends.
    server_->Kill();
    pass_->WaitFor(kChildLimit);
    return waited;
  }

  // Exit 1, the message on standard output, the counts on standard error, and
  // the rows done before the failure still done.
  void ExpectFailedPassWithCounts(const std::string& message_part) {
    EXPECT_EQ(pass_->ExitCode(), 1) << pass_->EndDescription();
    EXPECT_TRUE(StartsWith(pass_->Out(), kCriticalError)) << pass_->Out();
    EXPECT_NE(pass_->Out().find(message_part), std::string::npos)
        << "the message does not say what happened: " << pass_->Out();
    const std::optional<PassCounts> counts = CountsBeforeTheError(pass_->Err());
    ASSERT_TRUE(counts) << "no counts on standard error: " << pass_->Err();
    EXPECT_EQ(counts->skipped, 0);
    // The writes of the request the server ran just before it went away (the
    // rows of one group, each committed on its own) may never have been
    // confirmed to the program.
    const int envelopes = db_->Table().CountShorterThan(kEnvelopeBelow);
    EXPECT_GE(envelopes, counts->processed) << "a row counted as processed is not rewritten";
    EXPECT_LE(envelopes, counts->processed + kMostGroupRows);
    ExpectEveryRowHoldsItsValue(db_->Table(), values_);
  }

  std::unique_ptr<PassChildDatabase> db_;
  std::map<std::string, std::string> values_;
  std::unique_ptr<TdsServerProcess> server_;
  std::unique_ptr<ChildProcess> pass_;
};

TEST_F(ServerFailure, AServerThatStopsAnsweringEndsThePassAfterTheTimeLimit) {
  const std::chrono::milliseconds waited = PassUntilTheServerFails(&TdsServerProcess::Freeze);
  // Two seconds asked; the bound leaves room for the driver's cancel round.
  EXPECT_LT(waited, std::chrono::seconds(20)) << "the time limit was not applied";
  ExpectFailedPassWithCounts("did not answer within 2 s");
}

TEST_F(ServerFailure, ALostConnectionEndsThePassWithItsCounts) {
  PassUntilTheServerFails(&TdsServerProcess::Kill);
  ExpectFailedPassWithCounts("connection to the server was lost");
}

TEST_F(ServerFailure, GivingUpOnAServerThatStopsAnsweringTakesTheTimeLimitAndASecond) {
  // The driver alone cancels at the limit and then waits as long again for
  // the cancel's answer.
  pass_ = StartPassOver(server_->ConnectionArguments(), "/c", {"/TIMEOUT=6"});
  ASSERT_TRUE(WaitForRowsBelow(db_->Table(), *pass_, 2, kEnvelopeBelow)) << pass_->Out() << pass_->Err();
  const auto frozen_at = std::chrono::steady_clock::now();
  server_->Freeze();
  const bool ended = pass_->WaitFor(kChildLimit);
  const auto waited = std::chrono::steady_clock::now() - frozen_at;
  server_->Kill();
  ASSERT_TRUE(ended) << "the pass waited without end";
  EXPECT_LT(waited, std::chrono::seconds(6 + 1 + 2)) << "gave up after twice the time limit";
  ExpectFailedPassWithCounts("did not answer within 6 s");
}

TEST_F(ServerFailure, ACancelEndsAPassWaitingForAServerThatStopsAnswering) {
  pass_ = StartPassOver(server_->ConnectionArguments(), "/c", {"/TIMEOUT=0"});
  ASSERT_TRUE(WaitForRowsBelow(db_->Table(), *pass_, 2, kEnvelopeBelow)) << pass_->Out() << pass_->Err();
  server_->Freeze();
  // The pass is now inside a request that nothing else would ever end.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  pass_->Signal(SIGINT);
  const bool ended = pass_->WaitFor(std::chrono::seconds(15));
  server_->Kill();
  if (!ended) pass_->Signal(SIGKILL);
  ASSERT_TRUE(ended) << "a cancel did not end a pass waiting for the server";
  EXPECT_EQ(pass_->ExitCode(), 128 + SIGINT) << pass_->EndDescription() << "\n" << pass_->Out() << pass_->Err();
  const std::optional<PassCounts> counts = ParseCounts(pass_->Out(), "Cancelled, ", "\n");
  ASSERT_TRUE(counts) << pass_->Out();
  const int envelopes = db_->Table().CountShorterThan(kEnvelopeBelow);
  EXPECT_GE(envelopes, counts->processed);
  // The group in flight may have been written by the server and never confirmed.
  EXPECT_LE(envelopes, counts->processed + kMostGroupRows);
  ExpectEveryRowHoldsItsValue(db_->Table(), values_);
}

// Batches larger than a page, holding enough bytes that the test server's
// writer locks its file whole before it commits: the pass never waits for the
// next page, read on its second connection, with a batch open (it waited for
// the time limit and failed before).
TEST(BatchAcrossPages, ABatchLargerThanAPageCompletesThroughTheTestServer) {
  if (!ProviderAvailable("odbc"))
    GTEST_SKIP() << "FreeTDS's ODBC driver is not installed";
  PreferMemoryBackedTemp();
  PassChildDatabase db("sqlite");
  const std::map<std::string, std::string> values = db.Fill(2000, 40000);
  TdsServerProcess server(db.File());
  const std::unique_ptr<ChildProcess> pass =
      StartPassOver(server.ConnectionArguments(), "/c", {"/BATCH=500", "/TIMEOUT=5"});
  ASSERT_TRUE(pass->WaitFor(kChildLimit)) << "the pass did not end";
  EXPECT_EQ(pass->ExitCode(), 0) << pass->EndDescription() << "\n" << pass->Out() << pass->Err();
  const std::optional<PassCounts> counts = ParseCounts(pass->Out(), "Command completed successfully, ", "\n");
  ASSERT_TRUE(counts) << pass->Out() << pass->Err();
  EXPECT_EQ(counts->processed, 2000);
  EXPECT_EQ(db.Table().CountShorterThan(20000), 2000) << "every value is an envelope now";
  ExpectEveryRowHoldsItsValue(db.Table(), values);
}

TEST_F(ServerFailure, AVerifyWaitingForAServerThatStopsAnsweringEndsAfterTheTimeLimit) {
  pass_ = StartPassOver(server_->ConnectionArguments(), "/verify", {"/TIMEOUT=3"});
  ASSERT_TRUE(PollUntil([&] { return server_->Log().find("tm begin") != std::string::npos || !pass_->Running(); },
                        kChildLimit));
  server_->Freeze();
  const auto frozen_at = std::chrono::steady_clock::now();
  ASSERT_TRUE(pass_->Running()) << "the verification ended before the server froze: " << pass_->Out();
  const bool ended = pass_->WaitFor(std::chrono::seconds(30));
  const auto waited = std::chrono::steady_clock::now() - frozen_at;
  server_->Kill();
  if (!ended) pass_->Signal(SIGKILL);
  ASSERT_TRUE(ended) << "the verification waited without end";
  EXPECT_LT(waited, std::chrono::seconds(3 + 1 + 3));
  EXPECT_EQ(pass_->ExitCode(), 1) << pass_->EndDescription() << "\n" << pass_->Out() << pass_->Err();
  EXPECT_NE(pass_->Out().find("did not answer within 3 s"), std::string::npos) << pass_->Out();
}

// In a deadlock with the application, SQL Server is to pick the pass: every
// request of its writes lowers its own priority (for itself alone, a scope of
// its own), and the session's priority is left as it was.
TEST_F(ServerFailure, EveryWriteOfThePassAsksToBeTheDeadlockVictim) {
  pass_ = StartPassOver(server_->ConnectionArguments(), "/c", {"/TIMEOUT=30", "/BATCH=50"});
  ASSERT_TRUE(pass_->WaitFor(kChildLimit)) << "the pass did not end";
  EXPECT_EQ(pass_->ExitCode(), 0) << pass_->Out() << pass_->Err();
  const std::string log = server_->Log();
  int writes = 0;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(start, end - start);
    start = end + 1;
    const size_t update = line.find("update ");
    if (update == std::string::npos) continue;
    ++writes;
    const size_t scope = line.find("rpc sp_executesql: ");
    EXPECT_NE(scope, std::string::npos) << "a write outside a scope of its own: " << line;
    const size_t lowered = line.find("set deadlock_priority low;");
    EXPECT_LT(scope, lowered) << line;
    EXPECT_LT(lowered, update) << line;
  }
  EXPECT_GT(writes, 0) << log.substr(0, 4000);
  EXPECT_EQ(log.find("SET DEADLOCK_PRIORITY"), std::string::npos) << "the session's own priority is changed";
}

// ---- A server that freezes between the requests of a batch -----------------

int Occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// Begin, commit and the switch back to autocommit are requests of their own:
// a server that stops answering there ends the pass within its time limit too.
TEST(FrozenBatch, AServerFrozenAtACommitEndsTheBatchedPassWithinTheTimeLimit) {
  if (!ProviderAvailable("odbc"))
    GTEST_SKIP() << "FreeTDS's ODBC driver is not installed";
  PreferMemoryBackedTemp();
  constexpr int kBatch = 200;
  PassChildDatabase db("sqlite");
  const std::map<std::string, std::string> values = db.Fill(5 * kBatch, 3000);
  TdsServerProcess server(db.File());
  const std::unique_ptr<ChildProcess> pass =
      StartPassOver(server.ConnectionArguments(), "/c", {"/BATCH=" + std::to_string(kBatch), "/TIMEOUT=5"});
  ASSERT_TRUE(PollUntil([&] { return Occurrences(server.Log(), "tm commit") >= 3 || !pass->Running(); },
                        kChildLimit));
  server.Freeze();
  const auto frozen_at = std::chrono::steady_clock::now();
  ASSERT_TRUE(pass->Running()) << "the pass ended before the server froze: " << pass->Out() << pass->Err();
  const bool ended = pass->WaitFor(std::chrono::seconds(30));
  const auto waited = std::chrono::steady_clock::now() - frozen_at;
  server.Kill();  // its open transaction rolls back with the file's journal
  if (!ended) pass->Signal(SIGKILL);
  ASSERT_TRUE(ended) << "the pass waited without end for a frozen server";
  EXPECT_LT(waited, std::chrono::seconds(5 + 1 + 3));
  EXPECT_EQ(pass->ExitCode(), 1) << pass->EndDescription();
  EXPECT_TRUE(StartsWith(pass->Out(), kCriticalError)) << pass->Out();
  EXPECT_NE(pass->Out().find("did not answer within 5 s"), std::string::npos) << pass->Out();
  const std::optional<PassCounts> counts = CountsBeforeTheError(pass->Err());
  ASSERT_TRUE(counts) << pass->Err();
  db.CloseTable();
  LiveTable table(db.File());
  const int envelopes = table.CountShorterThan(2000);
  if (pass->Err().find(" rows may or may not have been written; run /verify") != std::string::npos) {
    // The commit itself got no answer: those rows are not counted either way.
    EXPECT_GE(envelopes, counts->processed);
    EXPECT_LE(envelopes, counts->processed + kBatch);
  } else {
    EXPECT_EQ(envelopes, counts->processed) << pass->Err();
  }
  EXPECT_GT(counts->processed, 0) << "the batches committed before are not counted";
  ExpectEveryRowHoldsItsValue(table, values);
}

// ---- A SQLite file locked by another process -------------------------------

TEST(SqliteLocked, AFileLockedByAnotherProcessEndsThePassAfterTheTimeLimit) {
  PreferMemoryBackedTemp();
  PassChildDatabase db("sqlite");
  const std::map<std::string, std::string> values = db.Fill(kRows, kRowSize);
  const std::unique_ptr<ChildProcess> pass = db.StartPass("/c", {"/TIMEOUT=1"});
  ASSERT_TRUE(WaitForRowsBelow(db.Table(), *pass, 2, kEnvelopeBelow))
      << "the pass ended before the file was locked: " << pass->EndDescription() << "\n"
      << pass->Out() << pass->Err();
  // This process takes the file for itself until the pass has ended.
  ASSERT_TRUE(db.Table().TakeFileExclusively(kChildLimit)) << "the file could not be taken";
  const auto locked_at = std::chrono::steady_clock::now();
  if (!pass->Running()) db.Table().Exec("rollback");
  ASSERT_TRUE(pass->Running()) << "the pass ended before the file was taken: " << pass->Out();
  const bool ended = pass->WaitFor(kChildLimit);
  const auto waited = std::chrono::steady_clock::now() - locked_at;
  db.Table().Exec("rollback");
  ASSERT_TRUE(ended) << "the pass waited without end";
  // One second asked; the file's own default wait is far longer.
  EXPECT_LT(waited, std::chrono::seconds(8)) << "the time limit was not applied";

  EXPECT_EQ(pass->ExitCode(), 1) << pass->EndDescription() << "\n" << pass->Out() << pass->Err();
  EXPECT_TRUE(StartsWith(pass->Out(), kCriticalError)) << pass->Out();
  EXPECT_NE(pass->Out().find("locked by another process"), std::string::npos)
      << "the message does not say what happened: " << pass->Out();
  const std::optional<PassCounts> counts = CountsBeforeTheError(pass->Err());
  ASSERT_TRUE(counts) << "no counts on standard error: " << pass->Err();
  EXPECT_EQ(counts->skipped, 0);
  EXPECT_EQ(db.Table().CountShorterThan(kEnvelopeBelow), counts->processed);
  ExpectEveryRowHoldsItsValue(db.Table(), values);
}

// ---- A full disk -------------------------------------------------------------

// A tmpfs of its own, mounted for the test (root only) and made just large
// enough for the database once it is filled.
class DiskFull : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/tersify-full-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    if (mount("tmpfs", folder_.c_str(), "tmpfs", 0, "size=64m,mode=0700") != 0) {
      const std::string reason = std::strerror(errno);
      rmdir(folder_.c_str());
      folder_.clear();
      GTEST_SKIP() << "a small tmpfs cannot be mounted here (" << reason
                   << "); the full-disk case needs root";
    }
  }
  void TearDown() override {
    db_.reset();
    if (folder_.empty()) return;
    umount2(folder_.c_str(), MNT_DETACH);
    rmdir(folder_.c_str());
  }

  // The test database in the tmpfs.
  void CreateDatabase() {
    const char* saved = std::getenv("TMPDIR");
    const std::string previous = saved ? saved : "";
    setenv("TMPDIR", folder_.c_str(), 1);
    db_ = std::make_unique<PassChildDatabase>(GetParam());
    if (saved) setenv("TMPDIR", previous.c_str(), 1); else unsetenv("TMPDIR");
  }

  // Shrinks the tmpfs to what it holds plus headroom.
  void LeaveRoom(uint64_t headroom) {
    struct statvfs s {};
    ASSERT_EQ(statvfs(folder_.c_str(), &s), 0);
    const uint64_t used = (s.f_blocks - s.f_bfree) * s.f_frsize;
    const uint64_t size = (used + headroom + 4095) / 4096 * 4096;
    const std::string options = "size=" + std::to_string(size);
    ASSERT_EQ(mount("tmpfs", folder_.c_str(), "tmpfs", MS_REMOUNT, options.c_str()), 0)
        << std::strerror(errno);
  }

  std::string folder_;
  std::unique_ptr<PassChildDatabase> db_;
};

TEST_P(DiskFull, AFullDiskEndsThePassWithItsCountsAndTheRowsBeforeItIntact) {
  CreateDatabase();
  constexpr int kEnvelopedRows = 24;
  const std::map<std::string, std::string> values =
      db_->Fill(kEnvelopedRows, kRowSize, /*as_envelopes=*/true);
  // Room for a couple of megabyte-sized plain values, not for all of them.
  LeaveRoom(2 * kRowSize + kRowSize / 2);

  const std::unique_ptr<ChildProcess> pass = db_->StartPass("/d");
  ASSERT_TRUE(pass->WaitFor(kChildLimit)) << "the pass did not end";
  EXPECT_EQ(pass->ExitCode(), 1) << pass->EndDescription() << "\n" << pass->Out() << pass->Err();
  EXPECT_TRUE(StartsWith(pass->Out(), kCriticalError)) << pass->Out();
  const std::optional<PassCounts> counts = CountsBeforeTheError(pass->Err());
  ASSERT_TRUE(counts) << "no counts on standard error: " << pass->Err();
  EXPECT_GE(counts->processed, 1) << "the disk was full before the pass began";
  EXPECT_LT(counts->processed, kEnvelopedRows);
  EXPECT_EQ(counts->skipped, 0);
  const int plain_rows = kEnvelopedRows - db_->Table().CountShorterThan(kEnvelopeBelow);
  EXPECT_EQ(plain_rows, counts->processed);
  ExpectEveryRowHoldsItsValue(db_->Table(), values);
}

INSTANTIATE_TEST_SUITE_P(Providers, DiskFull, ::testing::ValuesIn(AvailableProviders()),
                         ProviderName());

}  // namespace
}  // namespace tersify::testing
