// TvrDataset's posting path on every provider: the generated insert and update
// statements with their audit columns and field switches, the where clause
// taken over from the previous update, the switches that keep generation off,
// Post's own transaction and the AfterPostEx report, and the tool's road (a
// plain dataset writing a blob through the client's own update, with the
// key-procedure probe sent once).

#include <memory>
#include <string>
#include <vector>

#include "client/providers/sqlite/sqlite_registry.h"
#include "tests/db/layer_fixture.h"

namespace tersify::testing {
namespace {

constexpr const char* kVersionQuery =
    "select convert(tinyint, parsename(cast(serverproperty('ProductVersion') as varchar(30)), 4))";

class PostingTest : public ProviderLayerTest {
 protected:
  void SetUp() override {
    ProviderLayerTest::SetUp();
    Db().ExecDirect(
        "create table T (id integer primary key, a varchar(20), b int, anUserIns int, adTimeIns datetime, "
        "anUserChg int, adTimeChg datetime);"
        "insert into T (id, a, b) values (1, 'one', 10);"
        "insert into T (id, a, b) values (2, 'two', 20);"
        // Wide enough for the case names written into it.
        "create table U (id integer primary key, a varchar(40), b int);"
        "insert into U (id, a, b) values (1, 'one', 10);"
        "create table side (n int)");
    db_ = ConnectedDatabase();
  }
  void TearDown() override {
    datasets_.clear();  // before the layer releases its registries
    db_.reset();
    ProviderLayerTest::TearDown();
  }

  // An open dataset on db_; with a table name it generates its statements.
  TvrDataset& Open(const std::string& sql, const std::string& table = "") {
    auto ds = std::make_unique<TvrDataset>(nullptr);
    ds->SetDatabase(db_.get());
    ds->SetSQLText(sql);
    if (!table.empty()) {
      ds->SetTableName(table);
      ds->SetTag(tgGenerateSQL);
    }
    ds->Open();
    datasets_.push_back(std::move(ds));
    return *datasets_.back();
  }
  std::string Raw(const std::string& sql) const { return RawValue(Db(), sql); }

  // Registered before the database connects: anUserID is 17.
  providers::Registration user_ = providers::RegisterScalarFunction(
      "fQZ_UserGetCurrentUserID", [](const std::vector<Variant>&) { return Variant(17); });
  std::unique_ptr<TvrDatabase> db_;
  std::vector<std::unique_ptr<TvrDataset>> datasets_;
};

// ---------------------------------------------------------------- insert

TEST_P(PostingTest, InsertNamesTheChangedFieldsAndStampsAllFourAuditColumns) {
  ASSERT_EQ(db_->anUserID(), 17);
  TvrDataset& ds = Open("select id, a, anUserIns, adTimeIns, anUserChg, adTimeChg from T where 1 = 0", "T");
  ds.Insert();
  ds.FieldByName("a")->SetAsString("new");
  ds.Post();
  EXPECT_EQ(ds.SQLInsert().Text(),
            "insert into T(a,anUserIns,adTimeIns,anUserChg,adTimeChg) "
            "values(:a,17,GetDate(),17,GetDate())\r\n");
  EXPECT_EQ(Raw("select anUserIns || ',' || anUserChg || ',' || (adTimeIns is not null) || "
                "(adTimeChg is not null) from T where a = 'new'"),
            "17,17,11");
}

struct EligibilityCase {
  const char* name;
  bool read_only;
  int tag;
  bool taken;
};

// The switches of a field's Tag and ReadOnly decide whether it is written.
TEST_P(PostingTest, FieldSwitchesDecideWhichFieldsAnInsertWrites) {
  const EligibilityCase cases[] = {
      {"Plain", false, 0, true},
      {"NoSQL", false, tgNoSQL, false},
      {"ReadOnlyWriteReadOnly", true, tgWriteReadOnly, true},
      {"ReadOnlyNoSQLAndOne", true, tgNoSQL | tgWriteReadOnly, false},
      {"ReadOnly", true, 0, false},
      {"ReadOnlyTagThree", true, 3, false},
      {"KeyChangedStillInserted", false, tgKeyChanged, true},
  };
  for (const EligibilityCase& c : cases) {
    SCOPED_TRACE(c.name);
    TvrDataset& ds = Open("select id, a, b from U where 1 = 0", "U");
    ds.Insert();
    ds.FieldByName("a")->SetAsString(c.name);
    ds.FieldByName("b")->SetAsInteger(5);
    TField* a = ds.FieldByName("a");
    a->SetReadOnly(c.read_only);
    a->SetTag(c.tag);
    ds.Post();
    EXPECT_EQ(ds.SQLInsert().Text(), c.taken ? "insert into U(a,b) values(:a,:b)\r\n" : "insert into U(b) values(:b)\r\n");
    const std::string stored = Raw("select count(*) from U where a = '" + std::string(c.name) + "'");
    EXPECT_EQ(stored, c.taken ? "1" : "0");
  }
}

TEST_P(PostingTest, InsertWithoutAnyEligibleFieldLeavesSQLInsertEmpty) {
  TvrDataset& ds = Open("select id, a, b from U where 1 = 0", "U");
  ds.SQLInsert().SetText("insert into U(a) values('stale')");
  ds.Insert();
  ds.FieldByName("a")->SetAsString("x");
  ds.FieldByName("a")->SetTag(tgNoSQL);
  ds.FieldByName("b")->SetReadOnly(true);
  ds.FieldByName("id")->SetReadOnly(true);
  ds.Post();  // the client's own insert writes the row
  EXPECT_EQ(ds.SQLInsert().Count(), 0);
  EXPECT_EQ(Raw("select count(*) from U where a = 'stale'"), "0");
  EXPECT_EQ(Raw("select count(*) from U"), "2");
}

// ---------------------------------------------------------------- update

TEST_P(PostingTest, UpdateSetsTheChangedFieldsAndTheChangeAuditColumnsAndKeepsTheCondition) {
  TvrDataset& ds = Open("select id, a, b, anUserIns, adTimeIns, anUserChg, adTimeChg from T where id = 1", "T");
  ds.SQLUpdate().SetText("update T set a=:a where id=:id");
  ds.Edit();
  ds.FieldByName("a")->SetAsString("uno");
  ds.Post();
  // The condition is the text after " where ", with the line's CR LF.
  EXPECT_EQ(ds.SQLUpdate().Text(), "update T set a=:a,anUserChg=17,adTimeChg=GetDate() where id=:id\r\n");
  EXPECT_EQ(Raw("select a || ',' || b || ',' || anUserChg || ',' || (adTimeChg is not null) || ',' || "
                "(anUserIns is null) from T where id = 1"),
            "uno,10,17,1,1");
  EXPECT_EQ(Raw("select a || ',' || (anUserChg is null) from T where id = 2"), "two,1");

  // The next post keeps the condition.
  ds.Edit();
  ds.FieldByName("b")->SetAsInteger(11);
  ds.Post();
  EXPECT_EQ(ds.SQLUpdate().Text(), "update T set b=:b,anUserChg=17,adTimeChg=GetDate() where id=:id\r\n");
  EXPECT_EQ(Raw("select b from T where id = 1"), "11");
}

TEST_P(PostingTest, UnchangedRowWithChangeAuditColumnsWritesOnlyThose) {
  TvrDataset& ds = Open("select id, a, anUserIns, adTimeIns, anUserChg, adTimeChg from T where id = 1", "T");
  ds.SQLUpdate().SetText("update T set a=:a where id=:id");
  ds.Edit();
  ds.Post();
  EXPECT_EQ(ds.SQLUpdate().Text(), "update T set anUserChg=17,adTimeChg=GetDate() where id=:id\r\n");
  EXPECT_EQ(Raw("select anUserChg from T where id = 1"), "17");
}

TEST_P(PostingTest, UnchangedRowWithoutAuditColumnsWritesEveryEligibleFieldButKeyChangedOnes) {
  TvrDataset& ds = Open("select id, a, b from U where id = 1", "U");
  ds.SQLUpdate().SetText("update U set a=:a where id=:id");
  ds.FieldByName("b")->SetTag(tgKeyChanged);
  ds.Edit();
  ds.Post();
  EXPECT_EQ(ds.SQLUpdate().Text(), "update U set id=:id,a=:a where id=:id\r\n");
}

TEST_P(PostingTest, InsertAuditColumnsChangedWhileEditingAreParametersNotStamps) {
  TvrDataset& ds = Open("select id, anUserIns, adTimeIns, anUserChg from T where id = 1", "T");
  ds.SQLUpdate().SetText("update T set a=:a where id=:id");
  ds.Edit();
  ds.FieldByName("anUserIns")->SetAsInteger(5);
  ds.Post();
  EXPECT_EQ(ds.SQLUpdate().Text(), "update T set anUserIns=:anUserIns,anUserChg=17 where id=:id\r\n");
  EXPECT_EQ(Raw("select anUserIns || ',' || anUserChg from T where id = 1"), "5,17");
}

TEST_P(PostingTest, AuditColumnsAreRecognisedIgnoringCaseAndKeepTheFieldsSpelling) {
  auto ds = std::make_unique<TvrDataset>(nullptr);
  ds->SetDatabase(db_.get());
  ds->SetFieldNamesToUpperCase(true);
  ds->SetSQLText("select id, a, anUserChg, adTimeChg from T where id = 2");
  ds->SetTableName("T");
  ds->SetTag(tgGenerateSQL);
  ds->Open();
  ds->SQLUpdate().SetText("update T set A=:A where ID=:ID");
  ds->Edit();
  ds->Post();
  EXPECT_EQ(ds->SQLUpdate().Text(), "update T set ANUSERCHG=17,ADTIMECHG=GetDate() where ID=:ID\r\n");
  EXPECT_EQ(Raw("select anUserChg from T where id = 2"), "17");
  datasets_.push_back(std::move(ds));
}

TEST_P(PostingTest, OnlyKeyChangedFieldsTakenLeavesSQLUpdateEmptyForTheClientsOwnUpdate) {
  TvrDataset& ds = Open("select id, a, b from U where id = 1", "U");
  ds.SQLUpdate().SetText("update U set a=:a where id=:id");
  ds.Edit();
  ds.FieldByName("a")->SetAsString("uno");
  ds.FieldByName("a")->SetTag(tgKeyChanged);
  ds.Post();
  EXPECT_EQ(ds.SQLUpdate().Count(), 0);
  EXPECT_EQ(Raw("select a from U where id = 1"), "uno");  // the client's own statement
}

TEST_P(PostingTest, ConditionOnANewLineIsNotFoundAndTheServerRejectsTheUpdate) {
  TvrDataset& ds = Open("select id, a, anUserChg from T where id = 1", "T");
  ds.SQLUpdate().Add("update T set a=:a");
  ds.SQLUpdate().Add("where id=:id");
  bool from_error = false;
  auto report = [&](TDataSet*, bool failed) { from_error = failed; };
  ds.AfterPostEx = TAfterPostExEvent::Of(report);
  ds.Edit();
  ds.FieldByName("a")->SetAsString("uno");
  EXPECT_ANY_THROW(ds.Post());
  EXPECT_TRUE(from_error);
  EXPECT_EQ(ds.SQLUpdate().Text(), "update T set a=:a,anUserChg=17 where \r\n");
  EXPECT_EQ(Raw("select a from T where id = 1"), "one");
}

TEST_P(PostingTest, WhereClauseMatchIsCaseSensitive) {
  TvrDataset& ds = Open("select id, a from U where id = 1", "U");
  ds.SQLUpdate().SetText("update U set a=:a WHERE id=:id");
  ds.Edit();
  ds.FieldByName("a")->SetAsString("uno");
  EXPECT_ANY_THROW(ds.Post());
  EXPECT_EQ(ds.SQLUpdate().Text(), "update U set a=:a where \r\n");
}

// A condition longer than the 4000 characters an update takes over would be
// cut short and could match other rows: such a post is refused.
TEST_P(PostingTest, ConditionOfAtMost4000CharactersIsTakenLongerIsRefused) {
  const std::string head = "update U set a=:a where ";
  const std::string condition = "id=:id";
  // The clause counts the line's CR LF.
  const std::string fits = condition + std::string(4000 - condition.size() - 2, ' ');
  TvrDataset& ds = Open("select id, a from U where id = 1", "U");
  ds.SQLUpdate().SetText(head + fits);
  ds.Edit();
  ds.FieldByName("a")->SetAsString("uno");
  ds.Post();
  EXPECT_EQ(Raw("select a from U where id = 1"), "uno");

  Db().ExecDirect("insert into U (id, a) values (2, 'two')");
  TvrDataset& other = Open("select id, a from U where id = 2", "U");
  other.SQLUpdate().SetText(head + fits + " ");
  const std::string before = other.SQLUpdate().Text();
  other.Edit();
  other.FieldByName("a")->SetAsString("dos");
  EXPECT_ANY_THROW(other.Post());
  EXPECT_EQ(other.SQLUpdate().Text(), before);
  EXPECT_EQ(Raw("select a from U where id = 2"), "two");
}

// Generation needs tgGenerateSQL in Tag, a TableName and UpdateAllFields off.
TEST_P(PostingTest, AnySwitchOffLeavesTheStatementTextsAsTheyWere) {
  struct OffCase {
    const char* name;
    void (*apply)(TvrDataset&);
  };
  const OffCase cases[] = {
      {"UpdateAllFields", [](TvrDataset& d) { d.Options().UpdateAllFields = true; }},
      {"NoTableName", [](TvrDataset& d) { d.SetTableName(""); }},
      {"TagWithoutGenerateSQL", [](TvrDataset& d) { d.SetTag(tgKeyChanged | 1); }},
  };
  int next = 10;
  for (const OffCase& c : cases) {
    SCOPED_TRACE(c.name);
    TvrDataset& ds = Open("select id, a, b from U", "U");
    c.apply(ds);
    ds.SQLUpdate().SetText("update U set a=:a where id=:id");
    ds.First();
    ds.Edit();
    ds.FieldByName("a")->SetAsString(c.name);
    ds.Post();
    EXPECT_EQ(ds.SQLUpdate().Text(), "update U set a=:a where id=:id\r\n");
    EXPECT_EQ(Raw("select a from U where id = 1"), c.name);
    ds.Insert();
    ds.FieldByName("id")->SetAsInteger(++next);
    ds.FieldByName("a")->SetAsString(c.name);
    ds.Post();
    EXPECT_EQ(ds.SQLInsert().Count(), 0);
    EXPECT_EQ(Raw("select a from U where id = " + std::to_string(next)), c.name);
  }
}

// ---------------------------------------------------------------- Post

TEST_P(PostingTest, AutoTransactOnPostCommitsAfterSuccess) {
  TvrDataset& ds = Open("select id, a from U where id = 1");
  ds.SetAutoTransactOnPost(true);
  bool in_transaction_before = false, in_transaction_after = true, from_error = true;
  int reports = 0;
  auto before = [&](TDataSet*) { in_transaction_before = db_->InTransaction(); };
  auto report = [&](TDataSet* sender, bool failed) {
    EXPECT_EQ(sender, &ds);
    ++reports;
    from_error = failed;
    in_transaction_after = db_->InTransaction();
  };
  ds.BeforePost = TDataSetNotifyEvent::Of(before);
  ds.AfterPostEx = TAfterPostExEvent::Of(report);
  ds.Edit();
  ds.FieldByName("a")->SetAsString("uno");
  ds.Post();
  EXPECT_TRUE(in_transaction_before);
  EXPECT_FALSE(in_transaction_after);
  EXPECT_FALSE(from_error);
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(Raw("select a from U where id = 1"), "uno");
}

TEST_P(PostingTest, FailedPostRollsBackItsTransactionBeforeAfterPostExAndRaises) {
  TvrDataset& ds = Open("select id, a from U where id = 1");
  ds.SetAutoTransactOnPost(true);
  ds.SQLUpdate().SetText("update U set no_such_column=:a where id=:id");
  auto before = [&](TDataSet*) { db_->ExecSQL("insert into side (n) values (1)"); };
  bool from_error = false, in_transaction_after = true;
  auto report = [&](TDataSet*, bool failed) {
    from_error = failed;
    in_transaction_after = db_->InTransaction();
  };
  ds.BeforePost = TDataSetNotifyEvent::Of(before);
  ds.AfterPostEx = TAfterPostExEvent::Of(report);
  ds.Edit();
  ds.FieldByName("a")->SetAsString("uno");
  EXPECT_ANY_THROW(ds.Post());
  EXPECT_TRUE(from_error);
  EXPECT_FALSE(in_transaction_after);
  EXPECT_EQ(Raw("select count(*) from side"), "0");
  EXPECT_EQ(Raw("select a from U where id = 1"), "one");
}

TEST_P(PostingTest, PostInsideAnOpenTransactionLeavesItToItsOwner) {
  TvrDataset& ds = Open("select id, a from U where id = 1");
  ds.SetAutoTransactOnPost(true);
  db_->StartTransaction();
  ds.Edit();
  ds.FieldByName("a")->SetAsString("uno");
  ds.Post();
  EXPECT_TRUE(db_->InTransaction());
  db_->Rollback();
  EXPECT_EQ(Raw("select a from U where id = 1"), "one");
}

TEST_P(PostingTest, WithoutAutoTransactOnPostNoTransactionIsOpenedAndFailuresStillReport) {
  TvrDataset& ds = Open("select id, a from U where id = 1");
  bool in_transaction = true;
  std::vector<bool> reports;
  auto before = [&](TDataSet*) { in_transaction = db_->InTransaction(); };
  auto report = [&](TDataSet*, bool failed) { reports.push_back(failed); };
  ds.BeforePost = TDataSetNotifyEvent::Of(before);
  ds.AfterPostEx = TAfterPostExEvent::Of(report);
  ds.Edit();
  ds.FieldByName("a")->SetAsString("uno");
  ds.Post();
  EXPECT_FALSE(in_transaction);
  ds.SQLUpdate().SetText("update U set no_such_column=:a where id=:id");
  ds.Edit();
  ds.FieldByName("a")->SetAsString("dos");
  EXPECT_ANY_THROW(ds.Post());
  EXPECT_EQ(reports, (std::vector<bool>{false, true}));
  EXPECT_EQ(Raw("select a from U where id = 1"), "uno");
}

// A generated update whose condition (taken over from the previous update)
// finds no row or several rows writes nothing: the count is checked inside the
// post's transaction, which is rolled back, with or without AutoTransactOnPost.
struct CountCase {
  const char* condition;
  int found;
};

TEST_P(PostingTest, GeneratedUpdateThatFindsOtherThanOneRowIsRolledBack) {
  const CountCase cases[] = {{"b = 999", 0}, {"id > 0", 2}};
  for (const CountCase& c : cases) {
    for (bool auto_transact : {false, true}) {
      SCOPED_TRACE(std::string(c.condition) + (auto_transact ? ", own transaction" : ""));
      TvrDataset& ds = Open("select id, a, b, anUserChg, adTimeChg from T where id = 1", "T");
      ds.SetAutoTransactOnPost(auto_transact);
      ds.SQLUpdate().SetText(std::string("update T set a=:a where ") + c.condition);
      std::vector<bool> reports;
      auto report = [&](TDataSet*, bool failed) { reports.push_back(failed); };
      ds.AfterPostEx = TAfterPostExEvent::Of(report);
      // An update-error handler cannot wave the count through.
      auto waive = [](TDataSet*, EDatabaseError&, TUpdateKind, TUpdateAction& action) {
        action = TUpdateAction::uaApplied;
      };
      ds.OnUpdateError = TUpdateErrorEvent::Of(waive);
      ds.Edit();
      ds.FieldByName("a")->SetAsString("changed");
      try {
        ds.Post();
        ADD_FAILURE() << "the post went through";
      } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Update failed. Found " + std::to_string(c.found) + " records");
      }
      EXPECT_EQ(reports, std::vector<bool>{true});
      EXPECT_FALSE(db_->InTransaction());
      EXPECT_EQ(Raw("select group_concat(a || '/' || ifnull(anUserChg, '-'), ',') from T"), "one/-,two/-");
      ds.Cancel();
    }
  }
}

// The check holds for the layer's own statements only: an application's update
// text is still not counted (StrictUpdate stays off).
TEST_P(PostingTest, ApplicationUpdateTextIsNotCounted) {
  TvrDataset& ds = Open("select id, a from U where id = 1");
  ds.SQLUpdate().SetText("update U set a=:a where id = 999");
  ds.Edit();
  ds.FieldByName("a")->SetAsString("uno");
  ds.Post();
  EXPECT_EQ(Raw("select a from U where id = 1"), "one");
}

// A commit that the server refuses (a deferred foreign key left broken) ends
// the post with that error, without AfterPostEx, and leaves no transaction
// open: the row is not written.
TEST_P(PostingTest, RefusedCommitRaisesAndLeavesNoTransactionOpen) {
  Db().ExecDirect(
      "create table parent (id integer primary key);"
      "insert into parent values (1);"
      "create table child (id integer primary key, parent_id int references parent(id) "
      "deferrable initially deferred);"
      "insert into child values (1, 1)");
  db_->ExecSQL("PRAGMA foreign_keys = ON");
  TvrDataset& ds = Open("select id, parent_id from child");
  ds.SetAutoTransactOnPost(true);
  int reports = 0;
  auto report = [&](TDataSet*, bool) { ++reports; };
  ds.AfterPostEx = TAfterPostExEvent::Of(report);
  ds.Edit();
  ds.FieldByName("parent_id")->SetAsInteger(2);
  try {
    ds.Post();
    ADD_FAILURE() << "the post went through";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("FOREIGN KEY"), std::string::npos) << e.what();
  }
  EXPECT_EQ(reports, 0);
  EXPECT_FALSE(db_->InTransaction());
  EXPECT_EQ(Raw("select parent_id from child"), "1");
  // The next post owns a transaction of its own again.
  ds.Edit();
  ds.FieldByName("parent_id")->SetAsInteger(1);
  ds.Post();
  EXPECT_EQ(reports, 1);
  EXPECT_FALSE(db_->InTransaction());
}

// A rollback that fails after a failed post (a handler ended the transaction
// itself) replaces the post's error; AfterPostEx is not fired.
TEST_P(PostingTest, FailedRollbackReplacesThePostsErrorWithoutAfterPostEx) {
  TvrDataset& ds = Open("select id, a from U where id = 1");
  ds.SetAutoTransactOnPost(true);
  ds.SQLUpdate().SetText("update U set no_such_column=:a where id=:id");
  auto before = [&](TDataSet*) { db_->Commit(); };
  int reports = 0;
  auto report = [&](TDataSet*, bool) { ++reports; };
  ds.BeforePost = TDataSetNotifyEvent::Of(before);
  ds.AfterPostEx = TAfterPostExEvent::Of(report);
  ds.Edit();
  ds.FieldByName("a")->SetAsString("uno");
  try {
    ds.Post();
    ADD_FAILURE() << "the post went through";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()).find("no_such_column"), std::string::npos) << e.what();
  }
  EXPECT_EQ(reports, 0);
  EXPECT_FALSE(db_->InTransaction());
  EXPECT_EQ(Raw("select a from U where id = 1"), "one");
}

// ---------------------------------------------------------------- the tool's road

TEST_P(PostingTest, PlainDatasetWritesABlobThroughTheClientsUpdateAndProbesOnce) {
  Db().ExecDirect(
      "create table R (id integer primary key, data blob);"
      "insert into R (id, data) values (1, X'00');"
      "insert into R (id, data) values (2, X'01')");
  auto sink = std::make_shared<RecordingSink>();
  TScopedLogSink scoped(sink);
  SQLTraceEnabled = true;
  DefaultDatabase = db_.get();
  TvrDataset& ds = Open("select id, data from R");
  ds.SetTersify(true);
  const std::string plain(5000, 'r');
  for (ds.First(); !ds.Eof(); ds.Next()) {
    ds.Edit();
    ds.FieldByName("data")->SetAsString(plain);
    ds.Post();
  }
  TvrDataset& second = Open("select id, data from R where id = 1");
  second.SetTersify(true);
  second.Edit();
  second.FieldByName("data")->SetAsString(plain);
  second.Post();

  int version_queries = 0, other_probes = 0;
  for (const auto& row : sink->Rows()) {
    if (row.operation != "BeforeOpen") continue;
    if (row.detail == std::string("SQL --> ") + kVersionQuery + "\r\n") ++version_queries;
    if (row.detail.find("fQZ_GetPksFieldsAndProc") != std::string::npos) ++other_probes;
  }
  EXPECT_EQ(version_queries, 1);
  // SQLite's three-part version: no Object_ID query, no map. SQL Server's
  // version has four parts: the function is asked for once, and is absent.
  EXPECT_EQ(other_probes, GetParam() == "sqlite" ? 0 : 1);
  EXPECT_EQ(db_->KeyProcSupport(), kpsAbsent);
  EXPECT_EQ(ds.SQLUpdate().Count(), 0);
  EXPECT_EQ(ds.KeyProcMap(), nullptr);
  for (int id : {1, 2}) {
    const std::string stored = Raw("select data from R where id = " + std::to_string(id));
    EXPECT_LT(stored.size(), plain.size());  // an envelope
    TvrDataset& check = Open("select data from R where id = " + std::to_string(id));
    check.SetTersify(true);
    EXPECT_EQ(check.FieldByName("data")->AsString(), plain);
  }
}

INSTANTIATE_TEST_SUITE_P(Providers, PostingTest, ::testing::ValuesIn(AvailableProviders()), ProviderName());

}  // namespace
}  // namespace tersify::testing
