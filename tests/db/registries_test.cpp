// The layer's start-up and shutdown and its registries: what start-up
// creates, what shutdown destroys and in which order, and components that
// outlive the layer.

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "db/report_adapter.h"
#include "db/script.h"
#include "db/trans_log_thread.h"
#include "tests/db/layer_fixture.h"

namespace tersify::testing {
namespace {

// Start-up and shutdown are driven by the tests themselves here.
class RegistriesTest : public ::testing::Test {
 protected:
  void SetUp() override { ShutdownDatabaseLayer(); }
  void TearDown() override { ShutdownDatabaseLayer(); }
};

TEST_F(RegistriesTest, StartUpCreatesEveryRegistryAndClearsTheUnitState) {
  CreatingScript = {true, ctODAC};
  DefaultConnectionType = ctODACNET;
  StartDatabaseLayer();
  EXPECT_NE(DatasetRegistry, nullptr);
  EXPECT_NE(DatabaseRegistry, nullptr);
  EXPECT_NE(DataSourceRegistry, nullptr);
  EXPECT_NE(StoredProcRegistry, nullptr);
  EXPECT_NE(ScriptRegistry, nullptr);
  EXPECT_NE(ReportCompanions, nullptr);
  EXPECT_EQ(DefaultDatabase.load(), nullptr);
  EXPECT_EQ(DefaultConnectionType, ctSDAC);
  EXPECT_FALSE(CreatingScript.Active);
  EXPECT_EQ(DatasetRegistry->Count() + DatabaseRegistry->Count() + ReportCompanions->Count(), 0);
  ShutdownDatabaseLayer();
  EXPECT_EQ(DatasetRegistry, nullptr);
  EXPECT_EQ(DatabaseRegistry, nullptr);
  EXPECT_EQ(DataSourceRegistry, nullptr);
  EXPECT_EQ(StoredProcRegistry, nullptr);
  EXPECT_EQ(ScriptRegistry, nullptr);
  EXPECT_EQ(ReportCompanions, nullptr);
}

TEST_F(RegistriesTest, StartUpKeepsARegistryMadeOnFirstUse) {
  auto early = std::make_unique<TvrDatabase>(nullptr);  // before start-up
  ASSERT_NE(DatabaseRegistry, nullptr);
  StartDatabaseLayer();
  EXPECT_TRUE(DatabaseRegistry->Contains(early.get()));
  early.reset();
  EXPECT_EQ(DatabaseRegistry->Count(), 0);
}

TEST_F(RegistriesTest, ComponentsJoinAndLeaveTheirRegistries) {
  StartDatabaseLayer();
  {
    TvrDatabase db(nullptr);
    TvrScript script(nullptr);
    TvrStoredProc proc(nullptr);
    TvrDataset ds(nullptr);
    EXPECT_TRUE(DatabaseRegistry->Contains(&db));
    EXPECT_TRUE(ScriptRegistry->Contains(&script));
    EXPECT_TRUE(StoredProcRegistry->Contains(&proc));
    EXPECT_TRUE(DatasetRegistry->Contains(&ds));
    EXPECT_EQ(ReportCompanions->Count(), 1);
  }
  EXPECT_EQ(DatabaseRegistry->Count(), 0);
  EXPECT_EQ(ScriptRegistry->Count(), 0);
  EXPECT_EQ(StoredProcRegistry->Count(), 0);
  EXPECT_EQ(DatasetRegistry->Count(), 0);
  EXPECT_EQ(ReportCompanions->Count(), 0);
}

TEST_F(RegistriesTest, ShutdownDestroysTheDefaultDatabaseAndLeavesDatasetsToTheirOwners) {
  StartDatabaseLayer();
  TestDatabase test_db("sqlite");
  test_db.ExecDirect("create table t (id integer primary key); insert into t values (1)");
  TComponent application(nullptr);
  auto* db = MakeComponent<TvrDatabase>(&application);
  ConnectTo(*db, test_db);
  DefaultDatabase = db;
  // Datasets owned by a window and by another dataset, and one on the stack:
  // none of them belongs to the layer.
  {
    TComponent window(nullptr);
    auto* outer = MakeComponent<TvrDataset>(&window);
    outer->SetName("qOuter");
    MakeComponent<TvrDataset>(outer)->SetName("qInner");
    MakeComponent<TvrDataset>(&window);
    TvrDataset local(nullptr);
    local.SetSQLText("select id from t");
    local.Open();
    EXPECT_EQ(outer->Database(), db);
    EXPECT_EQ(DatasetRegistry->Count(), 4);
    EXPECT_EQ(ReportCompanions->Count(), 4);

    ShutdownDatabaseLayer();
    EXPECT_EQ(DefaultDatabase.load(), nullptr);
    EXPECT_EQ(application.ComponentCount(), 0);  // the default database left its owner
    EXPECT_EQ(DatasetRegistry, nullptr);
    EXPECT_EQ(ReportCompanions, nullptr);
    // Closed and detached, still alive and still owned.
    ASSERT_EQ(window.ComponentCount(), 2);
    EXPECT_EQ(outer->ComponentCount(), 1);
    for (TvrDataset* dataset : {outer, &local}) {
      EXPECT_FALSE(dataset->Active());
      EXPECT_EQ(dataset->Database(), nullptr);
      EXPECT_EQ(dataset->Connection(), nullptr);
    }
  }  // the window and the stack dataset go here, each once
  EXPECT_EQ(DatasetRegistry, nullptr);
}

TEST_F(RegistriesTest, ShutdownWaitsForSavingThreadsBeforeTheDefaultDatabaseGoes) {
  StartDatabaseLayer();
  auto* db = new TvrDatabase(nullptr);  // the layer's to destroy
  DefaultDatabase = db;
  std::atomic<bool> started{false}, finished{false}, database_alive_at_end{false};
  auto slow_handler = [&](TObject* sender, const std::string&) {
    started = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    database_alive_at_end = DatabaseRegistry && DatabaseRegistry->Contains(static_cast<TvrDatabase*>(sender));
    finished = true;
  };
  db->OnSaveTransToLog = TSaveTransToLogEvent::Of(slow_handler);
  TSaveTransLogThread::LogText("overlapped");
  while (!started) std::this_thread::yield();
  ShutdownDatabaseLayer();
  EXPECT_TRUE(finished);
  EXPECT_TRUE(database_alive_at_end);
  // Whatever happened above, no thread may outlive the handler it calls.
  EXPECT_TRUE(TSaveTransLogThread::WaitForAll(std::chrono::seconds(10)));
}

TEST_F(RegistriesTest, ComponentsDestroyedAfterShutdownLeaveSafely) {
  StartDatabaseLayer();
  TComponent window(nullptr);  // a window that outlives the layer
  auto* db = MakeComponent<TvrDatabase>(&window);
  auto* script = MakeComponent<TvrScript>(&window);
  auto* proc = MakeComponent<TvrStoredProc>(&window);
  script->SetDatabase(db);
  proc->SetDatabase(db);
  ShutdownDatabaseLayer();
  ASSERT_EQ(window.ComponentCount(), 3);
  // Destroying them later must neither crash nor bring the registries back.
  while (window.ComponentCount() > 0) {
    std::unique_ptr<TComponent> last(window.Components(window.ComponentCount() - 1));
  }
  EXPECT_EQ(DatabaseRegistry, nullptr);
  EXPECT_EQ(ScriptRegistry, nullptr);
  EXPECT_EQ(StoredProcRegistry, nullptr);
}

TEST_F(RegistriesTest, ShutdownWithoutStartUpIsHarmless) {
  EXPECT_NO_THROW(ShutdownDatabaseLayer());
  EXPECT_NO_THROW(StartDatabaseLayer());
  EXPECT_NO_THROW(StartDatabaseLayer());  // a second start keeps what exists
  EXPECT_NE(DatasetRegistry, nullptr);
}

TEST_F(RegistriesTest, StartUpTellsTheLogAboutTheLayer) {
  StartDatabaseLayer();
  SQLTraceEnabled = true;
  EXPECT_TRUE(LogTraceEnabled());
  SQLTraceEnabled = false;
  EXPECT_FALSE(LogTraceEnabled());

  TComponent other(nullptr);
  {
    TvrDataset ds(nullptr);
    ds.SetUpdatingTable("tqz_reports");
    ds.SQL().Add("select acReport");
    ds.SQL().Add("from tqz_reports");
    EXPECT_EQ(LogDescribeSender(&ds), "TableName --> tqz_reports\r\nSQL --> select acReport\r\nfrom tqz_reports\r\n");
    TvrScript script(nullptr);
    script.SQL()->Add("delete from t");
    EXPECT_EQ(LogDescribeSender(&script), "SQL --> delete from t\r\n");
    TvrStoredProc proc(nullptr);
    EXPECT_EQ(LogDescribeSender(&proc), "SP name --> ");
    EXPECT_EQ(LogDescribeSender(&other), "");
  }  // the datasets go before the layer shuts down
  ShutdownDatabaseLayer();
  SQLTraceEnabled = true;
  EXPECT_FALSE(LogTraceEnabled());  // no layer, no trace
  EXPECT_EQ(LogDescribeSender(&other), "");
  SQLTraceEnabled = false;
}

TEST(ComponentRegistry, KeepsOrderAndRemovesOnlyWhatIsThere) {
  TComponentRegistry<TComponent> registry;
  TComponent a(nullptr), b(nullptr), c(nullptr);
  registry.Add(&a);
  registry.Add(&b);
  registry.Add(&c);
  registry.Remove(&b);
  registry.Remove(&b);  // absent: nothing
  ASSERT_EQ(registry.Count(), 2);
  EXPECT_EQ(registry.Items(0), &a);
  EXPECT_EQ(registry.Items(1), &c);
  EXPECT_FALSE(registry.Contains(&b));
}

}  // namespace
}  // namespace tersify::testing
