// Automatic data-source setup on a real SQLite database: which data sources a
// connect sets up, what the new dataset takes from its source, and the
// lifetimes of sources, databases and registries.

#include <memory>

#include "db/data_source_setup.h"
#include "framework/rtl/platform.h"
#include "tests/db/layer_fixture.h"

namespace tersify::testing {
namespace {

class DataSourceSetupTest : public LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    test_db_ = std::make_unique<TestDatabase>("sqlite");
    test_db_->ExecDirect("create table t (id integer primary key, name text); insert into t values (1, 'a'), (2, 'b')");
  }
  void TearDown() override {
    LayerTest::TearDown();
    test_db_.reset();
  }
  std::unique_ptr<TvrDatabase> MakeDatabase() {
    auto db = std::make_unique<TvrDatabase>(nullptr);
    ConnectTo(*db, *test_db_);
    return db;
  }
  std::unique_ptr<TvrDataSource> MakeSource(TvrDatabase* db) {
    auto source = std::make_unique<TvrDataSource>(nullptr);
    source->SetDatabase(db);
    source->SQL().Add("select id, name from t");
    return source;
  }
  std::unique_ptr<TestDatabase> test_db_;
};

TEST_F(DataSourceSetupTest, ConnectGivesABoundSourceAReadyDatasetThatIsNotOpened) {
  auto db = MakeDatabase();
  db->DatasetSettings().SetFetchCount(77);
  auto source = MakeSource(db.get());
  int scrolls = 0;
  auto on_scroll = [&](TDataSet*) { ++scrolls; };
  source->AfterScroll = TDataSetNotifyEvent::Of(on_scroll);

  db->SetConnected(true);
  auto* dataset = dynamic_cast<TvrDataset*>(source->DataSet());
  ASSERT_NE(dataset, nullptr);
  EXPECT_EQ(dataset->Owner(), source.get());
  EXPECT_EQ(dataset->Database(), db.get());
  EXPECT_EQ(dataset->Connection(), db->ClientConnection());
  EXPECT_FALSE(dataset->Active());
  EXPECT_EQ(dataset->FetchRows(), 77);
  EXPECT_TRUE(dataset->FetchAll());
  EXPECT_FALSE(dataset->QueryRecCount());
  EXPECT_EQ(dataset->SQL().Text(), source->SQL().Text());
  EXPECT_EQ(dataset->AfterScroll, source->AfterScroll);
  EXPECT_FALSE(dataset->BeforeScroll);

  dataset->Open();
  EXPECT_EQ(dataset->RecordCount(), 2);
  dataset->Next();
  EXPECT_GT(scrolls, 0);
}

TEST_F(DataSourceSetupTest, OnlyBoundSourcesWithoutAnOpenDatasetAreSetUp) {
  auto db = MakeDatabase();
  auto other = MakeDatabase();
  auto unbound = MakeSource(nullptr);
  auto elsewhere = MakeSource(other.get());
  auto busy = MakeSource(db.get());
  auto idle = MakeSource(db.get());
  // An open dataset (on a connection of its own) keeps its source out of the walk.
  auto reader = MakeDatabase();
  reader->SetConnected(true);
  TvrDataset open_dataset(nullptr);
  open_dataset.SetDatabase(reader.get());
  open_dataset.SetSQLText("select id from t");
  open_dataset.Open();
  busy->SetDataSet(&open_dataset);

  db->SetAutoSetupDataSources(false);
  db->SetConnected(true);
  EXPECT_EQ(idle->DataSet(), nullptr);
  db->SetConnected(false);
  db->SetAutoSetupDataSources(true);
  db->SetConnected(true);
  EXPECT_EQ(unbound->DataSet(), nullptr);
  EXPECT_EQ(elsewhere->DataSet(), nullptr);
  EXPECT_EQ(busy->DataSet(), &open_dataset);
  EXPECT_EQ(busy->ComponentCount(), 0);
  ASSERT_NE(idle->DataSet(), nullptr);
  EXPECT_EQ(idle->DataSet()->Owner(), idle.get());

  // Connecting when already connected runs no walk.
  TDataSet* first = idle->DataSet();
  db->SetConnected(true);
  EXPECT_EQ(idle->DataSet(), first);
}

TEST_F(DataSourceSetupTest, AConnectionTypeWithoutClientConnectionLeavesTheSourceWithoutDataset) {
  auto db = MakeDatabase();
  auto source = MakeSource(db.get());
  TvrDataset closed_dataset(nullptr);
  source->SetDataSet(&closed_dataset);
  db->SetConnectionType(ctODAC);
  db->SetConnected(true);
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ(source->DataSet(), nullptr);
  EXPECT_EQ(source->ComponentCount(), 0);
}

TEST_F(DataSourceSetupTest, ADatasetKeepsItsOwnHandlersAndSQL) {
  TvrDataSource source(nullptr);
  source.SQL().Add("select id from t");
  int from_source = 0, own = 0;
  auto source_handler = [&](TDataSet*) { ++from_source; };
  auto own_handler = [&](TDataSet*) { ++own; };
  source.AfterScroll = TDataSetNotifyEvent::Of(source_handler);
  source.OnNewRecord = TDataSetNotifyEvent::Of(source_handler);
  auto update_record = [](TDataSet*, TUpdateKind, TUpdateAction& action) { action = TUpdateAction::uaSkip; };
  source.OnUpdateRecord = TUpdateRecordEvent::Of(update_record);
  TvrDataset dataset(nullptr);
  dataset.AfterScroll = TDataSetNotifyEvent::Of(own_handler);
  dataset.SetSQLText("select name from t");

  TakeDataSourceDefaults(source, dataset);
  EXPECT_EQ(dataset.AfterScroll, TDataSetNotifyEvent::Of(own_handler));
  EXPECT_EQ(dataset.OnNewRecord, source.OnNewRecord);
  EXPECT_EQ(dataset.OnUpdateRecord, source.OnUpdateRecord);

  // A handler of its own is kept.
  auto own_update = [](TDataSet*, TUpdateKind, TUpdateAction& action) { action = TUpdateAction::uaApplied; };
  TvrDataset with_own(nullptr);
  with_own.OnUpdateRecord = TUpdateRecordEvent::Of(own_update);
  TakeDataSourceDefaults(source, with_own);
  EXPECT_EQ(with_own.OnUpdateRecord, TUpdateRecordEvent::Of(own_update));
  EXPECT_EQ(Trim(dataset.SQL().Text()), "select name from t");
}

TEST_F(DataSourceSetupTest, SourcesOutliveTheirDatabaseAndTheLayer) {
  auto db = MakeDatabase();
  auto source = MakeSource(db.get());
  db->SetConnected(true);
  ASSERT_NE(source->DataSet(), nullptr);
  db.reset();
  EXPECT_EQ(source->Database(), nullptr);
  // Shutdown leaves the source's dataset to the source that owns it, closed
  // and detached; the source destroys it and leaves its released registry.
  ShutdownDatabaseLayer();
  auto* dataset = dynamic_cast<TvrDataset*>(source->DataSet());
  ASSERT_NE(dataset, nullptr);
  EXPECT_EQ(source->ComponentCount(), 1);
  EXPECT_FALSE(dataset->Active());
  EXPECT_EQ(dataset->Connection(), nullptr);
  source.reset();
  EXPECT_EQ(DataSourceRegistry, nullptr);
}

}  // namespace
}  // namespace tersify::testing
