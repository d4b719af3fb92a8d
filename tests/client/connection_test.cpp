// The connection against every provider: connecting, the login prompt, errors
// with the provider's message, transactions and the server's fixed statements.

#include <ctime>
#include <regex>
#include <vector>

#include "client/providers/sqlite/sqlite_registry.h"
#include "tests/client/client_fixture.h"

namespace tersify::testing {
namespace {

class ConnectionTest : public ClientTest {
 protected:
  // Settings under which connecting must fail: a missing file for the
  // embedded provider, a port nobody listens on for a server.
  void BreakSettings() {
    if (LowerCase(Connection().Server()) == "sqlite")
      Connection().SetDatabase(Db().FilePath() + ".missing/none.db");
    else
      Connection().SetPort(1);
    Connection().SetLoginTimeout(5);
  }

  std::vector<std::string> events_;
};

TEST_P(ConnectionTest, OpenAndCloseFireTheirEventsInOrder) {
  auto before_connect = [this](TObject* s) { events_.push_back(s == &Connection() ? "BC" : "?"); };
  auto after_connect = [this](TObject*) { events_.push_back(Connection().Connected() ? "AC" : "AC-closed"); };
  auto before_disconnect = [this](TObject*) { events_.push_back("BD"); };
  auto after_disconnect = [this](TObject*) { events_.push_back(Connection().Connected() ? "AD-open" : "AD"); };
  Connection().BeforeConnect = TNotifyEvent::Of(before_connect);
  Connection().AfterConnect = TNotifyEvent::Of(after_connect);
  Connection().BeforeDisconnect = TNotifyEvent::Of(before_disconnect);
  Connection().AfterDisconnect = TNotifyEvent::Of(after_disconnect);

  Connection().SetConnected(true);
  EXPECT_TRUE(Connection().Connected());
  Connection().Open();  // already open: nothing fires
  Connection().SetConnected(false);
  EXPECT_FALSE(Connection().Connected());
  EXPECT_EQ(events_, (std::vector<std::string>{"BC", "AC", "BD", "AD"}));
}

TEST_P(ConnectionTest, LoginPromptWithoutHookCancelsTheOpen) {
  SetLoginPromptHook(nullptr);
  auto after_connect = [this](TObject*) { events_.push_back("AC"); };
  Connection().AfterConnect = TNotifyEvent::Of(after_connect);
  Connection().SetLoginPrompt(true);
  EXPECT_THROW(Connection().Open(), EAbort);
  EXPECT_FALSE(Connection().Connected());
  EXPECT_TRUE(events_.empty());
}

TEST_P(ConnectionTest, LoginPromptCancelledByTheUserFailsAndAcceptedPromptConnects) {
  int prompts = 0;
  std::string right_database = Connection().Database();
  SetLoginPromptHook([&](TMSConnection& c, TLoginValues& values) {
    ++prompts;
    EXPECT_EQ(&c, &Connection());
    if (prompts == 1) return false;
    values.database = right_database;  // the user corrects the value
    return true;
  });
  Connection().SetDatabase(Db().FilePath() + ".typo");
  Connection().SetLoginPrompt(true);
  try {
    Connection().Open();
    ADD_FAILURE() << "a cancelled prompt must fail the open";
  } catch (const EAbort& e) {
    EXPECT_EQ(e.Message(), "Operation aborted");
  }
  EXPECT_FALSE(Connection().Connected());

  Connection().Open();
  SetLoginPromptHook(nullptr);
  EXPECT_TRUE(Connection().Connected());
  EXPECT_EQ(prompts, 2);
  EXPECT_EQ(Connection().Database(), right_database);
}

TEST_P(ConnectionTest, FailedConnectRaisesTheProviderErrorThroughOnError) {
  BreakSettings();
  int calls = 0;
  std::string seen;
  auto on_error = [&](TObject* sender, EDAError& e, bool& fail) {
    ++calls;
    EXPECT_EQ(sender, &Connection());
    EXPECT_TRUE(fail);
    seen = e.Message();
  };
  Connection().OnError = TDAConnectionErrorEvent::Of(on_error);
  try {
    Connection().Open();
    ADD_FAILURE() << "connecting must fail";
  } catch (const EMSError& e) {
    EXPECT_FALSE(e.Message().empty());
    EXPECT_EQ(e.Message(), seen);
  }
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(Connection().Connected());
}

TEST_P(ConnectionTest, OnErrorClearingFailTurnsTheFailureIntoASilentAbort) {
  BreakSettings();
  auto on_error = [](TObject*, EDAError&, bool& fail) { fail = false; };
  Connection().OnError = TDAConnectionErrorEvent::Of(on_error);
  EXPECT_THROW(Connection().Open(), EAbort);
  EXPECT_FALSE(Connection().Connected());
}

TEST_P(ConnectionTest, StatementErrorsCarryTheProviderMessage) {
  auto query = Query("select * from no_such_table");
  try {
    query->Open();
    ADD_FAILURE() << "the query must fail";
  } catch (const EMSError& e) {
    EXPECT_NE(e.Message().find("no_such_table"), std::string::npos) << e.Message();
  }
  EXPECT_FALSE(query->Active());
}

TEST_P(ConnectionTest, TransactionsRefuseOverlapAndClosedConnection) {
  for (auto op : {&TMSConnection::StartTransaction, &TMSConnection::Commit, &TMSConnection::Rollback}) {
    try {
      (Connection().*op)();
      ADD_FAILURE() << "a closed connection has no transactions";
    } catch (const EDAError& e) {
      EXPECT_EQ(e.Message(), "Operation is not allowed when the connection is closed");
    }
  }
  Db().ExecDirect("create table t (id integer primary key, name varchar(20))");
  Connection().Open();
  EXPECT_FALSE(Connection().InTransaction());
  EXPECT_EQ(Scalar("select @@TRANCOUNT").AsInteger(), 0);

  Connection().StartTransaction();
  EXPECT_TRUE(Connection().InTransaction());
  EXPECT_EQ(Scalar("select @@TRANCOUNT").AsInteger(), 1);
  try {
    Connection().StartTransaction();
    ADD_FAILURE() << "a second transaction must be refused";
  } catch (const EDAError& e) {
    EXPECT_EQ(e.Message(), "User transaction is already in progress");
  }
  Query("insert into t values (1, 'rolled back')")->Execute();
  Connection().Rollback();
  EXPECT_FALSE(Connection().InTransaction());
  EXPECT_EQ(Scalar("select count(*) from t").AsInteger(), 0);

  Connection().StartTransaction();
  Query("insert into t values (2, 'kept')")->Execute();
  Connection().Commit();
  EXPECT_EQ(Scalar("select name from t").AsString(), "kept");
  EXPECT_EQ(Scalar("select @@TRANCOUNT").AsInteger(), 0);
}

// A pass that commits batch after batch keeps its connection in a transaction
// in between: the commit that opens the next one must still commit, the next
// one must hold only what follows, and an unused one must end cleanly. Across
// a network each costs one request.
TEST_P(ConnectionTest, ACommitThatOpensTheNextTransactionCommitsAndHoldsOnlyWhatFollows) {
  Db().ExecDirect("create table t (id integer primary key, name varchar(20))");
  Connection().Open();
  const bool server = Db().Provider() == "odbc";
  auto tm_requests = [&] { return server ? Db().ServerRequests().transaction_manager : 0; };

  Connection().StartTransaction();
  Query("insert into t values (1, 'first')")->Execute();
  uint64_t before = tm_requests();
  Connection().CommitAndStartNext();
  EXPECT_EQ(tm_requests() - before, server ? 1u : 0u) << "the commit and the next begin travel together";
  EXPECT_TRUE(Connection().InTransaction());
  EXPECT_EQ(Scalar("select @@TRANCOUNT").AsInteger(), 1);
  EXPECT_EQ(Db().StoredBytes("select name from t where id = 1"), "first") << "committed: another reader sees it";

  Query("insert into t values (2, 'undone')")->Execute();
  Connection().Rollback();
  EXPECT_FALSE(Connection().InTransaction());
  EXPECT_EQ(Scalar("select count(*) from t").AsInteger(), 1);
  EXPECT_EQ(Scalar("select @@TRANCOUNT").AsInteger(), 0);

  Connection().StartTransaction();
  Query("insert into t values (3, 'second')")->Execute();
  Connection().CommitAndStartNext();
  before = tm_requests();
  Connection().EndUnusedTransaction();
  EXPECT_EQ(tm_requests() - before, server ? 1u : 0u) << "an unused transaction ends in one request";
  EXPECT_FALSE(Connection().InTransaction());
  EXPECT_EQ(Scalar("select @@TRANCOUNT").AsInteger(), 0);
  EXPECT_EQ(Db().StoredBytes("select name from t where id = 3"), "second");
  // Back in autocommit: a write is there for every reader at once.
  Query("insert into t values (4, 'at once')")->Execute();
  EXPECT_EQ(Db().StoredBytes("select name from t where id = 4"), "at once");
  for (auto op : {&TMSConnection::CommitAndStartNext, &TMSConnection::EndUnusedTransaction}) {
    try {
      (Connection().*op)();
      ADD_FAILURE() << "there is no transaction to end";
    } catch (const EDAError&) {
    }
  }
}

TEST_P(ConnectionTest, ServerVersionConnectsFirst) {
  ASSERT_FALSE(Connection().Connected());
  const std::string version = Connection().ServerVersion();
  EXPECT_TRUE(Connection().Connected());
  EXPECT_TRUE(std::regex_match(version, std::regex(R"(\d+(\.\d+)+)"))) << version;
}

TEST_P(ConnectionTest, EveryIsolationLevelIsAccepted) {
  for (TIsolationLevel level : {TIsolationLevel::ilReadCommitted, TIsolationLevel::ilReadUnCommitted,
                                TIsolationLevel::ilRepeatableRead, TIsolationLevel::ilIsolated,
                                TIsolationLevel::ilSnapshot}) {
    Connection().SetIsolationLevel(level);
    Connection().Open();
    EXPECT_TRUE(Connection().Connected());
    Connection().Close();
  }
}

TEST_P(ConnectionTest, FixedStatementsOfTheLayerAnswer) {
  Connection().Open();
  EXPECT_GT(Scalar("select @@SPID").AsInteger(), 0);

  const std::string user_query =
      "if object_id('dbo.fQZ_UserGetCurrentUserID') is not null   SELECT "
      "dbo.fQZ_UserGetCurrentUserID() else   SELECT 0";
  EXPECT_EQ(Opened(user_query)->Fields(0)->AsInteger(), 0);
  {
    auto fn = providers::RegisterScalarFunction("fQZ_UserGetCurrentUserID",
                                                [](const std::vector<Variant>&) { return Variant(42); });
    EXPECT_EQ(Opened(user_query)->Fields(0)->AsInteger(), 42);
  }

  // SQLite's version text of three parts gives null, read as 0; SQL Server's
  // ProductVersion has four parts (the test server claims 16.0.1000.6).
  auto probe = Opened(
      "select convert(tinyint, parsename(cast(serverproperty('ProductVersion') as varchar(30)), 4))");
  EXPECT_EQ(probe->RecordCount(), 1);
  EXPECT_EQ(probe->Fields(0)->AsInteger(), GetParam() == "sqlite" ? 0 : 16);

  auto proc = providers::RegisterProcedure("pQZ_Probe", {}, [](providers::Provider&, std::vector<Variant>&) {
    return std::unique_ptr<providers::Cursor>();
  });
  EXPECT_NE(Opened("select Object_ID('pQZ_Probe')")->Fields(0)->AsInteger(), 0);
  EXPECT_EQ(Opened("select Object_ID('fQZ_GetPksFieldsAndProc')")->Fields(0)->AsInteger(), 0);

  // GetDate() is the server's clock: today, give or take the time zone.
  const double now = static_cast<double>(std::time(nullptr)) / 86400.0 + 25569.0;
  const double server_now = Opened("select GetDate()")->Fields(0)->AsDateTime().value;
  EXPECT_NEAR(server_now, now, 1.0);
}

TEST_P(ConnectionTest, ExecStatementCallsTheProcedureWithItsArguments) {
  Db().ExecDirect("create table calls (a integer, b varchar(20))");
  auto proc = providers::RegisterProcedure(
      "pQZ_SysSetConInfoRC",
      {{"a", ftInteger, providers::ParamDirection::Input}, {"b", ftString, providers::ParamDirection::Input}},
      [](providers::Provider& p, std::vector<Variant>& args) {
        p.Execute("insert into calls values (?, ?)", {args[0], args[1]});
        return std::unique_ptr<providers::Cursor>();
      });
  Query("exec pQZ_SysSetConInfoRC 2, 1")->Execute();
  Query("exec pQZ_SysSetConInfoRC 2, 'x'")->Execute();
  auto rows = Opened("select a, b from calls order by b");
  ASSERT_EQ(rows->RecordCount(), 2);
  EXPECT_EQ(rows->Fields(0)->AsInteger(), 2);
  EXPECT_EQ(rows->Fields(1)->AsString(), "1");
  rows->Next();
  EXPECT_EQ(rows->Fields(1)->AsString(), "x");
}

TEST_P(ConnectionTest, PrimaryKeyIsAskedOncePerTableWhileOpen) {
  Db().ExecDirect("create table t (id integer primary key, name varchar(20))");
  Connection().Open();
  EXPECT_EQ(Connection().PrimaryKeyOf("t"), std::vector<std::string>{"id"});
  Db().ExecDirect("drop table t; create table t (a integer, b integer, primary key (b, a))");
  EXPECT_EQ(Connection().PrimaryKeyOf("T"), std::vector<std::string>{"id"});  // kept
  Connection().Close();
  Connection().Open();
  EXPECT_EQ(Connection().PrimaryKeyOf("t"), (std::vector<std::string>{"b", "a"}));
}

TEST_P(ConnectionTest, ClosingTheConnectionClosesItsDatasetsAndDestroyingItDetachesThem) {
  Db().ExecDirect("create table t (id integer primary key)");
  auto query = Opened("select id from t");
  Connection().Close();
  EXPECT_FALSE(query->Active());
  query->Open();  // connects again on demand
  EXPECT_TRUE(Connection().Connected());
  connection_.reset();
  EXPECT_FALSE(query->Active());
  EXPECT_EQ(query->Connection(), nullptr);
  EXPECT_THROW(query->Open(), EDatabaseError);
}

INSTANTIATE_TEST_SUITE_P(Providers, ConnectionTest, ::testing::ValuesIn(AvailableProviders()),
                         ProviderName());

}  // namespace
}  // namespace tersify::testing
