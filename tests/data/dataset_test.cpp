#include <gtest/gtest.h>

#include <functional>

#include "tests/data/fixture.h"

namespace tersify::testing {
namespace {

// Binds every dataset event to a recorder that appends the event's name.
class Recorder {
 public:
  explicit Recorder(TDataSet& ds) {
    auto bind = [&](TDataSetNotifyEvent& event, const char* name) {
      handlers_.push_back(std::make_unique<std::function<void(TDataSet*)>>(
          [this, name](TDataSet*) { log.names.push_back(name); }));
      event = TDataSetNotifyEvent::Of(*handlers_.back());
      bound_.push_back(&event);
    };
    bind(ds.BeforeOpen, "BeforeOpen");
    bind(ds.AfterOpen, "AfterOpen");
    bind(ds.BeforeClose, "BeforeClose");
    bind(ds.AfterClose, "AfterClose");
    bind(ds.BeforeInsert, "BeforeInsert");
    bind(ds.AfterInsert, "AfterInsert");
    bind(ds.BeforeEdit, "BeforeEdit");
    bind(ds.AfterEdit, "AfterEdit");
    bind(ds.BeforePost, "BeforePost");
    bind(ds.AfterPost, "AfterPost");
    bind(ds.BeforeCancel, "BeforeCancel");
    bind(ds.AfterCancel, "AfterCancel");
    bind(ds.BeforeDelete, "BeforeDelete");
    bind(ds.AfterDelete, "AfterDelete");
    bind(ds.BeforeScroll, "BeforeScroll");
    bind(ds.AfterScroll, "AfterScroll");
    bind(ds.OnNewRecord, "OnNewRecord");
    bind(ds.BeforeRefresh, "BeforeRefresh");
    bind(ds.AfterRefresh, "AfterRefresh");
  }
  ~Recorder() {
    for (TDataSetNotifyEvent* event : bound_) event->Clear();
  }
  std::string Take() {
    std::string s = log.Joined();
    log.names.clear();
    return s;
  }
  EventLog log;

 private:
  std::vector<std::unique_ptr<std::function<void(TDataSet*)>>> handlers_;
  std::vector<TDataSetNotifyEvent*> bound_;
};

TEST(DataSetState, OpenBrowseEditInsertCloseWithEventOrder) {
  auto ds = MakePeople();
  Recorder rec(*ds);
  EXPECT_EQ(ds->State(), TDataSetState::dsInactive);
  ds->Open();
  EXPECT_EQ(ds->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(rec.Take(), "BeforeOpen,AfterOpen,AfterScroll");
  EXPECT_EQ(ds->RecordCount(), 4);
  EXPECT_EQ(ds->RecNo(), 1);

  ds->Edit();
  EXPECT_EQ(ds->State(), TDataSetState::dsEdit);
  EXPECT_EQ(rec.Take(), "BeforeEdit,AfterEdit");
  ds->FieldByName("name")->SetAsString("Ann");
  ds->Post();
  EXPECT_EQ(rec.Take(), "BeforePost,AfterPost");
  EXPECT_EQ(ds->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds->FieldByName("name")->AsString(), "Ann");

  ds->Insert();
  EXPECT_EQ(ds->State(), TDataSetState::dsInsert);
  EXPECT_EQ(rec.Take(), "BeforeInsert,BeforeScroll,OnNewRecord,AfterInsert,AfterScroll");
  ds->Cancel();
  EXPECT_EQ(rec.Take(), "BeforeCancel,AfterCancel");
  EXPECT_EQ(ds->RecordCount(), 4);

  ds->Next();
  EXPECT_EQ(rec.Take(), "BeforeScroll,AfterScroll");
  ds->Delete();
  EXPECT_EQ(rec.Take(), "BeforeDelete,BeforeScroll,AfterDelete,AfterScroll");

  ds->Close();
  EXPECT_EQ(rec.Take(), "BeforeClose,AfterClose");
  EXPECT_EQ(ds->State(), TDataSetState::dsInactive);
  ds->Close();  // closing a closed dataset does nothing
  EXPECT_EQ(rec.Take(), "");
}

TEST(DataSetState, PostInBrowseDoesNothingAndCancelDiscards) {
  auto ds = MakePeople();
  ds->Open();
  ds->Post();
  EXPECT_TRUE(ds->posts.empty());
  ds->Edit();
  ds->FieldByName("name")->SetAsString("changed");
  ds->Cancel();
  EXPECT_EQ(ds->FieldByName("name")->AsString(), "Anna");
  EXPECT_TRUE(ds->posts.empty());
}

TEST(DataSetState, EditOnEmptyDatasetInserts) {
  auto ds = MakePeople();
  ds->rows.clear();
  ds->Open();
  EXPECT_TRUE(ds->IsEmpty());
  EXPECT_TRUE(ds->Eof());
  ds->Edit();
  EXPECT_EQ(ds->State(), TDataSetState::dsInsert);
  ds->FieldByName("id")->SetAsInteger(9);
  ds->Post();
  ASSERT_EQ(ds->posts.size(), 1u);
  EXPECT_TRUE(ds->posts[0].inserting);
  EXPECT_EQ(ds->RecordCount(), 1);
  EXPECT_EQ(ds->FieldByName("id")->AsInteger(), 9);
}

TEST(DataSetState, SettingValuesOutsideEditingIsRefused) {
  auto ds = MakePeople();
  TField* name = nullptr;
  ds->Open();
  name = ds->FieldByName("name");
  try {
    name->SetAsString("x");
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Dataset not in edit or insert mode");
  }
  name->SetReadOnly(true);
  ds->Edit();
  try {
    name->SetAsString("x");
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'name' cannot be modified");
  }
}

TEST(DataSetNavigation, NextToEofPriorToBofAndMoveBy) {
  auto ds = MakePeople();
  ds->Open();
  std::vector<int> ids;
  while (!ds->Eof()) {
    ids.push_back(ds->FieldByName("id")->AsInteger());
    ds->Next();
  }
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(ds->RecNo(), 4);
  ds->Prior();
  EXPECT_EQ(ds->RecNo(), 3);
  EXPECT_EQ(ds->MoveBy(-10), -2);
  EXPECT_EQ(ds->RecNo(), 1);
  EXPECT_TRUE(ds->Bof());
  EXPECT_EQ(ds->MoveBy(2), 2);
  ds->Last();
  EXPECT_TRUE(ds->Eof());
  EXPECT_EQ(ds->FieldByName("id")->AsInteger(), 4);
  ds->First();
  EXPECT_EQ(ds->FieldByName("id")->AsInteger(), 1);
  ds->SetRecNo(3);
  EXPECT_EQ(ds->FieldByName("id")->AsInteger(), 3);
}

TEST(DataSetNavigation, ScrollingPostsAChangedRowAndCancelsAnUnchangedInsert) {
  auto ds = MakePeople();
  ds->Open();
  ds->Edit();
  ds->FieldByName("name")->SetAsString("moved");
  ds->Next();
  EXPECT_EQ(ds->posts.size(), 1u);
  ds->Insert();
  ds->Next();
  EXPECT_EQ(ds->posts.size(), 1u);
  EXPECT_EQ(ds->RecordCount(), 4);
}

TEST(DataSetEditing, InsertGoesBeforeTheCurrentRowAppendAtTheEnd) {
  auto ds = MakePeople();
  ds->Open();
  ds->Next();  // id 2
  ds->Insert();
  ds->FieldByName("id")->SetAsInteger(10);
  ds->Post();
  EXPECT_EQ(ds->RecNo(), 2);
  ds->Append();
  ds->FieldByName("id")->SetAsInteger(11);
  ds->Post();
  EXPECT_EQ(ds->RecNo(), 6);
  std::vector<int> ids;
  for (ds->First(); !ds->Eof(); ds->Next()) ids.push_back(ds->FieldByName("id")->AsInteger());
  EXPECT_EQ(ids, (std::vector<int>{1, 10, 2, 3, 4, 11}));
}

TEST(DataSetEditing, DeleteRemovesTheRowAfterInternalDelete) {
  auto ds = MakePeople();
  ds->Open();
  ds->Next();
  ds->Delete();
  ASSERT_EQ(ds->deletes.size(), 1u);
  EXPECT_EQ(ds->deletes[0][0], Variant(2));
  EXPECT_EQ(ds->RecordCount(), 3);
  EXPECT_EQ(ds->FieldByName("id")->AsInteger(), 3);
  // Deleting every row from the top empties the dataset.
  ds->First();
  while (!ds->Eof()) ds->Delete();
  EXPECT_TRUE(ds->IsEmpty());
  EXPECT_THROW(ds->Delete(), EDatabaseError);
}

TEST(DataSetEditing, OldAndNewValuesWhileEditingAndInserting) {
  auto ds = MakePeople();
  ds->Open();
  TField* name = ds->FieldByName("name");
  TField* amount = ds->FieldByName("amount");
  ds->Edit();
  name->SetAsString("Annie");
  EXPECT_EQ(name->OldValue(), Variant("Anna"));
  EXPECT_EQ(name->NewValue(), Variant("Annie"));
  EXPECT_EQ(amount->OldValue(), amount->NewValue());
  ds->Post();
  ASSERT_EQ(ds->posts.size(), 1u);
  EXPECT_EQ(ds->posts[0].old_values[1], Variant("Anna"));
  EXPECT_EQ(ds->posts[0].new_values[1], Variant("Annie"));
  EXPECT_EQ(name->OldValue(), Variant("Annie"));  // the kept row is the new one

  ds->Next();  // amount is null on this row
  ds->Edit();
  EXPECT_TRUE(amount->OldValue().IsNull());
  EXPECT_EQ(amount->OldValue(), amount->NewValue());  // two nulls are equal
  amount->SetAsFloat(0);
  EXPECT_NE(amount->OldValue(), amount->NewValue());  // null differs from 0
  ds->Cancel();

  ds->Insert();
  EXPECT_TRUE(name->OldValue().IsNull());
  name->SetAsString("new");
  EXPECT_TRUE(name->OldValue().IsNull());
  EXPECT_EQ(name->NewValue(), Variant("new"));
  ds->Post();
  EXPECT_TRUE(ds->posts.back().inserting);
}

TEST(DataSetEditing, ValidateThenStoreThenChange) {
  auto ds = MakePeople();
  ds->Open();
  TField* name = ds->FieldByName("name");
  std::vector<std::string> seen;
  auto validate = [&](TField* f) { seen.push_back("validate:" + f->AsString()); };
  auto change = [&](TField* f) { seen.push_back("change:" + f->AsString()); };
  name->OnValidate = TFieldNotifyEvent::Of(validate);
  name->OnChange = TFieldNotifyEvent::Of(change);
  ds->Edit();
  name->SetAsString("Z");
  EXPECT_EQ(seen, (std::vector<std::string>{"validate:Anna", "change:Z"}));
  // A validation error leaves the value as it was.
  auto refuse = [](TField*) { throw EDatabaseError("refused"); };
  name->OnValidate = TFieldNotifyEvent::Of(refuse);
  EXPECT_THROW(name->SetAsString("Y"), EDatabaseError);
  EXPECT_EQ(name->AsString(), "Z");
}

// ---- error events

struct ErrorCase {
  const char* operation;
  TDataAction action;
};

std::string ActionName(TDataAction action) {
  switch (action) {
    case TDataAction::daFail: return "Fail";
    case TDataAction::daAbort: return "Abort";
    case TDataAction::daRetry: return "Retry";
  }
  return "";
}

class DataSetErrorEvents : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(DataSetErrorEvents, ActionDecidesWhatHappens) {
  const ErrorCase c = GetParam();
  auto ds = MakePeople();
  ds->Open();
  const bool post = std::string(c.operation) == "post";
  int calls = 0;
  std::string message;
  auto handler = [&](TDataSet*, EDatabaseError& e, TDataAction& action) {
    ++calls;
    message = e.what();
    EXPECT_EQ(action, TDataAction::daFail);  // starts as fail
    action = c.action;
  };
  if (post) {
    ds->OnPostError = TDataSetErrorEvent::Of(handler);
    ds->fail_posts = 1;
    ds->Edit();
    ds->FieldByName("name")->SetAsString("x");
  } else {
    ds->OnDeleteError = TDataSetErrorEvent::Of(handler);
    ds->fail_deletes = 1;
  }
  auto run = [&] { post ? ds->Post() : ds->Delete(); };
  switch (c.action) {
    case TDataAction::daFail:
      EXPECT_THROW(run(), EDatabaseError);
      break;
    case TDataAction::daAbort:
      EXPECT_THROW(run(), EAbort);
      break;
    case TDataAction::daRetry:
      EXPECT_NO_THROW(run());
      break;
  }
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(message, post ? "post refused" : "delete refused");
  if (c.action == TDataAction::daRetry) {
    EXPECT_EQ(ds->State(), TDataSetState::dsBrowse);
    EXPECT_EQ(post ? ds->posts.size() : ds->deletes.size(), 1u);
    EXPECT_EQ(ds->RecordCount(), post ? 4 : 3);
  } else {
    // Nothing was written: a failed post stays in edit state, a failed delete keeps the row.
    EXPECT_EQ(ds->State(), post ? TDataSetState::dsEdit : TDataSetState::dsBrowse);
    EXPECT_EQ(ds->RecordCount(), 4);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Actions, DataSetErrorEvents,
    ::testing::Values(ErrorCase{"post", TDataAction::daFail}, ErrorCase{"post", TDataAction::daAbort},
                      ErrorCase{"post", TDataAction::daRetry}, ErrorCase{"delete", TDataAction::daFail},
                      ErrorCase{"delete", TDataAction::daAbort}, ErrorCase{"delete", TDataAction::daRetry}),
    [](const auto& info) { return std::string(info.param.operation) + ActionName(info.param.action); });

TEST(DataSetErrorEvents, OtherErrorsBypassTheHandler) {
  auto ds = MakePeople();
  ds->Open();
  int calls = 0;
  auto handler = [&](TDataSet*, EDatabaseError&, TDataAction& action) {
    ++calls;
    action = TDataAction::daAbort;
  };
  ds->OnPostError = TDataSetErrorEvent::Of(handler);
  auto before = [](TDataSet*) { throw EConvertError("not a database error"); };
  ds->BeforePost = TDataSetNotifyEvent::Of(before);
  ds->Edit();
  EXPECT_THROW(ds->Post(), EConvertError);
  EXPECT_EQ(calls, 0);
}

// ---- fields

TEST(DataSetFields, DefaultFieldsComeAndGoWithOpenAndClose) {
  auto ds = MakePeople();
  EXPECT_EQ(ds->FieldCount(), 0);
  ds->Open();
  EXPECT_TRUE(ds->DefaultFields());
  ASSERT_EQ(ds->FieldCount(), 5);
  EXPECT_EQ(ds->Fields(3)->ClassName(), "TBlobField");
  EXPECT_EQ(ds->Fields(4)->ClassName(), "TMemoField");
  EXPECT_EQ(ds->Fields(0)->Owner(), ds.get());
  ds->Close();
  EXPECT_EQ(ds->FieldCount(), 0);
  EXPECT_EQ(ds->ComponentCount(), 0);  // destroyed, not only detached
}

TEST(DataSetFields, PersistentFieldsStayAndBindByName) {
  auto ds = MakePeople();
  TField* name = MakeComponent<TStringField>(ds.get());
  name->SetFieldName("NAME");
  name->SetDataSet(ds.get());
  ds->Open();
  EXPECT_FALSE(ds->DefaultFields());
  ASSERT_EQ(ds->FieldCount(), 1);
  EXPECT_EQ(name->AsString(), "Anna");
  EXPECT_EQ(name->FieldNo(), 2);
  ds->Close();
  EXPECT_EQ(ds->FieldCount(), 1);
  EXPECT_EQ(ds->Fields(0), name);
}

TEST(DataSetFields, PersistentFieldWithoutColumnStopsTheOpen) {
  auto ds = MakePeople();
  ds->SetName("qPeople");
  auto missing = std::make_unique<TIntegerField>(nullptr);
  missing->SetFieldName("age");
  missing->SetDataSet(ds.get());
  try {
    ds->Open();
    FAIL() << "opened";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "qPeople: Field 'age' not found");
  }
  EXPECT_FALSE(ds->Active());
  missing.reset();  // a field destroyed first leaves the dataset's list
  EXPECT_EQ(ds->FieldCount(), 0);
}

TEST(DataSetFields, DestroyedFieldLeavesDatasetAndOwner) {
  auto ds = MakePeople();
  TField* a = MakeComponent<TIntegerField>(ds.get());
  a->SetFieldName("id");
  a->SetDataSet(ds.get());
  TField* b = MakeComponent<TStringField>(ds.get());
  b->SetFieldName("name");
  b->SetDataSet(ds.get());
  DestroyField(a);
  EXPECT_EQ(ds->FieldCount(), 1);
  EXPECT_EQ(ds->ComponentCount(), 1);
  ds->Open();
  EXPECT_EQ(b->Index(), 0);
  EXPECT_THROW(b->SetDataSet(nullptr), EDatabaseError);  // not while open
}

TEST(DataSetFields, FieldByNameMessages) {
  auto ds = MakePeople();
  ds->Open();
  EXPECT_EQ(ds->FieldByName("NaMe"), ds->FindField("name"));
  try {
    ds->FieldByName("x");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'x' not found");
  }
  ds->SetName("qData");
  try {
    ds->FieldByName("x");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "qData: Field 'x' not found");
  }
}

TEST(DataSetFields, FieldOutlivingItsDatasetIsDetached) {
  auto field = std::make_unique<TStringField>(nullptr);
  field->SetFieldName("name");
  {
    auto ds = MakePeople();
    field->SetDataSet(ds.get());
    ds->Open();
    EXPECT_EQ(field->AsString(), "Anna");
  }
  EXPECT_EQ(field->DataSet(), nullptr);
  EXPECT_TRUE(field->IsNull());
}

TEST(DataSetFields, CalculatedFieldsAreFilledForEachRow) {
  auto ds = MakePeople();
  TField* id = MakeComponent<TIntegerField>(ds.get());
  id->SetFieldName("id");
  id->SetDataSet(ds.get());
  TField* twice = MakeComponent<TIntegerField>(ds.get());
  twice->SetFieldName("twice");
  twice->SetFieldKind(TFieldKind::fkCalculated);
  twice->SetDataSet(ds.get());
  auto calc = [&](TDataSet*) { twice->SetAsInteger(id->AsInteger() * 2); };
  ds->OnCalcFields = TDataSetNotifyEvent::Of(calc);
  ds->Open();  // a calculated field needs no column
  EXPECT_EQ(twice->AsInteger(), 2);
  ds->Next();
  EXPECT_EQ(twice->AsInteger(), 4);
  ds->OnCalcFields.Clear();
}

TEST(DataSetEditing, OnNewRecordDefaultsDoNotCountAsChanges) {
  auto ds = MakePeople();
  ds->Open();
  auto defaults = [](TDataSet* d) { d->FieldByName("amount")->SetAsFloat(1.5); };
  ds->OnNewRecord = TDataSetNotifyEvent::Of(defaults);
  ds->Append();
  EXPECT_EQ(ds->FieldByName("amount")->AsFloat(), 1.5);
  EXPECT_FALSE(ds->Modified());
  ds->Prior();  // nothing typed: the new row is dropped, not posted
  EXPECT_TRUE(ds->posts.empty());
  EXPECT_EQ(ds->RecordCount(), 4);
  ds->OnNewRecord.Clear();
}

TEST(DataSetEditing, CancelOfAnInsertReturnsToTheRowBefore) {
  auto ds = MakePeople();
  ds->Open();
  ds->Next();
  ds->Insert();
  EXPECT_TRUE(ds->FieldByName("id")->IsNull());
  ds->Cancel();
  EXPECT_EQ(ds->FieldByName("id")->AsInteger(), 2);
}

TEST(DataSetState, ClosedDatasetRefusesNavigationAndEditing) {
  auto ds = MakePeople();
  EXPECT_THROW(ds->Next(), EDatabaseError);
  EXPECT_THROW(ds->Edit(), EDatabaseError);
  EXPECT_THROW(ds->Insert(), EDatabaseError);
  EXPECT_THROW(ds->Delete(), EDatabaseError);
  EXPECT_NO_THROW(ds->Post());
  EXPECT_NO_THROW(ds->Cancel());
}

TEST(DataSetRefresh, ReadsTheRowsAgain) {
  auto ds = MakePeople();
  Recorder rec(*ds);
  ds->Open();
  ds->Last();
  ds->rows.push_back({5, "Eve", 1.0, TBytes{}, ""});
  rec.Take();
  ds->Refresh();
  EXPECT_EQ(rec.Take(), "BeforeRefresh,AfterRefresh");
  EXPECT_EQ(ds->RecordCount(), 5);
  EXPECT_EQ(ds->RecNo(), 1);
}

}  // namespace
}  // namespace tersify::testing
