// RebuildFields: fields made again from fresh definitions, with the program's
// settings carried over by name (also across upper-casing and a change of
// type), calculated fields left alone, hidden and nested columns skipped,
// attributes cleared, component names, the rebuild before every open, and
// what remains when it fails.

#include "tests/db/layer_fixture.h"

namespace tersify::testing {
namespace {

// A dataset whose fresh definitions carry attributes the sqlite provider never
// reports: a hidden column, a read-only and required key, a nested dataset.
class DecoratedDataset : public TvrDataset {
 public:
  using TvrDataset::TvrDataset;

 protected:
  void InternalInitFieldDefs() override {
    TvrDataset::InternalInitFieldDefs();
    if (TFieldDef* key = FieldDefs().Find("anNo")) key->SetAttributes(faReadonly | faRequired | faFixed);
    if (TFieldDef* hidden = FieldDefs().Find("acSecret")) hidden->SetAttributes(faHiddenCol);
    FieldDefs().Add("dsNested", ftDataSet);
  }
};

class FieldRebuildTest : public LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    test_db_ = std::make_unique<TestDatabase>("sqlite");
    test_db_->ExecDirect(
        "create table keys (anNo integer primary key, acName varchar(20), adWhen datetime,"
        " anAmount float, acSecret varchar(5));"
        "insert into keys values (7, 'seven', '2024-01-02 03:04:05', 12.5, 'x')");
    db_ = std::make_unique<TvrDatabase>(nullptr);
    ConnectTo(*db_, *test_db_);
    db_->SetConnected(true);
  }
  void TearDown() override {
    db_.reset();
    LayerTest::TearDown();
    test_db_.reset();
  }

  // A closed dataset on the test database with fields from a first rebuild.
  template <class T = TvrDataset>
  std::unique_ptr<T> RebuiltDataset(const std::string& name, const std::string& sql) {
    auto ds = std::make_unique<T>(nullptr);
    if (!name.empty()) ds->SetName(name);
    ds->SetDatabase(db_.get());
    ds->SetSQLText(sql);
    ds->RebuildFields();
    return ds;
  }

  static std::vector<std::string> FieldNames(const TDataSet& ds) {
    std::vector<std::string> names;
    for (int i = 0; i < ds.FieldCount(); ++i) names.push_back(ds.Fields(i)->FieldName());
    return names;
  }

  std::unique_ptr<TestDatabase> test_db_;
  std::unique_ptr<TvrDatabase> db_;
};

using Names = std::vector<std::string>;

TEST_F(FieldRebuildTest, FieldsFollowTheQueryWithComponentNames) {
  auto ds = RebuiltDataset("qKeys", "select anNo, acName from keys");
  EXPECT_EQ(FieldNames(*ds), (Names{"anNo", "acName"}));
  EXPECT_EQ(ds->Fields(0)->Name(), "qKeysanNo");
  EXPECT_EQ(ds->Fields(0)->Owner(), ds.get());
  EXPECT_FALSE(ds->Active());  // the definitions were read without opening

  auto unnamed = RebuiltDataset("", "select anNo, acName from keys");
  EXPECT_EQ(unnamed->Fields(0)->Name(), "");
  EXPECT_EQ(unnamed->Fields(1)->Name(), "");
}

TEST_F(FieldRebuildTest, SettingsCarryOverAcrossUpperCasing) {
  auto ds = RebuiltDataset("qKeys", "select anNo, acName, adWhen, anAmount from keys");
  TField* no = ds->FieldByName("anNo");
  std::string seen;
  auto get_text = [&](TField* field, std::string& text, bool) { text = "#" + field->AsString(); };
  auto changed = [&](TField* field) { seen += "change:" + field->FieldName() + ";"; };
  auto validate = [&](TField* field) { seen += "validate:" + field->FieldName() + ";"; };
  auto set_text = [&](TField* field, const std::string& text) { seen += "set:" + text + ";"; (void)field; };
  TvrDataset lookup(nullptr);
  no->OnGetText = TFieldGetTextEvent::Of(get_text);
  no->OnChange = TFieldNotifyEvent::Of(changed);
  no->OnValidate = TFieldNotifyEvent::Of(validate);
  no->SetDisplayFormat("#,##0");
  no->SetEditFormat("0");
  no->SetDisplayLabel("Number");
  no->SetOrigin("keys.anNo");
  no->SetLookupDataSet(&lookup);
  ds->FieldByName("acName")->SetEditMask(">LL");
  ds->FieldByName("acName")->OnSetText = TFieldSetTextEvent::Of(set_text);
  ds->FieldByName("adWhen")->SetDisplayFormat("yyyy-mm-dd");
  ds->FieldByName("adWhen")->SetEditMask("!9999-99-99");
  ds->FieldByName("anAmount")->SetDisplayFormat("0.00");

  ds->SetFieldNamesToUpperCase(true);
  ds->RebuildFields();
  EXPECT_EQ(FieldNames(*ds), (Names{"ANNO", "ACNAME", "ADWHEN", "ANAMOUNT"}));
  no = ds->FieldByName("ANNO");
  EXPECT_EQ(no->Name(), "qKeysANNO");
  EXPECT_EQ(no->DisplayFormat(), "#,##0");
  EXPECT_EQ(no->EditFormat(), "0");
  EXPECT_EQ(no->DisplayLabel(), "Number");
  EXPECT_EQ(no->Origin(), "keys.anNo");
  EXPECT_EQ(no->LookupDataSet(), &lookup);
  EXPECT_TRUE(no->OnGetText == TFieldGetTextEvent::Of(get_text));
  EXPECT_EQ(ds->FieldByName("ACNAME")->EditMask(), ">LL");
  EXPECT_TRUE(ds->FieldByName("ACNAME")->OnSetText == TFieldSetTextEvent::Of(set_text));
  EXPECT_EQ(ds->FieldByName("ADWHEN")->DisplayFormat(), "yyyy-mm-dd");
  EXPECT_EQ(ds->FieldByName("ADWHEN")->EditMask(), "!9999-99-99");
  EXPECT_EQ(ds->FieldByName("ANAMOUNT")->DisplayFormat(), "0.00");
  // A field without a label of its own keeps its old name as label.
  EXPECT_EQ(ds->FieldByName("ACNAME")->DisplayLabel(), "acName");

  // The carried handlers work on the new fields of the open dataset.
  ds->Open();
  no = ds->FieldByName("ANNO");
  EXPECT_EQ(no->DisplayText(), "#7");
  ds->Edit();
  no->SetAsInteger(8);
  ds->FieldByName("ACNAME")->SetText("ab");
  EXPECT_EQ(seen, "validate:ANNO;change:ANNO;set:ab;");
  ds->Cancel();
}

TEST_F(FieldRebuildTest, FormatsFollowTheNewFieldsType) {
  // A column that changes type keeps its saved formats, applied by the new type.
  auto ds = RebuiltDataset("", "select acName as x, anAmount as y from keys");
  ds->FieldByName("x")->SetEditMask("999");
  ds->FieldByName("y")->SetDisplayFormat("0.0");
  ds->FieldByName("y")->SetEditFormat("0");
  ds->SetSQLText("select anAmount as x, acName as y from keys");
  ds->RebuildFields();
  TField* x = ds->FieldByName("x");
  TField* y = ds->FieldByName("y");
  ASSERT_EQ(x->DataType(), ftFloat);
  EXPECT_EQ(x->EditFormat(), "999");  // a string's edit mask becomes the number's edit format
  EXPECT_EQ(x->DisplayFormat(), "");
  ASSERT_EQ(y->DataType(), ftString);
  EXPECT_EQ(y->EditMask(), "0");  // a number's edit format becomes the string's edit mask
  EXPECT_EQ(y->DisplayFormat(), "");
}

TEST_F(FieldRebuildTest, CalculatedFieldStaysUntouched) {
  auto ds = RebuiltDataset("qKeys", "select anNo, acName from keys");
  TField* calc = CreateFieldOfType(ds.get(), ftString);
  calc->SetFieldName("acCalc");
  calc->SetFieldKind(TFieldKind::fkCalculated);
  calc->SetDisplayLabel("Calculated");
  calc->SetEditMask("AAA");
  calc->SetDataSet(ds.get());
  TField* nested = CreateFieldOfType(ds.get(), ftDataSet);
  nested->SetFieldName("dsDetail");
  nested->SetDataSet(ds.get());

  ds->RebuildFields();
  EXPECT_EQ(FieldNames(*ds), (Names{"acCalc", "dsDetail", "anNo", "acName"}));
  EXPECT_EQ(ds->Fields(0), calc);
  EXPECT_EQ(ds->Fields(1), nested);
  EXPECT_EQ(calc->DisplayLabel(), "Calculated");
  EXPECT_EQ(calc->EditMask(), "AAA");
  EXPECT_EQ(calc->FieldKind(), TFieldKind::fkCalculated);
}

TEST_F(FieldRebuildTest, SkipsHiddenAndNestedColumnsAndClearsAttributes) {
  auto ds = RebuiltDataset<DecoratedDataset>("", "select anNo, acName, acSecret from keys");
  EXPECT_EQ(FieldNames(*ds), (Names{"anNo", "acName"}));
  TField* no = ds->FieldByName("anNo");
  EXPECT_FALSE(no->ReadOnly());
  EXPECT_FALSE(no->Required());
  const TFieldDef* def = ds->FieldDefs().Find("anNo");
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->Attributes(), 0u);
  EXPECT_EQ(ds->FieldDefs().Find("acSecret")->Attributes(), uint32_t{faHiddenCol});  // skipped, not cleared
}

TEST_F(FieldRebuildTest, EveryOpenRebuildsFromTheCurrentColumns) {
  TvrDataset ds(nullptr);
  ds.SetName("qKeys");
  ds.SetDatabase(db_.get());
  ds.SetRebuildFieldsBeforeOpen(true);
  ds.SetFieldNamesToUpperCase(true);
  ds.SetSQLText("select * from keys");
  ds.Open();
  EXPECT_EQ(FieldNames(ds), (Names{"ANNO", "ACNAME", "ADWHEN", "ANAMOUNT", "ACSECRET"}));
  EXPECT_FALSE(ds.DefaultFields());
  EXPECT_EQ(ds.FieldByName("ANNO")->AsInteger(), 7);
  ds.FieldByName("ANAMOUNT")->SetDisplayFormat("0.000");
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 5);  // the rebuilt fields are the dataset's own and stay

  test_db_->ExecDirect("alter table keys add column acNote varchar(10)");
  ds.Open();
  EXPECT_EQ(FieldNames(ds), (Names{"ANNO", "ACNAME", "ADWHEN", "ANAMOUNT", "ACSECRET", "ACNOTE"}));
  EXPECT_EQ(ds.FieldByName("ANAMOUNT")->DisplayText(), "12.500");
  EXPECT_EQ(ds.FieldByName("ACNOTE")->Name(), "qKeysACNOTE");
}

TEST_F(FieldRebuildTest, RefusesAnOpenDataset) {
  auto ds = RebuiltDataset("", "select anNo, acName from keys");
  ds->Open();
  TField* no = ds->FieldByName("anNo");
  EXPECT_THROW(ds->RebuildFields(), EDatabaseError);
  EXPECT_EQ(ds->FieldByName("anNo"), no);
  EXPECT_EQ(ds->FieldCount(), 2);
}

TEST_F(FieldRebuildTest, FailedReadKeepsOnlyTheFieldsThatAreNoData) {
  auto ds = RebuiltDataset("", "select anNo, acName from keys");
  TField* calc = CreateFieldOfType(ds.get(), ftInteger);
  calc->SetFieldName("anCalc");
  calc->SetFieldKind(TFieldKind::fkCalculated);
  calc->SetDataSet(ds.get());
  ds->SetSQLText("select anNo from no_such_table");
  EXPECT_ANY_THROW(ds->RebuildFields());
  ASSERT_EQ(ds->FieldCount(), 1);
  EXPECT_EQ(ds->Fields(0), calc);

  // The next rebuild starts from what is left.
  ds->SetSQLText("select anNo from keys");
  ds->RebuildFields();
  EXPECT_EQ(FieldNames(*ds), (Names{"anCalc", "anNo"}));
}

TEST_F(FieldRebuildTest, ColumnWithoutAValidComponentNameStopsTheRebuild) {
  // The field's component name is the dataset's name and the column's; a
  // column named by an expression cannot give one.
  TvrDataset ds(nullptr);
  ds.SetName("qKeys");
  ds.SetDatabase(db_.get());
  ds.SetSQLText("select anNo, count(*) from keys");
  EXPECT_THROW(ds.RebuildFields(), EComponentError);
  ASSERT_GE(ds.FieldCount(), 1);
  EXPECT_EQ(ds.Fields(0)->Name(), "qKeysanNo");

  ds.SetName("");  // without a component name the same columns are fine
  ds.RebuildFields();
  EXPECT_EQ(FieldNames(ds), (Names{"anNo", "count(*)"}));
}

}  // namespace
}  // namespace tersify::testing
