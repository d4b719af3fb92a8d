#include "db/script.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/providers/sqlite/sqlite_registry.h"
#include "db/database.h"
#include "db/registries.h"
#include "framework/rtl/variant.h"
#include "tests/db/script_test_support.h"

namespace tersify {
namespace {

using testing::LayerFixture;
using testing::LogEntry;

// ------------------------------------------------ against every provider

class ScriptProviderTest : public LayerFixture, public ::testing::TestWithParam<std::string> {
 protected:
  ScriptProviderTest() : LayerFixture(GetParam()) {
    test_database_->ExecDirect("create table calls (a int, b varchar(20))");
  }
  int Calls() { return database_->SelectInteger("select count(*) from calls", -1); }
};

TEST_P(ScriptProviderTest, ExecuteRunsTheTextAndTracesItBeforeAndAfter) {
  database_->SetConnected(true);
  std::unique_ptr<TvrScript> script(database_->CreateScript(nullptr));
  script->SQL()->Add("insert into calls (a, b)");
  script->SQL()->Add("values (1, 'x')");
  SQLTraceEnabled = true;
  script->Execute();
  SQLTraceEnabled = false;

  EXPECT_EQ(Calls(), 1);
  auto traces = EntriesOf(script.get());
  ASSERT_EQ(traces.size(), 2u);
  EXPECT_EQ(traces[0].operation, "BeforeExecute");
  EXPECT_EQ(traces[1].operation, "AfterExecute");
  for (const LogEntry& trace : traces) {
    EXPECT_FALSE(trace.is_error);
    EXPECT_EQ(trace.detail, "SQL --> insert into calls (a, b)\r\nvalues (1, 'x')\r\n");
  }
}

TEST_P(ScriptProviderTest, AFailingRunPropagatesAndWritesNoAfterTrace) {
  database_->SetConnected(true);
  std::unique_ptr<TvrScript> script(database_->CreateScript(nullptr));
  script->SQL()->SetText("insert into no_such_table values (1)");
  SQLTraceEnabled = true;
  EXPECT_THROW(script->Execute(), Exception);
  auto traces = EntriesOf(script.get());
  ASSERT_EQ(traces.size(), 1u);
  EXPECT_EQ(traces[0].operation, "BeforeExecute");
}

TEST_P(ScriptProviderTest, WithTheTraceSwitchOffNothingReachesTheLog) {
  database_->SetConnected(true);
  database_->ExecSQL("insert into calls (a) values (2)");
  std::unique_ptr<TvrScript> script(database_->CreateScript(nullptr));
  script->SQL()->SetText("insert into calls (a) values (3)");
  script->Execute();
  EXPECT_EQ(Calls(), 2);
  EXPECT_TRUE(sink_->Entries().empty());
}

TEST_P(ScriptProviderTest, ExecSQLLeavesNoScriptBehind) {
  database_->SetConnected(true);
  const int registered = ScriptRegistry->Count();
  const int owned = database_->ComponentCount();
  database_->ExecSQL("insert into calls (a) values (4)");
  EXPECT_THROW(database_->ExecSQL("insert into no_such_table values (1)"), Exception);
  EXPECT_EQ(ScriptRegistry->Count(), registered);
  EXPECT_EQ(database_->ComponentCount(), owned);
  EXPECT_EQ(Calls(), 1);
}

// A stored procedure test: procedures registered with the sqlite provider,
// which the TDS test server runs as well.
class StoredProcProviderTest : public ScriptProviderTest {
 protected:
  StoredProcProviderTest() {
    using providers::ProcParamInfo;
    record_ = providers::RegisterProcedure(
        "pScript_Record", {ProcParamInfo{"A", ftInteger}, ProcParamInfo{"B", ftString}},
        [](providers::Provider& provider, std::vector<Variant>& args) {
          provider.Execute("insert into calls (a, b) values (?, ?)", args);
          return std::unique_ptr<providers::Cursor>();
        });
    no_params_ = providers::RegisterProcedure(
        "pScript_NoParams", {}, [](providers::Provider& provider, std::vector<Variant>&) {
          provider.Execute("insert into calls (a) values (0)", {});
          return std::unique_ptr<providers::Cursor>();
        });
    failing_ = providers::RegisterProcedure(
        "pScript_Fails", {}, [](providers::Provider& provider, std::vector<Variant>&) {
          return provider.Execute("insert into no_such_table values (1)", {});
        });
    user_id_ = providers::RegisterScalarFunction("fQZ_UserGetCurrentUserID",
                                                 [](const std::vector<Variant>&) { return Variant(77); });
  }

  providers::Registration record_, no_params_, failing_, user_id_;
};

TEST_P(StoredProcProviderTest, ExecProcPassesTheParametersAndTracesTheListing) {
  MakeDefault();
  auto proc = std::make_unique<TvrStoredProc>(nullptr);
  proc->SetStoredProcName("pScript_Record");
  proc->ParamByName("A").SetAsInteger(5);
  proc->ParamByName("B").SetAsString("five");
  SQLTraceEnabled = true;
  proc->ExecProc();
  SQLTraceEnabled = false;

  EXPECT_EQ(database_->SelectInteger("select a from calls where b = 'five'", -1), 5);
  auto traces = EntriesOf(proc.get());
  ASSERT_EQ(traces.size(), 2u);
  EXPECT_EQ(traces[0].operation, "BeforeExecProc");
  EXPECT_EQ(traces[0].detail, "Sp. name --> pScript_Record\r\nParameters -->@A := 5\r\n@B := five");
  EXPECT_EQ(traces[1].operation, "AfterExecProc");
  EXPECT_EQ(traces[1].detail, "Sp. name --> pScript_Record");
}

// Filtered keeps the rows the filter passes; a change while the procedure is
// open runs it again, and a filter that cannot be read changes nothing.
TEST_P(StoredProcProviderTest, FilteredKeepsTheRowsTheFilterPasses) {
  MakeDefault();
  auto rows = providers::RegisterProcedure("pScript_Rows", {}, [](providers::Provider& provider, std::vector<Variant>&) {
    return provider.Execute(
        "select 'A1' as acCode, 5 as anQty union all select 'a2', 12 union all select 'B1', null "
        "union all select 'A3', 2",
        {});
  });
  auto proc = std::make_unique<TvrStoredProc>(nullptr);
  proc->SetStoredProcName("pScript_Rows");
  auto codes = [&proc] {
    std::string out;
    TMSStoredProc& rows_of = proc->InternalProc();
    for (rows_of.First(); !rows_of.Eof(); rows_of.Next()) out += rows_of.FieldByName("acCode")->AsString() + " ";
    return out;
  };
  proc->SetFilter("acCode = 'A*' and anQty >= 5");  // kept, not yet applied
  proc->SetActive(true);
  EXPECT_EQ(codes(), "A1 a2 B1 A3 ");
  proc->SetFiltered(true);
  EXPECT_EQ(codes(), "A1 ");
  proc->SetFilterOptions(foCaseInsensitive);
  EXPECT_EQ(codes(), "A1 a2 ");
  proc->SetFilter("anQty is null or not (anQty > 2)");
  EXPECT_EQ(codes(), "B1 A3 ");
  proc->SetFilterOptions(foNoPartialCompare);
  proc->SetFilter("acCode = 'A*'");
  EXPECT_EQ(codes(), "");

  EXPECT_THROW(proc->SetFilter("acCode = "), EDatabaseError);
  EXPECT_EQ(proc->Filter(), "acCode = 'A*'");
  proc->SetFiltered(false);
  EXPECT_EQ(codes(), "A1 a2 B1 A3 ");
}

TEST_P(StoredProcProviderTest, AProcedureWithoutParametersEndsItsTraceAtTheMarker) {
  MakeDefault();
  auto proc = std::make_unique<TvrStoredProc>(nullptr);
  proc->SetStoredProcName("pScript_NoParams");
  SQLTraceEnabled = true;
  proc->ExecProc();
  SQLTraceEnabled = false;
  EXPECT_EQ(Calls(), 1);
  auto traces = EntriesOf(proc.get());
  ASSERT_EQ(traces.size(), 2u);
  EXPECT_EQ(traces[0].detail, "Sp. name --> pScript_NoParams\r\nParameters -->");
}

TEST_P(StoredProcProviderTest, AFailingProcedurePropagatesWithoutAfterTrace) {
  MakeDefault();
  auto proc = std::make_unique<TvrStoredProc>(nullptr);
  proc->SetStoredProcName("pScript_Fails");
  SQLTraceEnabled = true;
  EXPECT_THROW(proc->ExecProc(), Exception);
  auto traces = EntriesOf(proc.get());
  ASSERT_EQ(traces.size(), 1u);
  EXPECT_EQ(traces[0].operation, "BeforeExecProc");
}

TEST_P(StoredProcProviderTest, NoTraceWhileTheSwitchIsOff) {
  MakeDefault();
  auto proc = std::make_unique<TvrStoredProc>(nullptr);
  proc->SetStoredProcName("pScript_NoParams");
  proc->ExecProc();
  EXPECT_EQ(Calls(), 1);
  EXPECT_TRUE(sink_->Entries().empty());
}

TEST_P(StoredProcProviderTest, NamingTheProcedureConnectsADisconnectedDefaultDatabaseFirst) {
  int connects = 0;
  auto count_connect = [&connects](TObject*) { ++connects; };
  database_->AfterConnect = TNotifyEvent::Of(count_connect);
  MakeDefault();
  auto proc = std::make_unique<TvrStoredProc>(nullptr);
  // Construction prepares the connection but hands it to the procedure only later.
  ASSERT_NE(database_->IntConnectionMS(), nullptr);
  EXPECT_EQ(proc->Database(), database_.get());
  EXPECT_EQ(proc->InternalProc().Connection(), nullptr);
  EXPECT_FALSE(database_->Connected());

  proc->SetStoredProcName("pScript_Record");
  EXPECT_TRUE(database_->Connected());
  EXPECT_EQ(connects, 1);
  EXPECT_NE(database_->SPID(), 0);       // the after-connect queries ran
  EXPECT_EQ(database_->anUserID(), 77);  // including the user-id query
  EXPECT_EQ(proc->Database(), database_.get());
  EXPECT_EQ(proc->InternalProc().Connection(), database_->IntConnectionMS());
  EXPECT_EQ(proc->StoredProcName(), "pScript_Record");
  EXPECT_EQ(proc->Params().Count(), 2);  // read from the server once connected

  // With a connection in place, a new name connects nothing again.
  proc->SetStoredProcName("pScript_NoParams");
  EXPECT_EQ(connects, 1);
}

TEST_P(StoredProcProviderTest, AnEmptyNameConnectsNothing) {
  MakeDefault();
  auto proc = std::make_unique<TvrStoredProc>(nullptr);
  proc->SetStoredProcName("");
  EXPECT_FALSE(database_->Connected());
  EXPECT_EQ(proc->InternalProc().Connection(), nullptr);
  EXPECT_EQ(proc->Database(), database_.get());
}

TEST_P(StoredProcProviderTest, WritingDatabaseHandsItsConnectionToTheProcedure) {
  auto proc = std::make_unique<TvrStoredProc>(nullptr);
  EXPECT_EQ(proc->Database(), nullptr);
  proc->SetDatabase(database_.get());
  ASSERT_NE(database_->IntConnectionMS(), nullptr);
  EXPECT_EQ(proc->InternalProc().Connection(), database_->IntConnectionMS());
  EXPECT_FALSE(database_->Connected());
  proc->SetDatabase(nullptr);
  EXPECT_EQ(proc->Database(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Providers, ScriptProviderTest, ::testing::ValuesIn(testing::AvailableProviders()),
                         testing::ProviderName());
INSTANTIATE_TEST_SUITE_P(Providers, StoredProcProviderTest, ::testing::ValuesIn(testing::AvailableProviders()),
                         testing::ProviderName());

// ------------------------------------------------ without a server

class ScriptTest : public LayerFixture, public ::testing::Test {
 protected:
  ScriptTest() : LayerFixture("sqlite") {}
};

TEST_F(ScriptTest, AScriptAttachesToTheDefaultDatabaseAndItsConnectionOfThatMoment) {
  auto detached = std::make_unique<TvrScript>(nullptr);
  EXPECT_EQ(detached->Database(), nullptr);
  ASSERT_NE(detached->InternalQuery(), nullptr);
  EXPECT_TRUE(ScriptRegistry->Contains(detached.get()));

  MakeDefault();
  auto unprepared = std::make_unique<TvrScript>(nullptr);
  EXPECT_EQ(unprepared->Database(), database_.get());
  EXPECT_EQ(unprepared->InternalQuery()->Connection(), nullptr);

  database_->PrepareConnection();
  auto prepared = std::make_unique<TvrScript>(nullptr);
  EXPECT_EQ(prepared->InternalQuery()->Connection(), database_->IntConnectionMS());
  unprepared->SetDatabase(database_.get());
  EXPECT_EQ(unprepared->InternalQuery()->Connection(), database_->IntConnectionMS());

  // Clearing the database clears only the reference.
  prepared->SetDatabase(nullptr);
  EXPECT_EQ(prepared->Database(), nullptr);
  EXPECT_EQ(prepared->InternalQuery()->Connection(), database_->IntConnectionMS());

  TvrScript* gone = detached.get();
  detached.reset();
  EXPECT_FALSE(ScriptRegistry->Contains(gone));
}

TEST_F(ScriptTest, AScriptForAnotherConnectionTypeHasNoQueryAndRunsNothing) {
  database_->SetConnectionType(ctODAC);
  std::unique_ptr<TvrScript> script(database_->CreateScript(nullptr));
  EXPECT_EQ(script->Owner(), database_.get());
  EXPECT_EQ(script->Database(), database_.get());
  EXPECT_EQ(script->InternalQuery(), nullptr);
  EXPECT_EQ(script->SQL(), nullptr);
  EXPECT_EQ(script->Macros(), nullptr);
  script->SetDebug(true);
  EXPECT_FALSE(script->Debug());
  TStringList lines;
  lines.Add("select 1");
  script->SetSQL(lines);
  EXPECT_EQ(script->SQL(), nullptr);

  SQLTraceEnabled = true;
  script->Execute();  // nothing runs, nothing is raised
  auto traces = EntriesOf(script.get());
  ASSERT_EQ(traces.size(), 2u);
  EXPECT_EQ(traces[0].detail, "SQL --> ");
  EXPECT_EQ(traces[1].detail, "SQL --> ");

  // Outside CreateScript the default connection type decides again.
  auto plain = std::make_unique<TvrScript>(nullptr);
  EXPECT_NE(plain->InternalQuery(), nullptr);
}

class StoredProcTest : public ScriptTest {};

TEST_F(StoredProcTest, ConstructionDefaults) {
  auto proc = std::make_unique<TvrStoredProc>(nullptr);
  EXPECT_TRUE(StoredProcRegistry->Contains(proc.get()));
  EXPECT_EQ(proc->Database(), nullptr);
  EXPECT_EQ(&proc->ParamsInterface().StoredProc()->InternalProc(), &proc->InternalProc());
  EXPECT_TRUE(proc->TrimVarChar());
  EXPECT_TRUE(proc->InternalProc().Options().TrimVarChar);
  EXPECT_TRUE(proc->TrimFixedChar());
  TParams params;
  params.CreateParam(ftInteger, "A", TParamType::ptInput).SetAsInteger(3);
  proc->SetParams(params);  // copied, not shared
  params.Clear();
  EXPECT_EQ(proc->InternalProc().Params().ParamByName("A").AsInteger(), 3);

  TvrStoredProc* gone = proc.get();
  proc.reset();
  EXPECT_FALSE(StoredProcRegistry->Contains(gone));
}

TEST_F(StoredProcTest, CommandTimeoutsAreOneValue) {
  auto proc = std::make_unique<TvrStoredProc>(nullptr);
  proc->SetMSCommandTimeout(30);
  EXPECT_EQ(proc->CommandTimeout(), 30);
  EXPECT_EQ(proc->InternalProc().CommandTimeout(), 30);
  proc->SetCommandTimeout(45);
  EXPECT_EQ(proc->MSCommandTimeout(), 45);
  EXPECT_EQ(proc->InternalProc().CommandTimeout(), 45);
}

TEST_F(StoredProcTest, OracleSwitchesReadFalseAfterAnyWrite) {
  auto proc = std::make_unique<TvrStoredProc>(nullptr);
  for (bool value : {true, false, true}) {
    proc->SetORAAutoCommit(value);
    proc->SetORANonBlocking(value);
    EXPECT_FALSE(proc->ORAAutoCommit());
    EXPECT_FALSE(proc->ORANonBlocking());
  }
}

// The client has neither cached updates nor a one-way cursor: the stored
// procedure's switches for them refuse true.
TEST_F(StoredProcTest, CachedUpdatesAndUniDirectionalAreRefused) {
  auto proc = std::make_unique<TvrStoredProc>(nullptr);
  EXPECT_THROW(proc->SetCachedUpdates(true), EDatabaseError);
  EXPECT_THROW(proc->SetUniDirectional(true), EDatabaseError);
  EXPECT_FALSE(proc->CachedUpdates());
  EXPECT_FALSE(proc->UniDirectional());
}

struct FetchAllCase {
  bool has_database;
  bool mars;
  bool written;
  bool expected;
};

class StoredProcFetchAllTest : public ScriptTest, public ::testing::WithParamInterface<FetchAllCase> {};

TEST_P(StoredProcFetchAllTest, PartialFetchNeedsSeveralActiveResultSets) {
  const FetchAllCase c = GetParam();
  database_->SetMultipleActiveResultSets(c.mars);
  auto proc = std::make_unique<TvrStoredProc>(nullptr);
  if (c.has_database) proc->SetDatabase(database_.get());
  proc->SetFetchAll(c.written);
  EXPECT_EQ(proc->FetchAll(), c.expected);
  EXPECT_EQ(proc->InternalProc().FetchAll(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, StoredProcFetchAllTest,
                         ::testing::Values(FetchAllCase{true, false, false, true},
                                           FetchAllCase{true, true, false, false},
                                           FetchAllCase{true, true, true, true},
                                           FetchAllCase{false, true, false, true}));

TEST_F(StoredProcTest, AFailedConnectLeavesTheComponentWithoutDatabaseOrName) {
  database_->SetDatabaseName(test_database_->FilePath() + ".missing");
  MakeDefault();
  auto proc = std::make_unique<TvrStoredProc>(nullptr);
  EXPECT_THROW(proc->SetStoredProcName("pScript_Record"), Exception);
  EXPECT_EQ(proc->Database(), nullptr);
  EXPECT_EQ(proc->StoredProcName(), "");
  EXPECT_FALSE(database_->Connected());
}

TEST_F(StoredProcTest, ADatabaseThatCannotConnectIsDropped) {
  database_->SetConnectionType(ctODAC);
  MakeDefault();
  auto proc = std::make_unique<TvrStoredProc>(nullptr);
  EXPECT_EQ(database_->IntConnectionMS(), nullptr);
  proc->SetStoredProcName("pScript_Record");
  EXPECT_EQ(proc->Database(), nullptr);
  EXPECT_EQ(proc->StoredProcName(), "pScript_Record");
}

TEST_F(StoredProcTest, ParamsTextListsEveryParameterOnItsOwnLine) {
  auto proc = std::make_unique<TvrStoredProc>(nullptr);
  EXPECT_EQ(proc->ParamsText(), "");
  TParams& params = proc->Params();
  params.CreateParam(ftInteger, "A", TParamType::ptInput).SetAsInteger(1);
  params.CreateParam(ftString, "B", TParamType::ptInput);
  EXPECT_EQ(proc->ParamsText(), "@A := 1\r\n@B := ");
}

TEST_F(StoredProcTest, ParamsTextRendersEachKindOfValue) {
  auto proc = std::make_unique<TvrStoredProc>(nullptr);
  TParams& params = proc->Params();
  params.CreateParam(ftBlob, "Data", TParamType::ptInput).SetAsBlob(std::string("a\0b", 3));
  params.CreateParam(ftDateTime, "When", TParamType::ptInput).SetAsDateTime(EncodeDateTime(2024, 2, 29, 13, 5, 9));
  params.CreateParam(ftDate, "Day", TParamType::ptInput).SetAsDateTime(EncodeDateTime(2024, 3, 1));
  params.CreateParam(ftFloat, "Rate", TParamType::ptInput).SetAsFloat(2.5);
  params.CreateParam(ftString, "Name", TParamType::ptInput).SetAsString("");
  EXPECT_EQ(proc->ParamsText(),
            std::string("@Data := a\0b", 12) + "\r\n@When := 2024-02-29 13:05:09\r\n@Day := 2024-03-01\r\n" +
                "@Rate := 2.5\r\n@Name := ");
}

TEST_F(StoredProcTest, ParamByNameOfAnUnknownNameRaisesTheClientsError) {
  auto proc = std::make_unique<TvrStoredProc>(nullptr);
  proc->Params().CreateParam(ftInteger, "A", TParamType::ptInput);
  EXPECT_EQ(&proc->ParamByName("a"), &proc->Params().ParamByName("A"));
  EXPECT_THROW(proc->ParamByName("Missing"), EDatabaseError);
}

}  // namespace
}  // namespace tersify
