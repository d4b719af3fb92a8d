#include <gtest/gtest.h>

#include "framework/data/blob_stream.h"
#include "tests/data/fixture.h"

namespace tersify::testing {
namespace {

std::string ReadAllOf(TStream& s) { return s.ReadAll(); }

TEST(BlobStream, ReadModeReadsTheValueInBrowseState) {
  auto ds = MakePeople();
  ds->Open();
  TField* data = ds->FieldByName("data");
  auto s = ds->CreateBlobStream(data, TBlobStreamMode::bmRead);
  EXPECT_EQ(s->Size(), 6);
  char head[4];
  EXPECT_EQ(s->Read(head, 4), 4);
  EXPECT_EQ(std::string(head, 4), "blob");
  s->Seek(0, TSeekOrigin::soBeginning);
  EXPECT_EQ(ReadAllOf(*s), "blob-1");
  EXPECT_EQ(s->Write("x", 1), 0);  // read mode writes nothing
  s.reset();
  EXPECT_EQ(data->AsString(), "blob-1");
}

struct ModeCase {
  TBlobStreamMode mode;
  const char* name;
};
class BlobStreamWriting : public ::testing::TestWithParam<ModeCase> {};

TEST_P(BlobStreamWriting, NeedsEditStateAndAWritableField) {
  auto ds = MakePeople();
  ds->Open();
  TField* data = ds->FieldByName("data");
  try {
    ds->CreateBlobStream(data, GetParam().mode);
    FAIL() << "stream made in browse state";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Dataset not in edit or insert mode");
  }
  ds->Edit();
  data->SetReadOnly(true);
  try {
    ds->CreateBlobStream(data, GetParam().mode);
    FAIL() << "stream made on a read-only field";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'data' cannot be modified");
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, BlobStreamWriting,
                         ::testing::Values(ModeCase{TBlobStreamMode::bmWrite, "Write"},
                                           ModeCase{TBlobStreamMode::bmReadWrite, "ReadWrite"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BlobStream, WriteModeStartsEmptyAndStoresBytesOnDestruction) {
  auto ds = MakePeople();
  ds->Open();
  TField* data = ds->FieldByName("data");
  int changes = 0;
  auto on_change = [&](TField*) { ++changes; };
  data->OnChange = TFieldNotifyEvent::Of(on_change);
  ds->Edit();
  auto s = ds->CreateBlobStream(data, TBlobStreamMode::bmWrite);
  EXPECT_EQ(s->Size(), 0);
  s->WriteString("new bytes");
  EXPECT_EQ(data->Value(), Variant(TBytes{"blob-1"}));  // not stored yet
  EXPECT_EQ(changes, 0);
  s.reset();
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(data->Value(), Variant(TBytes{"new bytes"}));
  EXPECT_EQ(data->Value().Type(), TVarType::Bytes);
  EXPECT_EQ(data->OldValue(), Variant(TBytes{"blob-1"}));
  EXPECT_TRUE(ds->Modified());
}

TEST(BlobStream, MemoStoresTextAndReadWriteStartsWithTheValue) {
  auto ds = MakePeople();
  ds->Open();
  TField* note = ds->FieldByName("note");
  ds->Edit();
  auto s = ds->CreateBlobStream(note, TBlobStreamMode::bmReadWrite);
  EXPECT_EQ(s->Size(), 6);
  s->Seek(0, TSeekOrigin::soEnd);
  s->WriteString("+");
  s.reset();
  EXPECT_EQ(note->Value(), Variant("memo 1+"));
  EXPECT_EQ(note->Value().Type(), TVarType::String);

  // SetSize(0) then writing replaces the content, as the envelope stream does.
  s = ds->CreateBlobStream(note, TBlobStreamMode::bmReadWrite);
  s->SetSize(0);
  s->Seek(0, TSeekOrigin::soBeginning);
  s->WriteString("short");
  s.reset();
  EXPECT_EQ(note->AsString(), "short");
}

TEST(BlobStream, WriteModeWithNothingWrittenStoresAnEmptyValue) {
  auto ds = MakePeople();
  ds->Open();
  ds->Edit();
  TField* data = ds->FieldByName("data");
  ds->CreateBlobStream(data, TBlobStreamMode::bmWrite).reset();
  EXPECT_FALSE(data->IsNull());
  EXPECT_EQ(data->AsString(), "");
}

TEST(BlobStream, ReadWriteWithoutWritingChangesNothing) {
  auto ds = MakePeople();
  ds->Open();
  ds->Edit();
  ds->CreateBlobStream(ds->FieldByName("data"), TBlobStreamMode::bmReadWrite).reset();
  EXPECT_FALSE(ds->Modified());
}

// A dataset whose blob streams are counted: the field's string value must go
// through the virtual CreateBlobStream, so that a binding in a descendant applies.
class CountingDataSet : public TMemDataSet {
 public:
  std::vector<TBlobStreamMode> modes;
  std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode) override {
    modes.push_back(mode);
    return TMemDataSet::CreateBlobStream(field, mode);
  }
};

TEST(BlobStream, BlobFieldStringValueGoesThroughCreateBlobStream) {
  CountingDataSet ds;
  ds.columns = {{"data", ftBlob}};
  ds.rows = {{TBytes{"abc"}}};
  ds.Open();
  TField* data = ds.Fields(0);
  EXPECT_EQ(data->AsString(), "abc");
  ds.Edit();
  data->SetAsString("xyz");
  EXPECT_EQ(ds.modes, (std::vector<TBlobStreamMode>{TBlobStreamMode::bmRead, TBlobStreamMode::bmWrite}));
  EXPECT_EQ(data->Value(), Variant(TBytes{"xyz"}));
  auto* blob = static_cast<TBlobField*>(data);
  EXPECT_EQ(blob->BlobSize(), 3);
  TMemoryStream out;
  blob->SaveToStream(out);
  EXPECT_EQ(out.Bytes(), "xyz");
  TMemoryStream in(std::string("loaded"));
  blob->LoadFromStream(in);
  EXPECT_EQ(blob->AsString(), "loaded");
  EXPECT_EQ(blob->DisplayText(), "(BLOB)");
}

TEST(BlobStream, FlushReportsAnErrorOfOnChange) {
  auto ds = MakePeople();
  ds->Open();
  ds->Edit();
  TField* data = ds->FieldByName("data");
  auto refuse = [](TField*) { throw EDatabaseError("no"); };
  data->OnChange = TFieldNotifyEvent::Of(refuse);
  TDataSetBlobStream s(*ds, data, TBlobStreamMode::bmWrite);
  s.WriteString("v");
  EXPECT_THROW(s.Flush(), EDatabaseError);
  EXPECT_EQ(data->AsString(), "v");  // stored before the handler ran
}

TEST(BlobStream, StreamOutlivingTheEditStoresNothing) {
  auto ds = MakePeople();
  ds->Open();
  ds->Edit();
  TField* data = ds->FieldByName("data");
  auto s = ds->CreateBlobStream(data, TBlobStreamMode::bmWrite);
  s->WriteString("late");
  ds->Cancel();
  s.reset();
  EXPECT_EQ(data->AsString(), "blob-1");
}

// ---- deferred values

TEST(DeferredValues, FetchedOncePerVisitAndReleasedOnMoving) {
  auto ds = MakePeople(/*deferred_blob=*/true);
  ds->Open();
  EXPECT_EQ(ds->fetches, 0);  // nothing is fetched until touched
  TField* data = ds->FieldByName("data");
  EXPECT_EQ(data->AsString(), "blob-1");
  EXPECT_EQ(data->AsString(), "blob-1");
  EXPECT_EQ(data->Value(), Variant(TBytes{"blob-1"}));
  EXPECT_EQ(ds->fetches, 1);
  ds->Next();
  EXPECT_EQ(ds->fetches, 1);  // moving alone fetches nothing
  EXPECT_EQ(data->AsString(), "blob-2");
  EXPECT_EQ(ds->fetches, 2);
  ds->Prior();  // the first row's value was released: it is fetched again
  EXPECT_EQ(data->AsString(), "blob-1");
  EXPECT_EQ(ds->fetches, 3);
  EXPECT_EQ((ds->fetches_by_cell[{0, 3}]), 2);
}

TEST(DeferredValues, AtMostTheCurrentRowIsKeptOverAFullPass) {
  auto ds = MakePeople(true);
  ds->Open();
  TField* data = ds->FieldByName("data");
  for (; !ds->Eof(); ds->Next()) {
    (void)data->AsString();
    EXPECT_LE(ds->LoadedDeferred(), 1);
  }
  EXPECT_EQ(ds->fetches, 4);
}

TEST(DeferredValues, EditingKeepsOldAndNewAndPostKeepsOnlyTheCurrentRow) {
  auto ds = MakePeople(true);
  ds->Open();
  TField* data = ds->FieldByName("data");
  ds->Edit();
  data->SetAsString("rewritten");
  EXPECT_EQ(data->OldValue(), Variant(TBytes{"blob-1"}));
  EXPECT_EQ(data->NewValue(), Variant(TBytes{"rewritten"}));
  ds->Post();
  ASSERT_EQ(ds->posts.size(), 1u);
  EXPECT_EQ(ds->posts[0].old_values[3], Variant(TBytes{"blob-1"}));
  EXPECT_EQ(ds->posts[0].new_values[3], Variant(TBytes{"rewritten"}));
  EXPECT_EQ(data->AsString(), "rewritten");  // still current: kept
  const int fetched = ds->fetches;
  ds->Next();
  ds->Prior();
  ds->rows[0][3] = TBytes{"as stored"};
  EXPECT_EQ(data->AsString(), "as stored");  // released, asked for again
  EXPECT_EQ(ds->fetches, fetched + 1);
}

TEST(DeferredValues, UntouchedDeferredValueIsNotFetchedByAPost) {
  auto ds = MakePeople(true);
  ds->Open();
  ds->Edit();
  ds->FieldByName("name")->SetAsString("x");
  // The test double reads every field's values in InternalPost, so a fetch is
  // expected there; what matters is that the edit itself did not fetch.
  EXPECT_EQ(ds->fetches, 0);
  ds->Post();
  EXPECT_EQ(ds->fetches, 1);
  EXPECT_EQ(ds->FieldByName("data")->AsString(), "blob-1");
  EXPECT_EQ(ds->fetches, 1);
}

TEST(DeferredValues, FieldChangedDoesNotFetchAnUntouchedValue) {
  auto ds = MakePeople(true);
  ds->Open();
  TField* data = ds->FieldByName("data");
  TField* name = ds->FieldByName("name");
  ds->Edit();
  EXPECT_FALSE(ds->FieldChanged(data));
  EXPECT_EQ(ds->fetches, 0);
  name->SetAsString("Anna");  // the same value
  EXPECT_FALSE(ds->FieldChanged(name));
  name->SetAsString("Other");
  EXPECT_TRUE(ds->FieldChanged(name));
  data->SetAsString("blob-1");  // assigned, but equal to what is stored
  EXPECT_FALSE(ds->FieldChanged(data));
  data->SetAsString("blob-9");
  EXPECT_TRUE(ds->FieldChanged(data));
  ds->Cancel();
  ds->Insert();
  EXPECT_FALSE(ds->FieldChanged(name));
  name->SetAsString("n");
  EXPECT_TRUE(ds->FieldChanged(name));
}

}  // namespace
}  // namespace tersify::testing
