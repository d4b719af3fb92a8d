// TvrDataset: construction defaults, attachment to a database, the open
// sequence with its trace, FetchAll and QueryRecCount rules, Editable,
// upper-cased field names, refused statement kinds, the default delete-error
// handler and the reporting adapter that follows the component name.

#include <functional>
#include <stdexcept>

#include "client/providers/sqlite/sqlite_registry.h"
#include "db/data_source_setup.h"
#include "db/report_adapter.h"
#include "tests/db/layer_fixture.h"

namespace tersify::testing {
namespace {

// ---------------------------------------------------------------- defaults

struct DefaultCase {
  const char* name;
  std::function<bool(TvrDataset&)> holds;
};

class DatasetDefaultsTest : public LayerTest, public ::testing::WithParamInterface<DefaultCase> {};

TEST_P(DatasetDefaultsTest, InitialValue) {
  TvrDataset ds(nullptr);
  EXPECT_TRUE(GetParam().holds(ds));
}

INSTANTIATE_TEST_SUITE_P(
    Properties, DatasetDefaultsTest,
    ::testing::Values(
        DefaultCase{"DatabaseNilWithoutDefault", [](TvrDataset& d) { return d.Database() == nullptr; }},
        DefaultCase{"RebuildFieldsBeforeOpenOff", [](TvrDataset& d) { return !d.RebuildFieldsBeforeOpen(); }},
        DefaultCase{"FieldNamesToUpperCaseOff", [](TvrDataset& d) { return !d.FieldNamesToUpperCase(); }},
        DefaultCase{"Inactive", [](TvrDataset& d) { return !d.Active(); }},
        DefaultCase{"FetchAllOn", [](TvrDataset& d) { return d.FetchAll(); }},
        DefaultCase{"AutoCalcFieldsOff", [](TvrDataset& d) { return !d.AutoCalcFields(); }},
        DefaultCase{"CachedOff", [](TvrDataset& d) { return !d.Cached(); }},
        DefaultCase{"LocateInsertOff", [](TvrDataset& d) { return !d.LocateInsert(); }},
        DefaultCase{"Editable", [](TvrDataset& d) { return d.Editable() && !d.ReadOnly(); }},
        DefaultCase{"RequestLiveOff", [](TvrDataset& d) { return !d.RequestLive(); }},
        DefaultCase{"NonBlockingOff", [](TvrDataset& d) { return !d.NonBlocking(); }},
        DefaultCase{"KeyFieldsEmpty", [](TvrDataset& d) { return d.KeyFields().empty(); }},
        DefaultCase{"QueryRecCountOff", [](TvrDataset& d) { return !d.QueryRecCount(); }},
        DefaultCase{"DetailDelayZero", [](TvrDataset& d) { return d.DetailDelay() == 0; }},
        DefaultCase{"LocalMasterDetailOff", [](TvrDataset& d) { return !d.LocalMasterDetail(); }},
        DefaultCase{"StrictUpdateOff", [](TvrDataset& d) { return !d.StrictUpdate(); }},
        DefaultCase{"TrimFixedCharOn", [](TvrDataset& d) { return d.TrimFixedChar(); }},
        DefaultCase{"TrimVarCharOn", [](TvrDataset& d) { return d.TrimVarChar(); }},
        DefaultCase{"AddRowidToSQLOff", [](TvrDataset& d) { return !d.AddRowidToSQL(); }},
        DefaultCase{"slTagEmpty", [](TvrDataset& d) { return d.slTag().Count() == 0; }},
        DefaultCase{"ORACompatibilityOn", [](TvrDataset& d) { return d.ORACompatibility(); }},
        DefaultCase{"AfterPostExUnassigned", [](TvrDataset& d) { return !d.AfterPostEx.Assigned(); }},
        DefaultCase{"AutoTransactOnPostOff", [](TvrDataset& d) { return !d.AutoTransactOnPost(); }},
        DefaultCase{"CommandTimeoutZero", [](TvrDataset& d) { return d.CommandTimeout() == 0; }},
        DefaultCase{"TersifyOff", [](TvrDataset& d) { return !d.Tersify(); }},
        DefaultCase{"CompressionAlgZlib", [](TvrDataset& d) { return d.CompressionAlg() == caZLIB; }},
        DefaultCase{"CompressionLevelNormal", [](TvrDataset& d) { return d.CompressionLevel() == clNormal; }},
        DefaultCase{"OnGetCompressionOptionsUnassigned",
                    [](TvrDataset& d) { return !d.OnGetCompressionOptions.Assigned(); }},
        DefaultCase{"OnDeleteErrorAssigned", [](TvrDataset& d) { return d.OnDeleteError.Assigned(); }},
        DefaultCase{"TableNameEmpty", [](TvrDataset& d) { return d.TableName().empty(); }},
        DefaultCase{"NoKeyProcMap", [](TvrDataset& d) { return d.KeyProcMap() == nullptr; }},
        DefaultCase{"NoRefusedStatements", [](TvrDataset& d) { return d.RefusedStatements() == 0; }},
        DefaultCase{"FetchRows25", [](TvrDataset& d) { return d.FetchRows() == 25; }},
        DefaultCase{"Registered",
                    [](TvrDataset& d) {
                      return DatasetRegistry->Contains(&d) && ReportCompanions->FindByDataSet(&d) != nullptr;
                    }}),
    [](const ::testing::TestParamInfo<DefaultCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- plain properties

TEST_F(LayerTest, QueryRecCountAlwaysStoresFalse) {
  TvrDataset ds(nullptr);
  ds.SetQueryRecCount(true);
  EXPECT_FALSE(ds.QueryRecCount());
  EXPECT_FALSE(ds.Options().QueryRecCount);
}

TEST_F(LayerTest, EditableIsTheNegationOfReadOnly) {
  TvrDataset ds(nullptr);
  ds.SetEditable(false);
  EXPECT_TRUE(ds.ReadOnly());
  EXPECT_FALSE(ds.Editable());
  ds.SetReadOnly(false);
  EXPECT_TRUE(ds.Editable());
}

TEST_F(LayerTest, SlTagCopiesTheGivenLines) {
  TvrDataset ds(nullptr);
  TStringList given;
  given.Add("a=1");
  TObject marker;
  given.AddObject("b=2", &marker);
  ds.SetslTag(given);
  given.Add("c=3");
  ASSERT_EQ(ds.slTag().Count(), 2);
  EXPECT_EQ(ds.slTag()[1], "b=2");
  EXPECT_EQ(ds.slTag().Objects(1), &marker);
}

// ---------------------------------------------------------------- FetchAll

struct FetchAllCase {
  const char* name;
  bool with_database;
  bool partial_fetch_allowed;
  bool start, value, expected;
};

class FetchAllTest : public LayerTest, public ::testing::WithParamInterface<FetchAllCase> {};

TEST_P(FetchAllTest, SetterRule) {
  const FetchAllCase& c = GetParam();
  TvrDatabase db(nullptr);
  db.SetPartialFetchAllowed(c.partial_fetch_allowed);
  TvrDataset ds(nullptr);
  if (c.with_database) ds.SetDatabase(&db);
  ds.TCustomMSDataSet::SetFetchAll(c.start);
  ds.SetFetchAll(c.value);
  EXPECT_EQ(ds.FetchAll(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, FetchAllTest,
                         ::testing::Values(FetchAllCase{"FalseWithoutDatabaseIgnored", false, false, true, false, true},
                                           FetchAllCase{"FalseWithoutPartialFetchIgnored", true, false, true, false,
                                                        true},
                                           FetchAllCase{"FalseWithPartialFetchApplied", true, true, true, false, false},
                                           FetchAllCase{"TrueWithoutDatabaseApplied", false, false, false, true, true},
                                           FetchAllCase{"TrueWithDatabaseApplied", true, false, false, true, true}),
                         [](const ::testing::TestParamInfo<FetchAllCase>& info) { return std::string(info.param.name); });

TEST_F(LayerTest, FetchAllStoredFalseInAFormStaysTrue) {
  TvrDataset ds(nullptr);
  ds.BeginLoading();
  ds.SetFetchAll(false);
  ds.EndLoading();
  EXPECT_TRUE(ds.FetchAll());
}

// ---------------------------------------------------------------- attachment

TEST_F(LayerTest, DatabaseAttachment) {
  TvrDatabase db(nullptr);
  db.SetServer("sqlite");
  DefaultDatabase = &db;
  TvrDataset ds(nullptr);
  EXPECT_EQ(ds.Database(), &db);
  ASSERT_NE(db.IntConnectionMS(), nullptr);  // prepared by the attachment
  EXPECT_EQ(ds.Connection(), db.IntConnectionMS());

  // Nil keeps the connection.
  ds.SetDatabase(nullptr);
  EXPECT_EQ(ds.Database(), nullptr);
  EXPECT_EQ(ds.Connection(), db.IntConnectionMS());

  // A database of another connection type has no client connection.
  TvrDatabase oracle(nullptr);
  oracle.SetConnectionType(ctODAC);
  ds.SetDatabase(&oracle);
  EXPECT_EQ(ds.Database(), &oracle);
  EXPECT_EQ(ds.Connection(), nullptr);

  // Setting Connection never changes Database.
  ds.SetConnection(db.IntConnectionMS());
  EXPECT_EQ(ds.Database(), &oracle);
  DefaultDatabase = nullptr;
}

class DatasetOpenTest : public ProviderLayerTest {
 protected:
  void SetUp() override {
    ProviderLayerTest::SetUp();
    Db().ExecDirect(
        "create table tqz_systables (anNo integer primary key, acTableName varchar(40));"
        "insert into tqz_systables values (1, 'tqz_reports');"
        "insert into tqz_systables values (2, 'tqz_users');"
        "create table nokey (acName varchar(10));"
        "insert into nokey values ('x')");
  }
};

TEST_P(DatasetOpenTest, OpenAttachesAndConnectsTheDefaultDatabase) {
  auto db = MakeDatabase();
  TvrDataset ds(nullptr);  // made while there is no default database
  ds.SetSQLText("select anNo, acTableName from tqz_systables order by anNo");
  DefaultDatabase = db.get();
  ds.Open();
  EXPECT_TRUE(db->Connected());
  EXPECT_EQ(ds.Database(), db.get());
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_EQ(ds.FieldByName("acTableName")->AsString(), "tqz_reports");
}

TEST_P(DatasetOpenTest, ClosedConnectionOpenedByADatasetRunsTheAfterConnectSteps) {
  // However the connection opens, the database records the server's facts and
  // sets up its data sources, so that audit columns never carry user 0.
  auto user = providers::RegisterScalarFunction("fQZ_UserGetCurrentUserID",
                                                [](const std::vector<Variant>&) { return Variant(17); });
  auto db = MakeDatabase();
  TvrDataSource source(nullptr);
  source.SetDatabase(db.get());
  source.SQL().Add("select anNo from tqz_systables");
  TvrDataset ds(nullptr);
  ds.SetDatabase(db.get());
  ds.SetSQLText("select anNo from tqz_systables");
  ds.Open();
  EXPECT_TRUE(db->Connected());
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_EQ(db->anUserID(), 17);
  EXPECT_GT(db->SPID(), 0);
  EXPECT_GT(db->ServerMajorVersion(), 0);
  EXPECT_NE(dynamic_cast<TvrDataset*>(source.DataSet()), nullptr);

  // A reconnect made by the client's own statements is no different.
  db->SetConnected(false);
  user.Release();
  user = providers::RegisterScalarFunction("fQZ_UserGetCurrentUserID",
                                           [](const std::vector<Variant>&) { return Variant(18); });
  EXPECT_EQ(db->SelectInteger("select 5", 0), 5);
  EXPECT_EQ(db->anUserID(), 18);
}

TEST_P(DatasetOpenTest, FailingUserIdQueryOnAnOpenByADatasetIsDroppedAndGivesUserZero) {
  auto user = providers::RegisterScalarFunction("fQZ_UserGetCurrentUserID", [](const std::vector<Variant>&) -> Variant {
    throw std::runtime_error("user lookup failed");
  });
  auto db = MakeDatabase();
  TvrDataset ds(nullptr);
  ds.SetDatabase(db.get());
  ds.SetSQLText("select anNo from tqz_systables");
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_TRUE(db->Connected());
  EXPECT_EQ(db->anUserID(), 0);
  EXPECT_GT(db->SPID(), 0);
}

TEST_P(DatasetOpenTest, FailedConnectOfTheDefaultLeavesTheDatasetClosed) {
  auto sink = std::make_shared<RecordingSink>();
  TScopedLogSink scoped(sink);
  SQLTraceEnabled = true;
  auto db = MakeDatabase();
  db->SetServer("sqlite");
  db->SetDatabaseName(Db().FilePath() + ".missing");
  TvrDataset ds(nullptr);  // made while there is no default database
  DefaultDatabase = db.get();
  int before_open = 0;
  auto count = [&](TDataSet*) { ++before_open; };
  ds.BeforeOpen = TDataSetNotifyEvent::Of(count);
  ds.SetSQLText("select 1");
  EXPECT_ANY_THROW(ds.Open());
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(before_open, 0);
  auto rows = sink->Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].operation, "BeforeOpen");
}

TEST_P(DatasetOpenTest, OpenIsTracedBeforeAndAfterWhileTheSwitchIsOn) {
  auto sink = std::make_shared<RecordingSink>();
  TScopedLogSink scoped(sink);
  auto db = ConnectedDatabase();
  DefaultDatabase = db.get();
  TvrDataset ds(nullptr);
  ds.SQL().Add("select anNo");
  ds.SQL().Add("from tqz_systables");
  ds.Open();  // switch off: nothing
  ds.Close();
  EXPECT_TRUE(sink->Rows().empty());
  SQLTraceEnabled = true;
  ds.Open();
  ds.Open();   // already open: nothing
  ds.Close();  // closing: nothing
  auto rows = sink->Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].operation, "BeforeOpen");
  EXPECT_EQ(rows[1].operation, "AfterOpen");
  for (const auto& row : rows) {
    EXPECT_EQ(row.sender, &ds);
    EXPECT_EQ(row.detail, "SQL --> select anNo\r\nfrom tqz_systables\r\n");
  }
}

TEST_P(DatasetOpenTest, FetchModeOfTheDatabaseIsAppliedAtOpen) {
  auto db = ConnectedDatabase();
  db->SetPartialFetchAllowed(true);
  TvrDataset ds(nullptr);
  ds.SetDatabase(db.get());
  ds.SetSQLText("select anNo from tqz_systables");
  db->SetFetchMode(1);
  ds.Open();
  EXPECT_FALSE(ds.FetchAll());
  ds.Close();
  db->SetFetchMode(2);
  ds.Open();
  EXPECT_TRUE(ds.FetchAll());
}

TEST_P(DatasetOpenTest, FieldNamesToUpperCaseNeedsADatabase) {
  auto db = ConnectedDatabase();
  TvrDataset with_db(nullptr);
  with_db.SetDatabase(db.get());
  with_db.SetFieldNamesToUpperCase(true);
  with_db.SetSQLText("select anNo, acTableName from tqz_systables");
  with_db.Open();
  EXPECT_EQ(with_db.Fields(0)->FieldName(), "ANNO");
  EXPECT_EQ(with_db.Fields(1)->FieldName(), "ACTABLENAME");

  TvrDataset without_db(nullptr);
  without_db.SetConnection(db->IntConnectionMS());
  without_db.SetFieldNamesToUpperCase(true);
  without_db.SetSQLText("select anNo, acTableName from tqz_systables");
  without_db.Open();
  EXPECT_EQ(without_db.Fields(1)->FieldName(), "acTableName");
}

TEST_P(DatasetOpenTest, RefusedUpdateLeavesTheRowUnwritten) {
  auto db = ConnectedDatabase();
  TvrDataset ds(nullptr);
  ds.SetDatabase(db.get());
  ds.SetSQLText("select anNo, acTableName from tqz_systables where anNo = 1");
  ds.Open();
  ds.SetRefusedStatements(StatementSet(stUpdate));
  ds.Edit();
  ds.FieldByName("acTableName")->SetAsString("refused");
  ds.Post();
  EXPECT_EQ(RawValue(Db(), "select acTableName from tqz_systables where anNo = 1"), "tqz_reports");

  ds.SetRefusedStatements(0);
  ds.Edit();
  ds.FieldByName("acTableName")->SetAsString("written");
  ds.Post();
  EXPECT_EQ(RawValue(Db(), "select acTableName from tqz_systables where anNo = 1"), "written");
}

TEST_P(DatasetOpenTest, DeleteErrorHookTurnsAFailedDeleteIntoASilentAbort) {
  auto db = ConnectedDatabase();
  TvrDataset ds(nullptr);
  ds.SetDatabase(db.get());
  ds.SetSQLText("select acName from nokey");  // no key: the row cannot be identified
  ds.Open();
  try {
    ds.Delete();
    ADD_FAILURE() << "a delete without a key succeeded";
  } catch (const EAbort&) {
    ADD_FAILURE() << "aborted without a hook";
  } catch (const EDatabaseError&) {
  }
  static TDataSet* hooked_dataset;
  static std::string hooked_message;
  hooked_dataset = nullptr;
  DeleteErrorHook = [](TDataSet* dataset, EDatabaseError& error, bool& handled) {
    hooked_dataset = dataset;
    hooked_message = error.Message();
    handled = true;
  };
  EXPECT_THROW(ds.Delete(), EAbort);
  EXPECT_EQ(hooked_dataset, &ds);
  EXPECT_FALSE(hooked_message.empty());
  EXPECT_EQ(RawValue(Db(), "select count(*) from nokey"), "1");
}

INSTANTIATE_TEST_SUITE_P(Providers, DatasetOpenTest, ::testing::ValuesIn(AvailableProviders()), ProviderName());

// ---------------------------------------------------------------- delete-error handler

TEST_F(LayerTest, DefaultDeleteErrorHandlerDefersToTheHook) {
  TvrDataset ds(nullptr);
  EDatabaseError error("cannot delete");
  TDataAction action = TDataAction::daFail;
  ds.OnDeleteError(&ds, error, action);  // no hook: the action stays
  EXPECT_EQ(action, TDataAction::daFail);

  DeleteErrorHook = [](TDataSet*, EDatabaseError&, bool& handled) { handled = false; };
  ds.OnDeleteError(&ds, error, action);
  EXPECT_EQ(action, TDataAction::daFail);

  DeleteErrorHook = [](TDataSet*, EDatabaseError&, bool& handled) { handled = true; };
  ds.OnDeleteError(&ds, error, action);
  EXPECT_EQ(action, TDataAction::daAbort);

  DeleteErrorHook = [](TDataSet*, EDatabaseError&, bool&) { throw Exception("hook failed"); };
  EXPECT_THROW(ds.OnDeleteError(&ds, error, action), Exception);
}

// ---------------------------------------------------------------- statement kinds

class StatementProbe : public TvrDataset {
 public:
  using TvrDataset::TvrDataset;
  using TvrDataset::PerformStatement;
};

struct RefusedCase {
  const char* name;
  TStatementTypes refused, kinds;
  bool performed;
};

class RefusedStatementsTest : public LayerTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedStatementsTest, FirstKindDecides) {
  StatementProbe ds(nullptr);
  ds.SetRefusedStatements(GetParam().refused);
  EXPECT_EQ(ds.PerformStatement(GetParam().kinds), GetParam().performed);
}

constexpr TStatementTypes Set(std::initializer_list<TStatementType> kinds) {
  TStatementTypes set = 0;
  for (TStatementType k : kinds) set |= StatementSet(k);
  return set;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedStatementsTest,
    ::testing::Values(RefusedCase{"NothingRefused", 0, Set({stUpdate}), true},
                      RefusedCase{"EveryKindPerformedWhenNoneRefused", 0, Set({stBatchUpdate}), true},
                      RefusedCase{"EmptySetNotPerformed", 0, 0, false},
                      RefusedCase{"UnknownKindsOnlyNotPerformed", 0, static_cast<TStatementTypes>(1u << 12), false},
                      RefusedCase{"RefusedKind", Set({stUpdate}), Set({stUpdate}), false},
                      RefusedCase{"FirstKindRefused", Set({stInsert}), Set({stInsert, stUpdate}), false},
                      RefusedCase{"LaterKindRefusedOnly", Set({stUpdate}), Set({stInsert, stUpdate}), true},
                      RefusedCase{"QueryFirst", Set({stQuery}), Set({stQuery, stBatchUpdate}), false}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- reporting adapter

TEST_F(LayerTest, AdapterFollowsTheComponentName) {
  TvrDataset ds(nullptr);
  TfrxDBDataset* adapter = ReportCompanions->FindByDataSet(&ds);
  ASSERT_NE(adapter, nullptr);
  EXPECT_EQ(adapter->DataSet(), &ds);
  EXPECT_EQ(adapter->Owner(), nullptr);
  EXPECT_EQ(adapter->Name(), "");

  ds.SetName("qReports");
  EXPECT_EQ(ReportCompanions->FindByDataSet(&ds), adapter);
  EXPECT_EQ(adapter->Name(), "qReports");

  ds.SetName("");  // an empty name leaves the adapter's name
  EXPECT_EQ(adapter->Name(), "qReports");
  ds.SetName("qOther");
  EXPECT_EQ(ReportCompanions->FindByDataSet(&ds), adapter);
  EXPECT_EQ(adapter->Name(), "qOther");

  // A name the component rejects leaves the adapter as it was.
  EXPECT_THROW(ds.SetName("1 bad"), EComponentError);
  EXPECT_EQ(adapter->Name(), "qOther");
  EXPECT_EQ(ReportCompanions->Count(), 1);
}

TEST_F(LayerTest, RenamingADatasetWithoutAdapterMakesOne) {
  TvrDataset ds(nullptr);
  ReportCompanions->Release(ReportCompanions->FindByDataSet(&ds));
  ASSERT_EQ(ReportCompanions->Count(), 0);
  ds.SetName("");
  EXPECT_EQ(ReportCompanions->Count(), 0);
  ds.SetName("qNew");
  TfrxDBDataset* adapter = ReportCompanions->FindByDataSet(&ds);
  ASSERT_NE(adapter, nullptr);
  EXPECT_EQ(adapter->Name(), "qNew");
  EXPECT_EQ(DatasetRegistry->Count(), 1);
}

TEST_F(LayerTest, DestroyingADatasetReleasesItsAdapter) {
  TComponent form(nullptr);
  auto* kept = MakeComponent<TvrDataset>(&form);
  {
    TvrDataset gone(nullptr);
    EXPECT_EQ(ReportCompanions->Count(), 2);
    EXPECT_EQ(DatasetRegistry->Count(), 2);
  }
  EXPECT_EQ(ReportCompanions->Count(), 1);
  EXPECT_EQ(ReportCompanions->Items(0)->DataSet(), kept);
  EXPECT_EQ(DatasetRegistry->Count(), 1);
}

}  // namespace
}  // namespace tersify::testing
