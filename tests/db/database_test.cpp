// TvrDatabase: connect sequence and after-connect queries, type coupling,
// form loading, transactions and the overlapped-start report, SelectInteger,
// ExecSQL, CreateScript and destruction.

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "client/providers/sqlite/sqlite_registry.h"
#include "db/script.h"
#include "db/trans_log_thread.h"
#include "framework/rtl/platform.h"
#include "tests/db/layer_fixture.h"

namespace tersify::testing {
namespace {

using providers::RegisterScalarFunction;

// ---------------------------------------------------------------- connect

class DatabaseConnectTest : public ProviderLayerTest {};

TEST_P(DatabaseConnectTest, RecordsServerFactsAfterConnecting) {
  auto db = ConnectedDatabase();
  ASSERT_TRUE(db->Connected());
  const std::string version = db->IntConnectionMS()->ServerVersion();
  EXPECT_EQ(db->ServerMajorVersion(), std::stoi(version.substr(0, version.find('.'))));
  EXPECT_GT(db->ServerMajorVersion(), 0);
  EXPECT_GT(db->SPID(), 0);
  EXPECT_EQ(db->SPID(), db->SelectInteger("select @@SPID", -5));
  // Without the user function the query's own else branch answers 0.
  EXPECT_EQ(db->anUserID(), 0);
}

TEST_P(DatabaseConnectTest, UserIdComesFromTheRegisteredFunction) {
  auto user = RegisterScalarFunction("fQZ_UserGetCurrentUserID", [](const std::vector<Variant>&) {
    return Variant(17);
  });
  auto db = ConnectedDatabase();
  EXPECT_EQ(db->anUserID(), 17);
}

TEST_P(DatabaseConnectTest, FailingUserIdQueryGivesZeroAndKeepsTheConnection) {
  auto user = RegisterScalarFunction("fQZ_UserGetCurrentUserID", [](const std::vector<Variant>&) -> Variant {
    throw std::runtime_error("user lookup failed");
  });
  auto db = ConnectedDatabase();
  EXPECT_TRUE(db->Connected());
  EXPECT_EQ(db->anUserID(), 0);
}

TEST_P(DatabaseConnectTest, ConnectEventsFireFromTheClientConnection) {
  std::vector<std::pair<std::string, TObject*>> calls;
  auto before = [&](TObject* sender) { calls.emplace_back("before", sender); };
  auto after = [&](TObject* sender) { calls.emplace_back("after", sender); };
  auto disconnect = [&](TObject* sender) { calls.emplace_back("disconnect", sender); };
  auto db = MakeDatabase();
  db->BeforeConnect = TNotifyEvent::Of(before);
  db->AfterConnect = TNotifyEvent::Of(after);
  db->AfterDisconnect = TNotifyEvent::Of(disconnect);
  db->SetConnected(true);
  db->SetConnected(false);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].first, "before");
  EXPECT_EQ(calls[1].first, "after");
  EXPECT_EQ(calls[2].first, "disconnect");
  for (const auto& call : calls) EXPECT_EQ(call.second, db->IntConnectionMS());
  // Disconnecting keeps the client connection and what the connect recorded.
  EXPECT_FALSE(db->Connected());
  EXPECT_NE(db->IntConnectionMS(), nullptr);
  EXPECT_GT(db->SPID(), 0);
}

TEST_P(DatabaseConnectTest, SettingsWrittenWhileConnectedReachTheClientAtTheNextConnect) {
  auto db = ConnectedDatabase();
  const std::string username = db->Username();
  db->SetUsername("someone_else");
  db->SetConnectionPrompt(true);
  db->PrepareConnection();  // connected: nothing is copied
  EXPECT_EQ(db->IntConnectionMS()->Username(), username);
  EXPECT_FALSE(db->IntConnectionMS()->LoginPrompt());
  db->SetConnected(false);
  db->PrepareConnection();  // what the next connect starts with
  EXPECT_EQ(db->IntConnectionMS()->Username(), "someone_else");
  EXPECT_TRUE(db->IntConnectionMS()->LoginPrompt());
  // A reconnect with the original settings repeats the preparation.
  db->SetUsername(username);
  db->SetConnectionPrompt(false);
  db->SetMultipleActiveResultSets(true);
  db->SetConnected(true);
  EXPECT_TRUE(db->IntConnectionMS()->Options().MultipleActiveResultSets);
}

TEST_P(DatabaseConnectTest, ConnectedWrittenWhileLoadingIsIgnored) {
  auto db = MakeDatabase();
  db->BeginLoading();
  db->SetConnected(true);
  db->EndLoading();
  EXPECT_FALSE(db->Connected());
  // Outside loading the same settings connect.
  db->SetConnected(true);
  EXPECT_TRUE(db->Connected());
}

TEST_P(DatabaseConnectTest, FailedConnectRaisesAndKeepsTheRecordedFacts) {
  auto user = RegisterScalarFunction("fQZ_UserGetCurrentUserID", [](const std::vector<Variant>&) {
    return Variant(23);
  });
  auto db = ConnectedDatabase();
  const int spid = db->SPID();
  db->SetConnected(false);
  db->SetServer("sqlite");
  db->SetDatabaseName(Db().FilePath() + ".missing");
  EXPECT_THROW(db->SetConnected(true), Exception);
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ(db->SPID(), spid);
  EXPECT_EQ(db->anUserID(), 23);
}

INSTANTIATE_TEST_SUITE_P(Providers, DatabaseConnectTest, ::testing::ValuesIn(AvailableProviders()),
                         ProviderName());

// The "master" rule: the user-id query is left out for a database named
// master in any letter case, and only then. SQLite takes the name as a file
// path, so the files are made in a scratch directory that becomes current.
class MasterRuleTest : public LayerTest, public ::testing::WithParamInterface<std::pair<std::string, int>> {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    dir_ = std::filesystem::temp_directory_path() / ("tersify-master-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(dir_);
    LayerTest::TearDown();
  }
  std::filesystem::path dir_, previous_;
};

TEST_P(MasterRuleTest, UserIdQueryDependsOnTheDatabaseName) {
  const auto& [name, expected] = GetParam();
  { std::ofstream(dir_ / name); }  // an empty file is an empty SQLite database
  int calls = 0;
  auto user = RegisterScalarFunction("fQZ_UserGetCurrentUserID", [&](const std::vector<Variant>&) {
    ++calls;
    return Variant(42);
  });
  TvrDatabase db(nullptr);
  db.SetServer("sqlite");
  db.SetDatabaseName(name);
  db.SetConnected(true);
  EXPECT_EQ(db.anUserID(), expected);
  EXPECT_EQ(calls, expected == 42 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Names, MasterRuleTest,
                         ::testing::Values(std::make_pair(std::string("master"), 0),
                                           std::make_pair(std::string("Master"), 0),
                                           std::make_pair(std::string("MASTER"), 0),
                                           std::make_pair(std::string(" Master"), 42),
                                           std::make_pair(std::string("masters"), 42)));

// ---------------------------------------------------------------- type coupling

struct CouplingCase {
  const char* name;
  bool set_connection;  // else DatabaseType is written
  int start_connection, start_database, value;
  TvrconnType connection_after;
  TvrdbType database_after;
};

class TypeCouplingTest : public LayerTest, public ::testing::WithParamInterface<CouplingCase> {};

TEST_P(TypeCouplingTest, SetterCouplesTheOtherType) {
  const CouplingCase& c = GetParam();
  TvrDatabase db(nullptr);
  db.SetConnectionType(static_cast<TvrconnType>(c.start_connection));
  db.SetDatabaseType(static_cast<TvrdbType>(c.start_database));
  if (c.set_connection)
    db.SetConnectionType(static_cast<TvrconnType>(c.value));
  else
    db.SetDatabaseType(static_cast<TvrdbType>(c.value));
  EXPECT_EQ(db.ConnectionType(), c.connection_after);
  EXPECT_EQ(db.DatabaseType(), c.database_after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TypeCouplingTest,
    ::testing::Values(CouplingCase{"ConnODACGivesOracle", true, ctSDAC, vrdbtMSSQL, ctODAC, ctODAC, vrdbtOracle},
                      CouplingCase{"ConnODACNETGivesOracle", true, ctSDAC, vrdbtMSSQL, ctODACNET, ctODACNET,
                                   vrdbtOracle},
                      CouplingCase{"ConnSDACGivesMSSQL", true, ctODAC, vrdbtOracle, ctSDAC, ctSDAC, vrdbtMSSQL},
                      CouplingCase{"OracleOnSDACGivesODACNET", false, ctSDAC, vrdbtMSSQL, vrdbtOracle, ctODACNET,
                                   vrdbtOracle},
                      CouplingCase{"OracleKeepsODAC", false, ctODAC, vrdbtOracle, vrdbtOracle, ctODAC, vrdbtOracle},
                      CouplingCase{"MSSQLGivesSDAC", false, ctODAC, vrdbtOracle, vrdbtMSSQL, ctSDAC, vrdbtMSSQL},
                      CouplingCase{"SQLChangesNothingElse", false, ctSDAC, vrdbtMSSQL, vrdbtSQL, ctSDAC, vrdbtSQL},
                      CouplingCase{"SQLKeepsODAC", false, ctODAC, vrdbtOracle, vrdbtSQL, ctODAC, vrdbtSQL}),
    [](const ::testing::TestParamInfo<CouplingCase>& info) { return std::string(info.param.name); });

TEST_F(LayerTest, OracleConnectionTypesHaveNoClientConnection) {
  TvrDatabase db(nullptr);
  db.SetServer("sqlite");
  db.SetConnectionType(ctODAC);
  EXPECT_NO_THROW(db.SetConnected(true));
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(db.ClientConnection(), nullptr);
  EXPECT_EQ(db.IntConnectionMS(), nullptr);
  EXPECT_FALSE(db.InTransaction());
  EXPECT_EQ(db.TransactionCount(), -1);
  EXPECT_EQ(DualTableSuffix(), "");
  DefaultConnectionType = ctODAC;
  EXPECT_EQ(DualTableSuffix(), " from dual");
  DefaultConnectionType = ctSDAC;
}

TEST_P(DatabaseConnectTest, ChangingATypeWhileConnectedDisconnects) {
  auto db = ConnectedDatabase();
  db->SetDatabaseType(vrdbtSQL);
  EXPECT_FALSE(db->Connected());
  db->SetConnected(true);
  // Connecting makes the database type MS SQL again.
  EXPECT_EQ(db->DatabaseType(), vrdbtMSSQL);
  db->SetConnectionType(ctSDAC);
  EXPECT_FALSE(db->Connected());
}

// ---------------------------------------------------------------- preparation

TEST_F(LayerTest, ConstructionDefaults) {
  TvrDatabase db(nullptr);
  EXPECT_TRUE(db.AutoSetupDataSources());
  EXPECT_EQ(db.DatabaseType(), vrdbtMSSQL);
  EXPECT_EQ(db.ConnectionType(), ctSDAC);
  EXPECT_FALSE(db.Connected());
  EXPECT_TRUE(db.AutoCommit());
  EXPECT_EQ(db.DatasetSettings().FetchCount(), 50);
  EXPECT_FALSE(db.DatasetSettings().FetchAll());
  EXPECT_TRUE(db.DatasetSettings().QueryRecordCount());
  EXPECT_EQ(db.LCID(), GetUserDefaultLCID());
  EXPECT_EQ(db.IntConnectionMS(), nullptr);
  EXPECT_EQ(db.FetchMode(), 0);
  EXPECT_FALSE(db.PartialFetchAllowed());
  EXPECT_EQ(db.KeyProcSupport(), kpsUnknown);
  EXPECT_EQ(DefaultDatabase.load(), nullptr);  // construction never sets it
}

TEST_F(LayerTest, PrepareConnectionCopiesTheSettings) {
  TvrDatabase db(nullptr);
  db.SetUsername("sa");
  db.SetPassword("p;w}d");
  db.SetServer("host\\inst");
  db.SetDatabaseName("appdb");
  db.SetPort(14330);
  db.SetCommandTimeout(30);
  db.SpecificOptions().Add("Encrypt=yes");
  db.SetConnectionPrompt(true);
  db.SetUseWindowsAuthentication(true);
  db.SetMultipleActiveResultSets(true);
  EXPECT_TRUE(db.MultipleActiveResultSets());  // kept before any client connection exists
  int fired = 0;
  auto handler = [&](TObject*) { ++fired; };
  db.AfterConnect = TNotifyEvent::Of(handler);
  db.PrepareConnection();
  TMSConnection* client = db.IntConnectionMS();
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(client->Owner(), &db);
  EXPECT_EQ(client->Username(), "sa");
  EXPECT_EQ(client->Password(), "p;w}d");
  EXPECT_EQ(client->Server(), "host\\inst");
  EXPECT_EQ(client->Database(), "appdb");
  EXPECT_EQ(client->Port(), 14330);
  EXPECT_EQ(client->CommandTimeout(), 30);
  ASSERT_EQ(client->SpecificOptions().Count(), 1);
  EXPECT_EQ(client->SpecificOptions()[0], "Encrypt=yes");
  EXPECT_TRUE(client->LoginPrompt());
  EXPECT_EQ(client->IsolationLevel(), TIsolationLevel::ilReadUnCommitted);
  EXPECT_TRUE(client->Options().MultipleActiveResultSets);
  EXPECT_FALSE(client->Options().AutoTranslate);
  EXPECT_EQ(client->Authentication(), TMSAuthentication::auWindows);
  EXPECT_EQ(client->AfterConnect, db.AfterConnect);

  // An unassigned handler leaves the client's event as it was; the same client is kept.
  auto other = [&](TObject*) {};
  client->BeforeConnect = TNotifyEvent::Of(other);
  db.SetUseWindowsAuthentication(false);
  db.PrepareConnection();
  EXPECT_EQ(db.IntConnectionMS(), client);
  EXPECT_TRUE(client->BeforeConnect.Assigned());
  EXPECT_EQ(client->Authentication(), TMSAuthentication::auServer);
  // A new time limit reaches the existing client at once.
  db.SetCommandTimeout(5);
  EXPECT_EQ(client->CommandTimeout(), 5);
  // MultipleActiveResultSets now goes through the client.
  client->Options().MultipleActiveResultSets = false;
  EXPECT_FALSE(db.MultipleActiveResultSets());
}

// ---------------------------------------------------------------- transactions

class DatabaseTransactionTest : public ProviderLayerTest {
 protected:
  void SetUp() override {
    ProviderLayerTest::SetUp();
    Db().ExecDirect("create table t (id integer primary key, v integer)");
  }
  int Rows() {
    auto reader = ConnectedDatabase();
    return reader->SelectInteger("select count(*) from t", -1);
  }
};

TEST_P(DatabaseTransactionTest, DisconnectedComponentIgnoresTransactionCalls) {
  auto db = MakeDatabase();
  EXPECT_NO_THROW(db->StartTransaction());
  EXPECT_NO_THROW(db->Commit());
  EXPECT_NO_THROW(db->Rollback());
  EXPECT_FALSE(db->InTransaction());
  EXPECT_EQ(db->TransactionCount(), -1);
  EXPECT_FALSE(db->Connected());
}

TEST_P(DatabaseTransactionTest, StartCommitRollback) {
  auto db = ConnectedDatabase();
  EXPECT_EQ(db->TransactionCount(), 0);
  db->StartTransaction();
  EXPECT_TRUE(db->InTransaction());
  EXPECT_EQ(db->TransactionCount(), 1);
  db->ExecSQL("insert into t values (1, 1)");
  db->Rollback();
  EXPECT_FALSE(db->InTransaction());
  db->StartTransaction();
  db->ExecSQL("insert into t values (2, 2)");
  db->Commit();
  EXPECT_EQ(Rows(), 1);
}

// Receives the texts of the transaction-log saving threads.
struct SavedTexts {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> texts;
  std::vector<TObject*> senders;
  std::thread::id thread;
  void operator()(TObject* sender, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    texts.push_back(text);
    senders.push_back(sender);
    thread = std::this_thread::get_id();
    changed.notify_all();
  }
  bool WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return texts.size() >= count; });
  }
};

TEST_P(DatabaseTransactionTest, OverlappedStartIsReportedOnASavingThread) {
  SavedTexts saved;
  auto db = ConnectedDatabase();
  db->OnSaveTransToLog = TSaveTransToLogEvent::Of(saved);
  DefaultDatabase = db.get();
  db->StartTransaction();
  EXPECT_NO_THROW(db->StartTransaction());  // refused by the client, dropped here
  EXPECT_TRUE(db->InTransaction());
  ASSERT_TRUE(saved.WaitFor(1));
  EXPECT_TRUE(TSaveTransLogThread::WaitForAll(std::chrono::seconds(10)));
  std::lock_guard<std::mutex> lock(saved.mutex);
  ASSERT_EQ(saved.texts.size(), 1u);
  EXPECT_EQ(saved.texts[0], "Overlapped StartTransaction, TransactionCount = 1");
  EXPECT_EQ(saved.senders[0], db.get());
  EXPECT_NE(saved.thread, std::this_thread::get_id());
}

TEST_P(DatabaseTransactionTest, DestroyingWithAnOpenTransactionCommitsIt) {
  {
    auto db = ConnectedDatabase();
    db->StartTransaction();
    db->ExecSQL("insert into t values (1, 1)");
    db->ExecSQL("insert into t values (2, 2)");
  }
  EXPECT_EQ(Rows(), 2);
}

TEST_P(DatabaseTransactionTest, DestroyingTheDefaultDatabaseClearsIt) {
  auto db = ConnectedDatabase();
  DefaultDatabase = db.get();
  TvrDataset attached(nullptr);
  ASSERT_EQ(attached.Database(), db.get());
  ASSERT_TRUE(DatabaseRegistry->Contains(db.get()));
  const TvrDatabase* gone = db.get();
  db.reset();
  EXPECT_EQ(DefaultDatabase.load(), nullptr);
  EXPECT_FALSE(DatabaseRegistry->Contains(gone));
  EXPECT_EQ(attached.Database(), nullptr);  // not left pointing at the destroyed one
  TvrDataset later(nullptr);
  EXPECT_EQ(later.Database(), nullptr);
}

// ---------------------------------------------------------------- statements

TEST_P(DatabaseTransactionTest, SelectIntegerReturnsTheFirstFieldOrTheDefault) {
  auto db = ConnectedDatabase();
  EXPECT_EQ(db->SelectInteger("select 42, 7", -1), 42);
  EXPECT_EQ(db->SelectInteger("select v from t where id = 99", -3), -3);
  // The temporary dataset is gone afterwards, also after an error.
  EXPECT_THROW(db->SelectInteger("select nothing from missing_table", 0), Exception);
  EXPECT_EQ(db->ComponentCount(), 1);  // the client connection only
  EXPECT_EQ(DatasetRegistry->Count(), 0);
}

TEST_P(DatabaseTransactionTest, ExecSQLRunsTheTextThroughAScript) {
  auto db = ConnectedDatabase();
  db->ExecSQL("insert into t values (1, 5)");
  EXPECT_EQ(db->SelectInteger("select v from t where id = 1", 0), 5);
  EXPECT_THROW(db->ExecSQL("insert into missing_table values (1)"), Exception);
  EXPECT_EQ(ScriptRegistry->Count(), 0);
  EXPECT_EQ(db->ComponentCount(), 1);
}

TEST_P(DatabaseTransactionTest, BlankExecSQLSendsNothing) {
  auto sink = std::make_shared<RecordingSink>();
  TScopedLogSink scoped(sink);
  SQLTraceEnabled = true;
  auto executions = [&] {
    int n = 0;
    for (const auto& row : sink->Rows()) n += row.operation == "BeforeExecute";
    return n;
  };
  auto db = ConnectedDatabase();
  db->ExecSQL(" \t\r\n  ");
  EXPECT_EQ(executions(), 0);
  db->ExecSQL("insert into t values (3, 3)");
  EXPECT_EQ(executions(), 1);  // a text that is sent is traced
  // Not connected: nothing is sent either.
  auto closed = MakeDatabase();
  EXPECT_NO_THROW(closed->ExecSQL("insert into t values (4, 4)"));
  EXPECT_FALSE(closed->Connected());
  EXPECT_EQ(Rows(), 1);
}

INSTANTIATE_TEST_SUITE_P(Providers, DatabaseTransactionTest, ::testing::ValuesIn(AvailableProviders()),
                         ProviderName());

TEST_F(LayerTest, CreateScriptAttachesAndClearsCreatingScript) {
  TvrDatabase db(nullptr);
  TComponent owner(nullptr);
  TvrScript* owned_by_db = db.CreateScript(nullptr);
  EXPECT_EQ(owned_by_db->Owner(), &db);
  EXPECT_EQ(owned_by_db->Database(), &db);
  EXPECT_NE(owned_by_db->SQL(), nullptr);
  TvrScript* owned_elsewhere = db.CreateScript(&owner);
  EXPECT_EQ(owned_elsewhere->Owner(), &owner);
  EXPECT_FALSE(CreatingScript.Active);

  // A script made for an Oracle connection type has no internal query.
  TvrDatabase oracle(nullptr);
  oracle.SetConnectionType(ctODAC);
  TvrScript* none = oracle.CreateScript(nullptr);
  EXPECT_EQ(none->SQL(), nullptr);
  EXPECT_FALSE(CreatingScript.Active);
}

}  // namespace
}  // namespace tersify::testing
