// Writing rows back against every provider: generated row statements that
// find the row by its primary key and write only what changed, the
// application's own statements with :OLD_ parameters, and the hooks around them.

#include <set>
#include <vector>

#include "tests/client/client_fixture.h"

namespace tersify::testing {
namespace {

// Records the hooks of the row statements; can refuse generated ones.
class RecordingQuery : public TMSQuery {
 public:
  using TMSQuery::TMSQuery;
  bool refuse = false;
  std::vector<TStatementTypes> asked, written;
  std::vector<std::string> param_names;

 protected:
  bool PerformStatement(TStatementTypes kinds) override {
    asked.push_back(kinds);
    return !refuse && TMSQuery::PerformStatement(kinds);
  }
  void AfterRowStatement(TDataSet* sender, TStatementTypes kinds, TParams& params) override {
    written.push_back(kinds);
    param_names.clear();
    for (int i = 0; i < params.Count(); ++i) param_names.push_back(params[i].Name());
    TMSQuery::AfterRowStatement(sender, kinds, params);
  }
};

class PostingTest : public ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    // The triggers note every column an update statement names, changed or not.
    Db().ExecDirect(
        "create table t (id integer primary key, name varchar(20), qty integer default 7,"
        " note varchar(20));"
        "create table touched (col varchar(10));"
        "create trigger t_name after update of name on t begin insert into touched values ('name'); end;"
        "create trigger t_qty after update of qty on t begin insert into touched values ('qty'); end;"
        "create trigger t_note after update of note on t begin insert into touched values ('note'); end;"
        "insert into t values (1, 'one', 10, 'n1');"
        "insert into t values (2, 'two', 20, 'n2');");
  }

  std::unique_ptr<RecordingQuery> Recording(const std::string& sql) {
    auto q = std::make_unique<RecordingQuery>(nullptr);
    q->SetConnection(&Connection());
    q->SetSQLText(sql);
    q->Open();
    return q;
  }

  std::multiset<std::string> Touched() {
    std::multiset<std::string> cols;
    for (auto q = Opened("select col from touched"); !q->Eof(); q->Next()) cols.insert(q->Fields(0)->AsString());
    return cols;
  }

  std::string Row(int id) {
    auto q = Query("select name, qty, note from t where id = :id");
    q->ParamByName("id").SetValue(id);
    q->Open();
    if (q->IsEmpty()) return "missing";
    return q->Fields(0)->AsString() + "|" + q->Fields(1)->AsString() + "|" + q->Fields(2)->AsString();
  }
};

TEST_P(PostingTest, GeneratedUpdateWritesOnlyTheChangedColumnsOfTheKeyedRow) {
  auto q = Recording("select id, name, qty, note from t order by id");
  std::vector<std::string> before_names;
  auto before = [&](TDataSet*, TStatementTypes kinds, TParams& params) {
    EXPECT_EQ(kinds, StatementSet(stUpdate));
    for (int i = 0; i < params.Count(); ++i)
      before_names.push_back(params[i].Name() + "=" + params[i].Value().AsString());
  };
  q->BeforeUpdateExecute = TUpdateExecuteEvent::Of(before);
  q->Edit();
  q->FieldByName("name")->SetAsString("uno");
  q->FieldByName("qty")->SetAsInteger(10);  // same value: not a change
  q->Post();

  EXPECT_EQ(before_names, (std::vector<std::string>{"name=uno", "OLD_id=1"}));
  EXPECT_EQ(q->written, std::vector<TStatementTypes>{StatementSet(stUpdate)});
  EXPECT_EQ(Touched(), std::multiset<std::string>{"name"});
  EXPECT_EQ(Row(1), "uno|10|n1");
  EXPECT_EQ(Row(2), "two|20|n2");
}

TEST_P(PostingTest, SeveralMegabyteBlobsPostAndReadBackByteExact) {
  Db().ExecDirect("create table docs (id integer primary key, data image);"
                  "insert into docs values (1, X'00'), (2, X'01')");
  std::string big(6 * 1024 * 1024 + 3, '\0');
  uint32_t x = 12345;
  for (char& c : big) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  {
    auto q = Opened("select id, data from docs order by id");
    q->Next();  // row 2
    q->Edit();
    q->FieldByName("data")->SetAsString(big);
    q->Post();
  }
  EXPECT_TRUE(Db().StoredBytes("select data from docs where id = 2") == big);
  EXPECT_EQ(Db().StoredBytes("select data from docs where id = 1"), std::string(1, '\0'));
  auto again = Opened("select id, data from docs order by id");
  again->Next();
  EXPECT_TRUE(again->FieldByName("data")->AsString() == big);
}

TEST_P(PostingTest, AnEditWithoutChangesSendsNothing) {
  auto q = Recording("select id, name from t order by id");
  q->Edit();
  q->FieldByName("name")->SetAsString("one");
  q->Post();
  EXPECT_TRUE(q->asked.empty());
  EXPECT_TRUE(q->written.empty());
  EXPECT_TRUE(Touched().empty());
}

TEST_P(PostingTest, ChangingTheKeyFindsTheRowByItsOldKey) {
  auto q = Recording("select id, name from t order by id");
  q->Edit();
  q->FieldByName("id")->SetAsInteger(10);
  q->Post();
  EXPECT_EQ(Row(1), "missing");
  EXPECT_EQ(Row(10), "one|10|n1");
  // The row is known by its new key from now on.
  q->Edit();
  q->FieldByName("name")->SetAsString("ten");
  q->Post();
  EXPECT_EQ(Row(10), "ten|10|n1");
}

TEST_P(PostingTest, GeneratedInsertWritesTheAssignedColumnsAndDeleteRemovesByKey) {
  auto q = Recording("select id, name, qty, note from t order by id");
  q->Append();
  q->FieldByName("id")->SetAsInteger(3);
  q->FieldByName("name")->SetAsString("three");
  q->Post();
  EXPECT_EQ(Row(3), "three|7|");  // qty left to the table's default
  EXPECT_EQ(q->RecordCount(), 3);

  q->First();
  q->Delete();
  EXPECT_EQ(Row(1), "missing");
  EXPECT_EQ(Row(2), "two|20|n2");
  EXPECT_EQ(q->written,
            (std::vector<TStatementTypes>{StatementSet(stInsert), StatementSet(stDelete)}));
}

TEST_P(PostingTest, ApplicationStatementsBindNewAndOldValues) {
  auto q = Recording("select id, name, note from t order by id");
  q->SQLUpdate().SetText("update t set name = :name, id = :id, note = :OLD_name where id = :old_ID");
  q->SQLInsert().SetText("insert into t (id, name, note) values (:id, :name, 'custom')");
  q->SQLDelete().SetText("delete from t where id = :OLD_id and name = :name");
  q->Edit();
  q->FieldByName("id")->SetAsInteger(5);
  q->FieldByName("name")->SetAsString("five");
  q->Post();
  EXPECT_EQ(Row(1), "missing");
  EXPECT_EQ(Row(5), "five|10|one");
  EXPECT_EQ(q->param_names, (std::vector<std::string>{"name", "id", "OLD_name", "old_ID"}));
  EXPECT_TRUE(q->asked.empty());  // application statements are not asked for

  q->Append();
  q->FieldByName("id")->SetAsInteger(6);
  q->FieldByName("name")->SetAsString("six");
  q->Post();
  EXPECT_EQ(Row(6), "six|7|custom");

  ASSERT_TRUE(q->Locate("id", 2, 0));
  q->Delete();
  EXPECT_EQ(Row(2), "missing");
  EXPECT_EQ(q->written, (std::vector<TStatementTypes>{StatementSet(stUpdate), StatementSet(stInsert),
                                                       StatementSet(stDelete)}));
}

TEST_P(PostingTest, StrictUpdateHoldsApplicationStatementsToOneRow) {
  auto q = Recording("select id, name from t order by id");
  q->SQLUpdate().SetText("update t set name = :name where id = -1");
  q->Edit();
  q->FieldByName("name")->SetAsString("x");
  EXPECT_THROW(q->Post(), EDAError);
  q->Cancel();
  q->Options().StrictUpdate = false;
  q->Edit();
  q->FieldByName("name")->SetAsString("x");
  q->Post();
  EXPECT_EQ(Row(1), "one|10|n1");
}

TEST_P(PostingTest, WithoutTheKeyAmongTheColumnsNothingIsWritten) {
  auto q = Recording("select name, qty from t order by name");
  q->Edit();
  q->FieldByName("name")->SetAsString("changed");
  try {
    q->Post();
    ADD_FAILURE() << "the row cannot be identified";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find("'id'"), std::string::npos) << e.Message();
    EXPECT_NE(e.Message().find("'t'"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(q->State(), TDataSetState::dsEdit);
  q->Cancel();
  EXPECT_TRUE(q->written.empty());
  EXPECT_EQ(Row(1), "one|10|n1");
  EXPECT_EQ(Row(2), "two|20|n2");
  EXPECT_TRUE(Touched().empty());
}

TEST_P(PostingTest, ATableWithoutPrimaryKeyIsNeverWrittenByAGeneratedStatement) {
  Db().ExecDirect("create table loose (a integer, b varchar(10)); insert into loose values (1, 'x');"
                  "insert into loose values (1, 'x');");
  auto q = Opened("select a, b from loose");
  q->Edit();
  q->FieldByName("b")->SetAsString("y");
  try {
    q->Post();
    ADD_FAILURE() << "a table without key cannot be written by key";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find("'loose'"), std::string::npos) << e.Message();
  }
  q->Cancel();
  EXPECT_EQ(Scalar("select count(*) from loose where b = 'x'").AsInteger(), 2);
}

TEST_P(PostingTest, ARowThatIsGoneMakesTheUpdateFail) {
  auto q = Recording("select id, name from t order by id");
  Db().ExecDirect("delete from t where id = 1");
  q->Edit();
  q->FieldByName("name")->SetAsString("ghost");
  try {
    q->Post();
    ADD_FAILURE() << "no row was written";
  } catch (const EDAError& e) {
    EXPECT_EQ(e.Message(), "Update failed. Found 0 records");
  }
  EXPECT_TRUE(q->written.empty());
  q->Cancel();
  EXPECT_THROW(q->Delete(), EDAError);  // the same for a delete
  EXPECT_TRUE(q->written.empty());
}

TEST_P(PostingTest, ARefusedGeneratedStatementIsNotRunAndNotAnError) {
  auto q = Recording("select id, name from t order by id");
  q->refuse = true;
  q->Edit();
  q->FieldByName("name")->SetAsString("refused");
  q->Post();
  EXPECT_EQ(q->asked, std::vector<TStatementTypes>{StatementSet(stUpdate)});
  EXPECT_TRUE(q->written.empty());
  EXPECT_EQ(Row(1), "one|10|n1");
  EXPECT_EQ(q->State(), TDataSetState::dsBrowse);
}

TEST_P(PostingTest, AfterRowStatementSeesTheRowAlreadyWritten) {
  auto q = Recording("select id, name from t order by id");
  std::string seen;
  auto after = [&](TDataSet*, TStatementTypes, TParams&) { seen = Row(1); };
  q->AfterUpdateExecute = TUpdateExecuteEvent::Of(after);
  q->Edit();
  q->FieldByName("name")->SetAsString("first");
  q->Post();
  EXPECT_EQ(seen, "first|10|n1");
}

TEST_P(PostingTest, AReadOnlyDatasetWritesNothing) {
  auto q = Opened("select id, name from t order by id");
  q->SetReadOnly(true);
  q->Edit();
  q->FieldByName("name")->SetAsString("no");
  EXPECT_THROW(q->Post(), EDatabaseError);
  q->Cancel();
  EXPECT_EQ(Row(1), "one|10|n1");
}

INSTANTIATE_TEST_SUITE_P(Providers, PostingTest, ::testing::ValuesIn(AvailableProviders()), ProviderName());

}  // namespace
}  // namespace tersify::testing
