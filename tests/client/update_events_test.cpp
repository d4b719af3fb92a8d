// The row-update events against every provider: OnUpdateRecord writing a row
// in place of the library's statement (or skipping, aborting, failing it),
// OnUpdateError deciding what a failed statement means; and the settings the
// library does not implement, refused instead of being accepted silently.

#include <functional>
#include <string>
#include <vector>

#include "tests/client/client_fixture.h"

namespace tersify::testing {
namespace {

class UpdateEventsTest : public ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    Db().ExecDirect(
        "create table t (id integer primary key, name varchar(20));"
        "insert into t values (1, 'one');"
        "insert into t values (2, 'two')");
  }
  std::string Names() { return Db().StoredBytes("select group_concat(id || '=' || name, ',') from t"); }
};

// The handler runs instead of the library's own statement; what it sets
// decides the outcome. It never sees the library's statement run.
TEST_P(UpdateEventsTest, OnUpdateRecordTakesThePlaceOfTheLibrarysStatement) {
  struct Case {
    const char* name;
    TUpdateAction action;
    bool raises;
    const char* stored;
  };
  const Case cases[] = {
      {"Applied", TUpdateAction::uaApplied, false, "1=handled,2=two"},
      {"Skip", TUpdateAction::uaSkip, false, "1=one,2=two"},
      {"Fail", TUpdateAction::uaFail, true, "1=one,2=two"},
      {"Abort", TUpdateAction::uaAbort, true, "1=one,2=two"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Db().ExecDirect("update t set name = 'one' where id = 1");
    auto query = Opened("select id, name from t order by id");
    std::vector<TUpdateKind> kinds;
    auto handler = [&](TDataSet* dataset, TUpdateKind kind, TUpdateAction& action) {
      kinds.push_back(kind);
      if (c.action == TUpdateAction::uaApplied) {
        auto write = Query("update t set name = 'handled' where id = " + dataset->FieldByName("id")->AsString());
        write->Execute();
      }
      action = c.action;
    };
    query->OnUpdateRecord = TUpdateRecordEvent::Of(handler);
    query->Edit();
    query->FieldByName("name")->SetAsString("edited");
    if (c.raises) {
      if (c.action == TUpdateAction::uaAbort)
        EXPECT_THROW(query->Post(), EAbort);
      else
        EXPECT_THROW(query->Post(), EDatabaseError);
      EXPECT_EQ(query->State(), TDataSetState::dsEdit);
      query->Cancel();
    } else {
      query->Post();
      EXPECT_EQ(query->State(), TDataSetState::dsBrowse);
    }
    EXPECT_EQ(kinds, std::vector<TUpdateKind>{TUpdateKind::ukModify});
    EXPECT_EQ(Names(), c.stored);
  }
}

TEST_P(UpdateEventsTest, OnUpdateRecordNamesInsertsAndDeletes) {
  auto query = Opened("select id, name from t order by id");
  std::vector<TUpdateKind> kinds;
  auto handler = [&](TDataSet*, TUpdateKind kind, TUpdateAction& action) {
    kinds.push_back(kind);
    action = TUpdateAction::uaSkip;
  };
  query->OnUpdateRecord = TUpdateRecordEvent::Of(handler);
  query->Append();
  query->FieldByName("id")->SetAsInteger(3);
  query->Post();
  query->First();
  query->Delete();
  EXPECT_EQ(kinds, (std::vector<TUpdateKind>{TUpdateKind::ukInsert, TUpdateKind::ukDelete}));
  EXPECT_EQ(Names(), "1=one,2=two");  // every statement was skipped
}

// A statement that fails asks OnUpdateError: fail (the default) raises the
// error, skip and applied go on without it, retry runs the statement again,
// abort ends silently.
TEST_P(UpdateEventsTest, OnUpdateErrorDecidesWhatAFailedStatementMeans) {
  struct Case {
    const char* name;
    TUpdateAction action;
    bool raises;
  };
  const Case cases[] = {{"Fail", TUpdateAction::uaFail, true},
                        {"Skip", TUpdateAction::uaSkip, false},
                        {"Applied", TUpdateAction::uaApplied, false},
                        {"Abort", TUpdateAction::uaAbort, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto query = Opened("select id, name from t order by id");
    query->SQLUpdate().SetText("update t set no_such_column = :name where id = :OLD_id");
    std::vector<std::string> errors;
    auto handler = [&](TDataSet*, EDatabaseError& error, TUpdateKind kind, TUpdateAction& action) {
      EXPECT_EQ(kind, TUpdateKind::ukModify);
      errors.push_back(error.Message());
      action = c.action;
    };
    query->OnUpdateError = TUpdateErrorEvent::Of(handler);
    query->Edit();
    query->FieldByName("name")->SetAsString("edited");
    if (c.raises) {
      EXPECT_ANY_THROW(query->Post());
      query->Cancel();
    } else {
      query->Post();
    }
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("no_such_column"), std::string::npos) << errors[0];
    EXPECT_EQ(Names(), "1=one,2=two");
  }

  // Retry: the handler mends the statement, the second run writes the row.
  auto query = Opened("select id, name from t order by id");
  query->SQLUpdate().SetText("update t set no_such_column = :name where id = :OLD_id");
  int calls = 0;
  auto retry = [&](TDataSet* dataset, EDatabaseError&, TUpdateKind, TUpdateAction& action) {
    ++calls;
    static_cast<TCustomMSDataSet*>(dataset)->SQLUpdate().SetText("update t set name = :name where id = :OLD_id");
    action = TUpdateAction::uaRetry;
  };
  query->OnUpdateError = TUpdateErrorEvent::Of(retry);
  query->Edit();
  query->FieldByName("name")->SetAsString("retried");
  query->Post();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(Names(), "1=retried,2=two");
}

// Settings the library does not implement raise "... is not supported" when
// given a value other than their default, instead of being kept and ignored.
TEST_P(UpdateEventsTest, SettingsWithoutAnImplementationRefuseOtherValues) {
  const std::vector<std::pair<const char*, std::function<void(TMSQuery&)>>> settings = {
      {"CachedUpdates", [](TMSQuery& q) { q.SetCachedUpdates(true); }},
      {"UniDirectional", [](TMSQuery& q) { q.SetUniDirectional(true); }},
      {"NonBlocking", [](TMSQuery& q) { q.Options().NonBlocking = true; }},
      {"LocalMasterDetail", [](TMSQuery& q) { q.Options().LocalMasterDetail = true; }},
      {"DetailDelay", [](TMSQuery& q) { q.Options().DetailDelay = 100; }},
      {"SQLRefresh", [](TMSQuery& q) { q.SQLRefresh().SetText("select id, name from t where id = :id"); }},
  };
  for (const auto& [name, set] : settings) {
    SCOPED_TRACE(name);
    auto query = Query("select id, name from t order by id");
    try {
      set(*query);
      query->Open();
      ADD_FAILURE() << "accepted";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message().rfind(std::string(name) + " is not supported", 0), 0u) << e.Message();
    }
    EXPECT_FALSE(query->Active());
  }
  // The defaults, written explicitly, are accepted.
  auto query = Query("select id, name from t order by id");
  query->SetCachedUpdates(false);
  query->SetUniDirectional(false);
  query->Open();
  EXPECT_EQ(query->RecordCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(Providers, UpdateEventsTest, ::testing::ValuesIn(AvailableProviders()), ProviderName());

}  // namespace
}  // namespace tersify::testing
