// Statement time limits against every provider: a server that stops answering
// (odbc) or a file another process holds locked (sqlite) ends a statement with
// a readable error once the connection's or the dataset's limit has passed; a
// server that goes away mid-session gives the lost-connection text.

#include <sqlite3.h>

#include <chrono>
#include <memory>

#include "tests/client/client_fixture.h"

namespace tersify::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Keeps the database from answering while it lives: a frozen TDS test server
// for "odbc", the SQLite file held by another connection's exclusive
// transaction for "sqlite".
class Stall {
 public:
  explicit Stall(TestDatabase& db) : db_(db) {
    if (db.Provider() == "odbc") {
      db.SetServerFrozen(true);
      return;
    }
    if (sqlite3_open_v2(db.FilePath().c_str(), &holder_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_exec(holder_, "begin exclusive", nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error("cannot lock the test database");
  }
  ~Stall() { Release(); }
  void Release() {
    if (db_.Provider() == "odbc") db_.SetServerFrozen(false);
    if (holder_) {
      sqlite3_exec(holder_, "rollback", nullptr, nullptr, nullptr);
      sqlite3_close(holder_);
      holder_ = nullptr;
    }
  }

 private:
  TestDatabase& db_;
  sqlite3* holder_ = nullptr;
};

class TimeLimitTest : public ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    db_->ExecDirect("create table t(id integer primary key, v text); insert into t values(1, 'a')");
  }

  // What a statement stalled past a limit of `seconds` says.
  std::string StalledText(int seconds) const {
    if (GetParam() == "sqlite")
      return "the database file is locked by another process; gave up after waiting " +
             std::to_string(seconds) + " s";
    return "the server did not answer within " + std::to_string(seconds) + " s";
  }

  // Opens the query and returns the error's message; fails the test when it opens.
  // The error must say it is a time limit or a lost connection, whatever its words.
  static std::string OpenFailure(TMSQuery& query) {
    try {
      query.Open();
    } catch (const EMSError& e) {
      EXPECT_TRUE(e.IsTimeoutOrLostConnection()) << e.SQLState() << ": " << e.Message();
      return e.Message();
    }
    ADD_FAILURE() << "the query opened";
    return {};
  }
};

TEST_P(TimeLimitTest, StalledStatementFailsAfterTheConnectionsLimit) {
  Connection().SetCommandTimeout(1);
  Connection().Open();
  auto query = Query("select v from t");
  Stall stall(*db_);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(OpenFailure(*query), StalledText(1));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(900));
  EXPECT_FALSE(query->Active());
}

TEST_P(TimeLimitTest, DatasetLimitWinsOverTheConnectionsAndLeavesItUnchanged) {
  Connection().SetCommandTimeout(0);  // forever
  Connection().Open();
  auto query = Query("select v from t");
  query->SetCommandTimeout(1);
  {
    Stall stall(*db_);
    EXPECT_EQ(OpenFailure(*query), StalledText(1));
  }
  EXPECT_EQ(Connection().CommandTimeout(), 0);
  // A server that never answered has had its connection cut (it counts as
  // closed); a connection still open has its own limit back.
  if (Connection().Connected()) {
    EXPECT_EQ(Connection().GetProvider().CommandTimeout(), 0);
  }
}

TEST_P(TimeLimitTest, LimitSetOnAnOpenConnectionAppliesToItsNextStatement) {
  Connection().Open();
  Connection().SetCommandTimeout(2);
  auto query = Query("select v from t");
  Stall stall(*db_);
  EXPECT_EQ(OpenFailure(*query), StalledText(2));
}

TEST_P(TimeLimitTest, AfterATimeoutTheConnectionWorksOrSaysItIsLost) {
  Connection().SetCommandTimeout(1);
  Connection().Open();
  auto query = Query("select v from t");
  {
    Stall stall(*db_);
    EXPECT_EQ(OpenFailure(*query), StalledText(1));
  }
  auto again = Query("select v from t");
  try {
    again->Open();
    EXPECT_EQ(again->Fields(0)->AsString(), "a");
  } catch (const EMSError& e) {
    EXPECT_EQ(e.Message().rfind("the connection to the server was lost", 0), 0u) << e.Message();
  }
}

TEST_P(TimeLimitTest, StatementOnAConnectionWhoseServerWentAwaySaysItWasLost) {
  if (GetParam() != "odbc") GTEST_SKIP() << "an embedded database cannot go away";
  Connection().SetCommandTimeout(5);
  Connection().Open();
  db_->StopServer();
  auto query = Query("select v from t");
  const std::string message = OpenFailure(*query);
  EXPECT_EQ(message.rfind("the connection to the server was lost", 0), 0u) << message;
  EXPECT_EQ(message.find("Unknown error"), std::string::npos) << message;
}

TEST_P(TimeLimitTest, ServerGoneWhileRowsAreReadSaysTheConnectionWasLost) {
  if (GetParam() != "odbc") GTEST_SKIP() << "an embedded database cannot go away";
  db_->ExecDirect("create table many(id integer primary key, pad text);"
                  "with recursive n(i) as (select 1 union all select i + 1 from n where i < 20000) "
                  "insert into many select i, printf('%0200d', i) from n;");
  Connection().Open();
  providers::Provider& provider = Connection().GetProvider();
  auto cursor = provider.Execute("select id, pad from many order by id", {});
  ASSERT_TRUE(cursor->Next());
  db_->StopServer();
  try {
    while (cursor->Next()) (void)cursor->Value(1);
    ADD_FAILURE() << "every row arrived although the server went away";
  } catch (const EMSError& e) {
    EXPECT_EQ(e.Message().rfind("the connection to the server was lost", 0), 0u) << e.Message();
    EXPECT_EQ(e.Message().find("Unknown error"), std::string::npos) << e.Message();
    EXPECT_TRUE(e.IsTimeoutOrLostConnection()) << e.SQLState();
  }
}

INSTANTIATE_TEST_SUITE_P(Providers, TimeLimitTest, ::testing::ValuesIn(AvailableProviders()),
                         ProviderName());

}  // namespace
}  // namespace tersify::testing
