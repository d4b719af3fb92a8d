// Datasets against every provider: column types and values, nulls,
// parameters and macros, Execute, Locate and master/detail.

#include <vector>

#include "framework/data/data_source.h"
#include "tests/client/client_fixture.h"

namespace tersify::testing {
namespace {

class DatasetTest : public ClientTest {
 protected:
  void CreatePeople() {
    Db().ExecDirect(
        "create table people (id integer primary key, name varchar(30), city varchar(30));"
        "insert into people values (1, 'Ann', 'Oslo');"
        "insert into people values (2, 'bob', 'Bergen');"
        "insert into people values (3, 'Bobby', '');"
        "insert into people values (4, 'Carl', null);");
  }
};

TEST_P(DatasetTest, EveryMappedTypeReadsWithItsFieldTypeAndValue) {
  Db().ExecDirect(
      "create table kinds (id integer primary key, i int, bi bigint, si smallint, b bit, f float,"
      " m money, d decimal(10,2), vc varchar(20), nvc nvarchar(20), ch char(5), tx text,"
      " bin blob, dt datetime, dd date);"
      "insert into kinds values (1, -7, 9000000000, 12, 1, 2.5, 12.25, 1234.56, 'text  ', 'wide',"
      " 'ab   ', 'long text', X'00FF10', '2024-02-29 13:45:10', '2024-02-29');"
      "insert into kinds (id) values (2);");
  auto q = Opened("select * from kinds order by id");
  ASSERT_EQ(q->RecordCount(), 2);

  struct Expect {
    const char* name;
    TFieldType type;
    TFieldType unicode_type;  // text may travel as Unicode (the TDS test server sends it so)
  };
  for (const Expect& e : std::vector<Expect>{
           {"i", ftInteger, ftInteger}, {"bi", ftLargeint, ftLargeint}, {"si", ftSmallint, ftSmallint},
           {"b", ftBoolean, ftBoolean}, {"f", ftFloat, ftFloat}, {"m", ftCurrency, ftCurrency},
           {"d", ftFMTBcd, ftFMTBcd}, {"vc", ftString, ftWideString}, {"nvc", ftWideString, ftWideString},
           {"ch", ftString, ftWideString}, {"tx", GetParam() == "sqlite" ? ftString : ftMemo, ftWideMemo}, {"bin", ftBlob, ftBlob},
           {"dt", ftDateTime, ftDateTime}, {"dd", ftDate, ftDate}}) {
    const TFieldType got = q->FieldByName(e.name)->DataType();
    EXPECT_TRUE(got == e.type || got == e.unicode_type) << e.name << ": " << FieldTypeName(got);
  }
  EXPECT_EQ(q->FieldByName("vc")->Size(), 20);
  EXPECT_EQ(q->FieldByName("i")->AsInteger(), -7);
  EXPECT_EQ(q->FieldByName("bi")->AsLargeInt(), 9000000000LL);
  EXPECT_EQ(q->FieldByName("si")->AsInteger(), 12);
  EXPECT_TRUE(q->FieldByName("b")->AsBoolean());
  EXPECT_DOUBLE_EQ(q->FieldByName("f")->AsFloat(), 2.5);
  EXPECT_DOUBLE_EQ(q->FieldByName("m")->AsFloat(), 12.25);
  EXPECT_DOUBLE_EQ(q->FieldByName("d")->AsFloat(), 1234.56);
  EXPECT_EQ(q->FieldByName("vc")->AsString(), "text  ");  // TrimVarChar is off by default
  EXPECT_EQ(q->FieldByName("nvc")->AsString(), "wide");
  // TrimFixedChar, where the column is known to be of fixed length.
  if (q->FieldByName("ch")->DataType() == ftString) {
    EXPECT_EQ(q->FieldByName("ch")->AsString(), "ab");
  }
  EXPECT_EQ(q->FieldByName("ch")->AsString().substr(0, 2), "ab");
  EXPECT_EQ(q->FieldByName("tx")->AsString(), "long text");
  EXPECT_EQ(q->FieldByName("bin")->AsString(), std::string("\x00\xff\x10", 3));
  EXPECT_EQ(q->FieldByName("dt")->AsDateTime(), EncodeDateTime(2024, 2, 29, 13, 45, 10));
  EXPECT_EQ(q->FieldByName("dd")->AsDateTime(), EncodeDateTime(2024, 2, 29));

  q->Next();
  for (int i = 1; i < q->FieldCount(); ++i) EXPECT_TRUE(q->Fields(i)->IsNull()) << q->Fields(i)->FieldName();
}

TEST_P(DatasetTest, TrimVarCharTrimsTrailingBlanksOnlyWhenSet) {
  Db().ExecDirect("create table s (id integer primary key, vc varchar(20));"
                  "insert into s values (1, ' padded  ')");
  auto q = Query("select vc from s");
  q->Open();
  EXPECT_EQ(q->Fields(0)->AsString(), " padded  ");
  q->Close();
  q->Options().TrimVarChar = true;
  q->Open();
  EXPECT_EQ(q->Fields(0)->AsString(), " padded");
}

TEST_P(DatasetTest, ParametersFollowTheTextAndKeepTheirValues) {
  CreatePeople();
  auto q = Query("select name from people where id = :id");
  ASSERT_EQ(q->Params().Count(), 1);
  q->ParamByName("ID").SetValue(2);
  q->Open();
  EXPECT_EQ(q->Fields(0)->AsString(), "bob");

  q->SetSQLText("select name from people where id = :id or name = :name order by id");
  EXPECT_FALSE(q->Active());
  ASSERT_EQ(q->Params().Count(), 2);
  EXPECT_EQ(q->ParamByName("id").AsInteger(), 2);  // kept
  q->ParamByName("name").SetValue("Carl");
  q->Open();
  EXPECT_EQ(q->RecordCount(), 2);
  q->Close();

  // Edits through the string list itself are seen too; a mark inside a string is text.
  q->SQL().SetText("select ':x' as c, name from people where id = :other");
  ASSERT_EQ(q->Params().Count(), 1);
  EXPECT_EQ(q->Params()[0].Name(), "other");
  q->ParamByName("other").SetValue(1);
  q->Open();
  EXPECT_EQ(q->Fields(0)->AsString(), ":x");
  EXPECT_EQ(q->Fields(1)->AsString(), "Ann");
}

TEST_P(DatasetTest, MacrosAreExpandedBeforeTheTextRuns) {
  CreatePeople();
  auto q = Query("select &cols from &tab where id = :id");
  q->Macros().SetValue("cols", "name, city");
  q->Macros().SetValue("tab", "people");
  q->ParamByName("id").SetValue(1);
  q->Open();
  ASSERT_EQ(q->FieldCount(), 2);
  EXPECT_EQ(q->Fields(1)->AsString(), "Oslo");
}

TEST_P(DatasetTest, ExecuteOpensRowsAndCountsWrittenRows) {
  CreatePeople();
  int executed = 0;
  auto after_execute = [&](TObject*, bool result) { executed += result ? 1 : 100; };
  auto update = Query("update people set city = 'X' where id > :min");
  update->AfterExecute = TAfterExecuteEvent::Of(after_execute);
  update->ParamByName("min").SetValue(2);
  update->Execute();
  EXPECT_FALSE(update->Active());
  EXPECT_EQ(update->RowsAffected(), 2);
  EXPECT_EQ(executed, 1);

  auto select = Query("select id from people where city = 'X'");
  select->Execute();
  EXPECT_TRUE(select->Active());
  EXPECT_EQ(select->RecordCount(), 2);
}

TEST_P(DatasetTest, OpeningAStatementWithoutRowsFails) {
  CreatePeople();
  auto q = Query("delete from people where id = 1");
  EXPECT_THROW(q->Open(), EDatabaseError);
  EXPECT_FALSE(q->Active());
}

TEST_P(DatasetTest, AllRowsAreFetchedAndCountedWhateverFetchAllSays) {
  CreatePeople();
  auto q = Query("select * from people");
  q->SetFetchAll(false);
  q->SetFetchRows(1);
  q->Open();
  EXPECT_EQ(q->RecordCount(), 4);
  int walked = 0;
  for (; !q->Eof(); q->Next()) ++walked;
  EXPECT_EQ(walked, 4);
}

TEST_P(DatasetTest, LocateFindsRowsByTheRulesOfItsOptions) {
  CreatePeople();
  auto q = Opened("select id, name, city from people order by id");
  int scrolls = 0;
  auto after_scroll = [&](TDataSet*) { ++scrolls; };
  q->AfterScroll = TDataSetNotifyEvent::Of(after_scroll);

  EXPECT_FALSE(q->Locate("name", "BOB", 0));  // case matters without the option
  EXPECT_EQ(q->RecNo(), 1);
  EXPECT_EQ(scrolls, 0);

  EXPECT_TRUE(q->Locate("name", "BOB", loCaseInsensitive));
  EXPECT_EQ(q->FieldByName("id")->AsInteger(), 2);
  EXPECT_EQ(scrolls, 1);

  EXPECT_TRUE(q->Locate("name", "Bob", loPartialKey));  // "Bobby", not "bob"
  EXPECT_EQ(q->FieldByName("id")->AsInteger(), 3);
  EXPECT_TRUE(q->Locate("name", "Bob", loPartialKey));  // already current: fires again
  EXPECT_EQ(scrolls, 3);

  EXPECT_TRUE(q->Locate("city", "", loPartialKey));  // only the empty value, not null
  EXPECT_EQ(q->FieldByName("id")->AsInteger(), 3);
  EXPECT_TRUE(q->Locate("id", 4, 0));
  EXPECT_TRUE(q->FieldByName("city")->IsNull());
  EXPECT_FALSE(q->Locate("name", "nobody", loCaseInsensitive | loPartialKey));
  EXPECT_EQ(q->FieldByName("id")->AsInteger(), 4);
  EXPECT_EQ(scrolls, 5);
  EXPECT_THROW(q->Locate("no_field", 1, 0), EDatabaseError);
}

TEST_P(DatasetTest, DetailIsRerunForEveryMasterRow) {
  CreatePeople();
  Db().ExecDirect(
      "create table orders (oid integer primary key, id integer, item varchar(20));"
      "insert into orders values (1, 1, 'a'); insert into orders values (2, 1, 'b');"
      "insert into orders values (3, 2, 'c');");
  auto master = Opened("select id, name from people order by id");
  TDataSource source(nullptr);
  source.SetDataSet(master.get());
  auto detail = Query("select item from orders where id = :id order by oid");
  detail->SetMasterSource(&source);
  detail->SetMasterFields("id");
  detail->ParamByName("id").SetValue(1);
  detail->Open();
  EXPECT_EQ(detail->RecordCount(), 2);

  master->Next();
  EXPECT_EQ(detail->RecordCount(), 1);
  EXPECT_EQ(detail->Fields(0)->AsString(), "c");
  master->Next();
  EXPECT_EQ(detail->RecordCount(), 0);
  master->First();
  EXPECT_EQ(detail->RecordCount(), 2);
  detail->SetMasterSource(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Providers, DatasetTest, ::testing::ValuesIn(AvailableProviders()), ProviderName());

}  // namespace
}  // namespace tersify::testing
