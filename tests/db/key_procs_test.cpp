// Key discovery and key-change procedures on every provider: the probe sent
// once per database (and not at all past a three-part version), the map loaded
// once, the marks set before BeforePost, the procedures run after the row's own
// update with old and new key values, the pQZ_SysSetConInfoRC bracket and the
// companion calls; and the sqlite provider's reading of the key-discovery
// function from a table.
//
// The sqlite provider answers the version probe from sqlite_version(), which a
// test replaces by a registered function to play a server of another version;
// the TDS test server answers with the product version it is started with.
// fQZ_GetPksFieldsAndProc is a table (acTableName, acFieldName, acProcName).

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "client/providers/sqlite/sqlite_registry.h"
#include "client/providers/sqlite/tsql_rewrites.h"
#include "tests/db/layer_fixture.h"

namespace tersify::testing {
namespace {

using providers::ProcParamInfo;
using providers::RegisterProcedure;
using providers::RegisterScalarFunction;
using providers::Registration;

constexpr const char* kVersionQuery =
    "select convert(tinyint, parsename(cast(serverproperty('ProductVersion') as varchar(30)), 4))";
constexpr const char* kObjectIdQuery = "select Object_ID('fQZ_GetPksFieldsAndProc')";

std::string Text(const Variant& v) { return v.IsNull() ? "null" : v.AsString(); }

// Calls of the registered procedures, in order. Bodies run on the TDS test
// server's thread for odbc.
class CallLog {
 public:
  void Add(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(call);
  }
  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> calls_;
};

class KeyProcFixture : public ::testing::Test {
 protected:
  virtual std::string ProviderParam() const = 0;

  void SetUp() override {
    StartDatabaseLayer();
    CreateDatabase(TdsServerRules());
    RegisterProcedures();
  }
  void CreateDatabase(const TdsServerRules& rules) {
    test_db_ = std::make_unique<TestDatabase>(ProviderParam(), rules);
    test_db_->ExecDirect(
        "create table K (acCode varchar(10) primary key, acOther varchar(10), b int);"
        "insert into K values ('A1', 'O1', 1);"
        "create table S (acSubject varchar(10) primary key, acWorker varchar(10), acCost varchar(10));"
        "insert into S values ('S1', 'W1', 'C1')");
  }
  void TearDown() override {
    datasets_.clear();
    db_.reset();
    SQLTraceEnabled = false;
    ShutdownDatabaseLayer();
    test_db_.reset();
  }

  // The version string the probe reads ("16.0.1000.6": four parts): SQLite's
  // for "sqlite", the product version the TDS test server claims for "odbc"
  // (a fresh database, before anything else is set up).
  void PlayServerVersion(const std::string& version) {
    version_ = RegisterScalarFunction("sqlite_version",
                                      [version](const std::vector<Variant>&) { return Variant(version); });
    if (ProviderParam() != "sqlite") {
      TdsServerRules rules;
      rules.product_version = version;
      CreateDatabase(rules);
    }
  }
  void CreateKeyFunction(const std::string& rows) {
    test_db_->ExecDirect(
        "create table fQZ_GetPksFieldsAndProc (acTableName varchar(128), acFieldName varchar(128), "
        "acProcName varchar(128));" +
        rows);
  }
  // A server of version 16 with the function holding rows.
  void KeyProcServer(const std::string& rows) {
    PlayServerVersion("16.0.1000.6");
    CreateKeyFunction(rows);
  }
  void Connect() {
    db_ = std::make_unique<TvrDatabase>(nullptr);
    ConnectTo(*db_, *test_db_);
    db_->SetConnected(true);
    DefaultDatabase = db_.get();
  }
  void StartTrace() {
    sink_ = std::make_shared<RecordingSink>();
    sink_scope_ = std::make_unique<TScopedLogSink>(sink_);
    SQLTraceEnabled = true;
  }
  // How often a dataset opened sql while tracing.
  int Opens(const std::string& sql) const {
    int count = 0;
    for (const auto& row : sink_->Rows())
      if (row.operation == "BeforeOpen" && row.detail == "SQL --> " + sql + "\r\n") ++count;
    return count;
  }

  TvrDataset& Open(const std::string& sql, const std::string& table, bool generate = false) {
    auto ds = std::make_unique<TvrDataset>(nullptr);
    ds->SetDatabase(db_.get());
    ds->SetSQLText(sql);
    ds->SetTableName(table);
    if (generate) ds->SetTag(tgGenerateSQL);
    ds->Open();
    datasets_.push_back(std::move(ds));
    return *datasets_.back();
  }
  // Edits the current row: field=value pairs, then posts.
  void EditAndPost(TvrDataset& ds, const std::vector<std::pair<std::string, std::string>>& values) {
    ds.Edit();
    for (const auto& [field, value] : values) ds.FieldByName(field)->SetAsString(value);
    ds.Post();
  }
  std::string Raw(const std::string& sql) const { return RawValue(*test_db_, sql); }

  void RegisterProcedures() {
    auto text = [](const Variant& v) { return Text(v); };
    // Records the old and new key and the row's b as the procedure finds it
    // (by the old key), then carries the key change into the row.
    procs_.push_back(RegisterProcedure(
        "pKey_Code", {ProcParamInfo{"p_ACCODE", ftString}, ProcParamInfo{"p_ACCODE_NEW", ftString}},
        [this, text](providers::Provider& provider, std::vector<Variant>& args) {
          std::string b = "none";
          auto rows = provider.Execute("select b from K where acCode = ?", {args[0]});
          if (rows->Next()) b = text(rows->Value(0));
          rows.reset();
          calls_.Add("pKey_Code " + text(args[0]) + ">" + text(args[1]) + " b=" + b);
          provider.Execute("update K set acCode = ? where acCode = ?", {args[1], args[0]});
          return std::unique_ptr<providers::Cursor>();
        }));
    procs_.push_back(RegisterProcedure(
        "pKey_Pair",
        {ProcParamInfo{"p_ACCODE", ftString}, ProcParamInfo{"p_ACCODE_NEW", ftString},
         ProcParamInfo{"p_ACOTHER", ftString}, ProcParamInfo{"p_ACOTHER_NEW", ftString}},
        [this, text](providers::Provider&, std::vector<Variant>& args) {
          calls_.Add("pKey_Pair " + text(args[0]) + ">" + text(args[1]) + " " + text(args[2]) + ">" +
                     text(args[3]));
          return std::unique_ptr<providers::Cursor>();
        }));
    procs_.push_back(RegisterProcedure(
        "pQZ_SysSetConInfoRC", {ProcParamInfo{"a", ftInteger}, ProcParamInfo{"b", ftInteger}},
        [this, text](providers::Provider&, std::vector<Variant>& args) {
          calls_.Add("rc " + text(args[0]) + "," + text(args[1]));
          return std::unique_ptr<providers::Cursor>();
        }));
    const std::pair<const char*, const char*> recorders[] = {
        {"PHE_SETSUBJ_01", "p_acsubject"},
        {"PHR_PRSN_01", "p_acworker"},
        {"PHE_SETCURRENCY_01", "p_accost"},
    };
    for (const auto& [name, param] : recorders) {
      const std::string proc = name;
      procs_.push_back(RegisterProcedure(
          proc, {ProcParamInfo{param, ftString}, ProcParamInfo{std::string(param) + "_NEW", ftString}},
          [this, text, proc](providers::Provider&, std::vector<Variant>& args) {
            calls_.Add(proc + " " + text(args[0]) + ">" + text(args[1]));
            return std::unique_ptr<providers::Cursor>();
          }));
    }
    procs_.push_back(RegisterProcedure(
        "PHE_COSTDRV_01", {ProcParamInfo{"p_accost", ftString}, ProcParamInfo{"p_accost_NEW", ftString}},
        [](providers::Provider& provider, std::vector<Variant>&) {
          return provider.Execute("insert into no_such_table values (1)", {});
        }));
  }

  std::unique_ptr<TestDatabase> test_db_;
  std::unique_ptr<TvrDatabase> db_;
  std::vector<std::unique_ptr<TvrDataset>> datasets_;
  std::shared_ptr<RecordingSink> sink_;
  std::unique_ptr<TScopedLogSink> sink_scope_;
  Registration version_;
  std::vector<Registration> procs_;
  CallLog calls_;
};

class KeyProcTest : public KeyProcFixture, public ::testing::WithParamInterface<std::string> {
 protected:
  std::string ProviderParam() const override { return GetParam(); }
};

// ---------------------------------------------------------------- the probe

struct ProbeCase {
  const char* name;
  const char* version;
  bool function_exists;
  uint8_t state;
  int object_id_queries;
};

class ProbeTest : public KeyProcFixture,
                  public ::testing::WithParamInterface<std::tuple<std::string, ProbeCase>> {
 protected:
  std::string ProviderParam() const override { return std::get<0>(GetParam()); }
};

TEST_P(ProbeTest, ProbeRunsOncePerDatabaseAndAsksForTheFunctionOnlyFromVersionNine) {
  const ProbeCase& c = std::get<1>(GetParam());
  if (ProviderParam() != "sqlite" && std::count(c.version, c.version + std::strlen(c.version), '.') != 3)
    GTEST_SKIP() << "SQL Server's ProductVersion has four parts";
  PlayServerVersion(c.version);
  if (c.function_exists) CreateKeyFunction("insert into fQZ_GetPksFieldsAndProc values ('K', 'acCode', 'pKey_Code')");
  Connect();
  StartTrace();
  TvrDataset& first = Open("select acCode, acOther, b from K", "K");
  EXPECT_EQ(db_->KeyProcSupport(), kpsUnknown);
  EditAndPost(first, {{"b", "2"}});
  EditAndPost(first, {{"b", "3"}});
  TvrDataset& second = Open("select acCode, b from K", "K");
  EditAndPost(second, {{"b", "4"}});

  EXPECT_EQ(db_->KeyProcSupport(), c.state);
  EXPECT_EQ(Opens(kVersionQuery), 1);
  EXPECT_EQ(Opens(kObjectIdQuery), c.object_id_queries);
  // The map is loaded once per dataset, and only where the function exists.
  const int map_loads = c.state == kpsPresent ? 2 : 0;
  EXPECT_EQ(Opens("select acFieldName, acProcName from fQZ_GetPksFieldsAndProc('K')"), map_loads);
  EXPECT_EQ(first.KeyProcMap() != nullptr, c.state == kpsPresent);
  EXPECT_EQ(Raw("select b from K"), "4");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProbeTest,
    ::testing::Combine(::testing::ValuesIn(AvailableProviders()),
                       ::testing::Values(ProbeCase{"ThreePartVersion", "3.40.1", true, kpsAbsent, 0},
                                         ProbeCase{"VersionEight", "8.0.2039.0", true, kpsAbsent, 0},
                                         ProbeCase{"VersionNineWithoutFunction", "9.0.1399.6", false, kpsAbsent, 1},
                                         ProbeCase{"VersionSixteen", "16.0.1000.6", true, kpsPresent, 1})),
    [](const ::testing::TestParamInfo<ProbeTest::ParamType>& info) {
      return std::get<0>(info.param) + "_" + std::get<1>(info.param).name;
    });

TEST_P(KeyProcTest, FailedProbeFailsThatPostAndIsNotRetried) {
  version_ = RegisterScalarFunction("sqlite_version", [](const std::vector<Variant>&) -> Variant {
    throw std::runtime_error("version unavailable");
  });
  if (ProviderParam() != "sqlite") test_db_->FailNextServerRead("serverproperty");
  CreateKeyFunction("insert into fQZ_GetPksFieldsAndProc values ('K', 'acCode', 'pKey_Code')");
  Connect();
  StartTrace();
  TvrDataset& ds = Open("select acCode, b from K", "K");
  bool from_error = false;
  auto report = [&](TDataSet*, bool failed) { from_error = failed; };
  ds.AfterPostEx = TAfterPostExEvent::Of(report);
  ds.Edit();
  ds.FieldByName("b")->SetAsInteger(2);
  EXPECT_ANY_THROW(ds.Post());
  EXPECT_TRUE(from_error);
  EXPECT_EQ(db_->KeyProcSupport(), kpsAbsent);
  ds.Post();  // still editing: the second attempt goes through without a probe
  EXPECT_FALSE(from_error);
  EXPECT_EQ(Opens(kVersionQuery), 1);
  EXPECT_EQ(Raw("select b from K"), "2");
}

// ---------------------------------------------------------------- the map

TEST_P(KeyProcTest, MapHoldsUpperCaseNamesNullForNoProcedureAndTheLastRowPerField) {
  KeyProcServer(
      "insert into fQZ_GetPksFieldsAndProc values ('K', 'acCode', 'pKey_Code');"
      "insert into fQZ_GetPksFieldsAndProc values ('K', 'acOther', '');"
      "insert into fQZ_GetPksFieldsAndProc values ('K', 'b', 'pFirst');"
      "insert into fQZ_GetPksFieldsAndProc values ('K', 'b', NULL);"
      "insert into fQZ_GetPksFieldsAndProc values ('L', 'x', 'pOther')");
  Connect();
  StartTrace();
  TvrDataset& ds = Open("select acCode, acOther, b from K", "K");
  EditAndPost(ds, {{"b", "2"}});
  ASSERT_NE(ds.KeyProcMap(), nullptr);
  EXPECT_EQ(ds.KeyProcMap()->Text(), "ACCODE=PKEY_CODE\r\nACOTHER=NULL\r\nB=NULL\r\n");

  // Loaded once: a new table name changes nothing.
  ds.SetTableName("L");
  EditAndPost(ds, {{"b", "3"}});
  EXPECT_EQ(ds.KeyProcMap()->Text(), "ACCODE=PKEY_CODE\r\nACOTHER=NULL\r\nB=NULL\r\n");
  EXPECT_EQ(Opens("select acFieldName, acProcName from fQZ_GetPksFieldsAndProc('K')"), 1);
  EXPECT_EQ(Opens("select acFieldName, acProcName from fQZ_GetPksFieldsAndProc('L')"), 0);
  EXPECT_TRUE(calls_.Calls().empty());
}

TEST_P(KeyProcTest, WithoutTableNameNoMapIsLoaded) {
  KeyProcServer("insert into fQZ_GetPksFieldsAndProc values ('K', 'acCode', 'pKey_Code')");
  Connect();
  TvrDataset& ds = Open("select acCode, b from K", "");
  EditAndPost(ds, {{"acCode", "A2"}});
  EXPECT_EQ(db_->KeyProcSupport(), kpsPresent);
  EXPECT_EQ(ds.KeyProcMap(), nullptr);
  EXPECT_TRUE(calls_.Calls().empty());
}

// A quote in the table name is doubled in the map query's literal.
TEST_P(KeyProcTest, TableNameWithAQuoteIsPassedAsOneLiteral) {
  KeyProcServer(
      "insert into fQZ_GetPksFieldsAndProc values ('K''Q', 'acCode', 'pKey_Code');"
      "insert into fQZ_GetPksFieldsAndProc values ('K', 'b', 'pWrong')");
  Connect();
  StartTrace();
  TvrDataset& ds = Open("select acCode, b from K", "K'Q");
  EditAndPost(ds, {{"b", "2"}});
  EXPECT_EQ(Opens("select acFieldName, acProcName from fQZ_GetPksFieldsAndProc('K''Q')"), 1);
  ASSERT_NE(ds.KeyProcMap(), nullptr);
  EXPECT_EQ(ds.KeyProcMap()->Text(), "ACCODE=PKEY_CODE\r\n");
}

TEST_P(KeyProcTest, FailedMapQueryLeavesAnEmptyMapThatIsNotReloaded) {
  PlayServerVersion("16.0.1000.6");
  // The function exists as an object, but the query cannot be read from it.
  test_db_->ExecDirect("create table fQZ_GetPksFieldsAndProc (acTableName varchar(128))");
  Connect();
  TvrDataset& ds = Open("select acCode, b from K", "K");
  ds.Edit();
  ds.FieldByName("b")->SetAsInteger(2);
  EXPECT_ANY_THROW(ds.Post());
  ASSERT_NE(ds.KeyProcMap(), nullptr);
  EXPECT_EQ(ds.KeyProcMap()->Count(), 0);
  ds.Post();
  EXPECT_EQ(Raw("select b from K"), "2");
}

// ---------------------------------------------------------------- marks

TEST_P(KeyProcTest, ChangedKeyFieldsWithAProcedureAreMarkedBeforeBeforePost) {
  KeyProcServer(
      "insert into fQZ_GetPksFieldsAndProc values ('K', 'acCode', 'pKey_Code');"
      "insert into fQZ_GetPksFieldsAndProc values ('K', 'acOther', NULL)");
  Connect();
  TvrDataset& ds = Open("select acCode, acOther, b from K", "K");
  int dataset_tag = -1, code_tag = -1, other_tag = -1;
  auto before = [&](TDataSet*) {
    dataset_tag = ds.Tag();
    code_tag = ds.FieldByName("acCode")->Tag();
    other_tag = ds.FieldByName("acOther")->Tag();
  };
  ds.BeforePost = TDataSetNotifyEvent::Of(before);
  // A field without a procedure keeps whatever its Tag holds.
  ds.FieldByName("acOther")->SetTag(tgKeyChanged | 4);
  ds.SetTag(tgKeyChanged | 1);
  ds.Edit();
  ds.FieldByName("acOther")->SetAsString("O2");
  ds.Post();
  EXPECT_EQ(dataset_tag, 1);
  EXPECT_EQ(code_tag, 0);
  EXPECT_EQ(other_tag, tgKeyChanged | 4);

  ds.FieldByName("acCode")->SetTag(8);
  EditAndPost(ds, {{"acCode", "A2"}});
  EXPECT_EQ(dataset_tag, tgKeyChanged | 1);
  EXPECT_EQ(code_tag, tgKeyChanged | 8);
  EXPECT_EQ(ds.Tag(), tgKeyChanged | 1);  // kept until the next post

  EditAndPost(ds, {{"b", "5"}});
  EXPECT_EQ(dataset_tag, 1);
  EXPECT_EQ(code_tag, 8);
}

TEST_P(KeyProcTest, MapFieldMissingFromTheQueryFailsEveryPost) {
  KeyProcServer("insert into fQZ_GetPksFieldsAndProc values ('K', 'acOther', 'pKey_Pair')");
  Connect();
  TvrDataset& ds = Open("select acCode, b from K", "K");
  for (int attempt = 0; attempt < 2; ++attempt) {
    ds.Edit();
    ds.FieldByName("b")->SetAsInteger(7);
    try {
      ds.Post();
      ADD_FAILURE() << "the post went through";
    } catch (const EDatabaseError& e) {
      EXPECT_NE(std::string(e.what()).find("Field 'ACOTHER' not found"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(Raw("select b from K"), "1");
}

// ---------------------------------------------------------------- procedures

TEST_P(KeyProcTest, KeyChangeProcedureRunsAfterTheRowsOwnUpdate) {
  KeyProcServer("insert into fQZ_GetPksFieldsAndProc values ('K', 'acCode', 'pKey_Code')");
  Connect();
  TvrDataset& ds = Open("select acCode, acOther, b from K", "K", true);
  ds.SQLUpdate().SetText("update K set b=:b where acCode=:OLD_acCode");
  EditAndPost(ds, {{"acCode", "A2"}, {"b", "2"}});
  // The key stays out of the generated update; the procedure carries it.
  EXPECT_EQ(ds.SQLUpdate().Text(), "update K set b=:b where acCode=:OLD_acCode\r\n");
  EXPECT_EQ(calls_.Calls(), (std::vector<std::string>{"pKey_Code A1>A2 b=2"}));
  EXPECT_EQ(Raw("select acCode || ',' || b from K"), "A2,2");
}

TEST_P(KeyProcTest, ProcedureOfTwoKeyFieldsGetsBothAndRunsOnce) {
  KeyProcServer(
      "insert into fQZ_GetPksFieldsAndProc values ('K', 'acCode', 'pKey_Pair');"
      "insert into fQZ_GetPksFieldsAndProc values ('K', 'acOther', 'pKey_Pair')");
  Connect();
  TvrDataset& ds = Open("select acCode, acOther, b from K", "K");
  EditAndPost(ds, {{"acCode", "A2"}});
  EditAndPost(ds, {{"acCode", "A3"}, {"acOther", "O3"}});
  EXPECT_EQ(calls_.Calls(), (std::vector<std::string>{"pKey_Pair A1>A2 O1>O1", "pKey_Pair A2>A3 O1>O3"}));
}

TEST_P(KeyProcTest, NoProcedureRunsForNullProceduresInsertsOrDeletes) {
  KeyProcServer(
      "insert into fQZ_GetPksFieldsAndProc values ('K', 'acCode', 'pKey_Code');"
      "insert into fQZ_GetPksFieldsAndProc values ('K', 'acOther', NULL)");
  Connect();
  TvrDataset& ds = Open("select acCode, acOther, b from K", "K");
  EditAndPost(ds, {{"acOther", "O2"}});
  ds.Insert();
  ds.FieldByName("acCode")->SetAsString("N1");
  ds.FieldByName("b")->SetAsInteger(9);
  ds.Post();
  ds.Delete();
  EXPECT_TRUE(calls_.Calls().empty());
  EXPECT_EQ(Raw("select count(*) from K"), "1");
}

// The procedure's own error reaches the caller even when the call that
// closes the pQZ_SysSetConInfoRC bracket fails as well.
TEST_P(KeyProcTest, FailingBracketCloseDoesNotHideTheProceduresError) {
  KeyProcServer("insert into fQZ_GetPksFieldsAndProc values ('S', 'acCost', 'PHE_COSTDRV_01')");
  auto failing_close = RegisterProcedure(
      "pQZ_SysSetConInfoRC", {ProcParamInfo{"a", ftInteger}, ProcParamInfo{"b", ftInteger}},
      [this](providers::Provider& provider, std::vector<Variant>& args) -> std::unique_ptr<providers::Cursor> {
        calls_.Add("rc " + Text(args[0]) + "," + Text(args[1]));
        if (args[1].AsInteger() == 0) return provider.Execute("select * from bracket_table_missing", {});
        return nullptr;
      });
  Connect();
  TvrDataset& ds = Open("select acSubject, acWorker, acCost from S", "S");
  try {
    EditAndPost(ds, {{"acCost", "C2"}});
    ADD_FAILURE() << "the post went through";
  } catch (const Exception& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("no_such_table"), std::string::npos) << message;
    EXPECT_EQ(message.find("bracket_table_missing"), std::string::npos) << message;
  }
  EXPECT_EQ(calls_.Calls(), (std::vector<std::string>{"rc 2,1", "rc 2,0"}));
}

// A row update that fails (at the server, or because it found no row) runs no
// key-change procedure.
TEST_P(KeyProcTest, FailedUpdateRunsNoKeyChangeProcedure) {
  KeyProcServer("insert into fQZ_GetPksFieldsAndProc values ('K', 'acCode', 'pKey_Code')");
  Connect();
  const char* updates[] = {"update K set b=:b where no_such_column=:OLD_acCode",
                           "update K set b=:b where acCode='nobody'"};
  for (const char* update : updates) {
    SCOPED_TRACE(update);
    TvrDataset& ds = Open("select acCode, acOther, b from K", "K", true);
    ds.SetAutoTransactOnPost(true);
    ds.SQLUpdate().SetText(update);
    ds.Edit();
    ds.FieldByName("acCode")->SetAsString("A2");
    ds.FieldByName("b")->SetAsInteger(2);
    EXPECT_ANY_THROW(ds.Post());
    ds.Cancel();
  }
  EXPECT_TRUE(calls_.Calls().empty());
  EXPECT_EQ(Raw("select acCode || ',' || b from K"), "A1,1");
}

struct SpecialCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> edits;
  std::vector<std::string> calls;
  bool fails;
};

class SpecialProcedureTest : public KeyProcFixture,
                             public ::testing::WithParamInterface<std::tuple<std::string, SpecialCase>> {
 protected:
  std::string ProviderParam() const override { return std::get<0>(GetParam()); }
};

// Map of S: acSubject -> PHE_SETSUBJ_01, acWorker -> PHR_PRSN_01, acCost as the case says.
TEST_P(SpecialProcedureTest, SpecialProceduresAreBracketedAndCallTheirCompanion) {
  const SpecialCase& c = std::get<1>(GetParam());
  const bool failing_cost = c.fails;
  KeyProcServer(std::string(failing_cost
                                ? "insert into fQZ_GetPksFieldsAndProc values ('S', 'acCost', 'PHE_COSTDRV_01');"
                                : "insert into fQZ_GetPksFieldsAndProc values ('S', 'acCost', 'pHE_SetCurrency_01');") +
                "insert into fQZ_GetPksFieldsAndProc values ('S', 'acSubject', 'PHE_SETSUBJ_01');"
                "insert into fQZ_GetPksFieldsAndProc values ('S', 'acWorker', 'PHR_PRSN_01')");
  Connect();
  TvrDataset& ds = Open("select acSubject, acWorker, acCost from S", "S");
  if (c.fails) {
    EXPECT_ANY_THROW(EditAndPost(ds, c.edits));
  } else {
    EditAndPost(ds, c.edits);
  }
  EXPECT_EQ(calls_.Calls(), c.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SpecialProcedureTest,
    ::testing::Combine(
        ::testing::ValuesIn(AvailableProviders()),
        ::testing::Values(
            SpecialCase{"Subject", {{"acSubject", "S2"}},
                        {"rc 2,1", "PHE_SETSUBJ_01 S1>S2", "PHR_PRSN_01 S1>S2", "rc 2,0"}, false},
            SpecialCase{"Worker", {{"acWorker", "W2"}},
                        {"rc 2,1", "PHR_PRSN_01 W1>W2", "PHE_SETSUBJ_01 W1>W2", "rc 2,0"}, false},
            SpecialCase{"NameInAnyCase", {{"acCost", "C2"}},
                        {"rc 2,1", "PHE_SETCURRENCY_01 C1>C2", "rc 2,0"}, false},
            // The failing procedure comes first in the map: the bracket still
            // closes, and the worker's procedure does not run.
            SpecialCase{"FailureClosesTheBracket", {{"acCost", "C2"}, {"acWorker", "W2"}},
                        {"rc 2,1", "rc 2,0"}, true})),
    [](const ::testing::TestParamInfo<SpecialProcedureTest::ParamType>& info) {
      return std::get<0>(info.param) + "_" + std::get<1>(info.param).name;
    });

INSTANTIATE_TEST_SUITE_P(Providers, KeyProcTest, ::testing::ValuesIn(AvailableProviders()), ProviderName());

// ---------------------------------------------------------------- the sqlite stand-in

struct RewriteCase {
  const char* name;
  const char* statement;
  const char* rewritten;  // nullptr: passed to SQLite unchanged
};

class KeyFunctionRewriteTest : public ::testing::TestWithParam<RewriteCase> {};

TEST_P(KeyFunctionRewriteTest, KeyDiscoveryQueryReadsTheStandInTable) {
  const RewriteCase& c = GetParam();
  const providers::TsqlRewrite r = providers::RewriteTsql(c.statement, [](const std::string&) { return false; });
  if (c.rewritten) {
    EXPECT_EQ(r.kind, providers::TsqlRewrite::Kind::Replaced);
    EXPECT_EQ(r.sql, c.rewritten);
  } else {
    EXPECT_EQ(r.kind, providers::TsqlRewrite::Kind::Unchanged);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeyFunctionRewriteTest,
    ::testing::Values(
        RewriteCase{"Exact", "select acFieldName, acProcName from fQZ_GetPksFieldsAndProc('tqz_Reports')",
                    "select acFieldName, acProcName from fQZ_GetPksFieldsAndProc where acTableName = "
                    "'tqz_Reports'"},
        RewriteCase{"DoubledQuote", "select acFieldName, acProcName from fQZ_GetPksFieldsAndProc('K''Q')",
                    "select acFieldName, acProcName from fQZ_GetPksFieldsAndProc where acTableName = 'K''Q'"},
        RewriteCase{"BlanksAndCase", "SELECT acFieldName,  acProcName\r\nFROM fqz_getpksfieldsandproc('T')",
                    "select acFieldName, acProcName from fQZ_GetPksFieldsAndProc where acTableName = 'T'"},
        RewriteCase{"SpacedCall", "select acFieldName, acProcName from fQZ_GetPksFieldsAndProc ( 'T' )  ",
                    "select acFieldName, acProcName from fQZ_GetPksFieldsAndProc where acTableName = 'T'"},
        RewriteCase{"QuoteLeftOpen", "select acFieldName, acProcName from fQZ_GetPksFieldsAndProc('T''))", nullptr},
        RewriteCase{"TextAfterTheCall",
                    "select acFieldName, acProcName from fQZ_GetPksFieldsAndProc('T') where 1 = 1", nullptr},
        RewriteCase{"NotALiteral", "select acFieldName, acProcName from fQZ_GetPksFieldsAndProc(name)", nullptr},
        RewriteCase{"OtherColumns", "select * from fQZ_GetPksFieldsAndProc('T')", nullptr}),
    [](const ::testing::TestParamInfo<RewriteCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tersify::testing
