#include <gtest/gtest.h>

#include "tests/data/fixture.h"

namespace tersify::testing {
namespace {

struct LocateCase {
  const char* label;
  const char* field;
  Variant key;
  TLocateOptions options;
  int found_id;  // 0: not found
};

class Locate : public ::testing::TestWithParam<LocateCase> {};

// Rows: 1 Anna, 2 bob, 3 Bobby, 4 "" (empty name).
TEST_P(Locate, FindsTheFirstMatchingRow) {
  const LocateCase c = GetParam();
  auto ds = MakePeople();
  ds->Open();
  ds->Last();  // start away from the first row
  int scrolls = 0;
  auto count = [&](TDataSet*) { ++scrolls; };
  ds->BeforeScroll = TDataSetNotifyEvent::Of(count);
  ds->AfterScroll = TDataSetNotifyEvent::Of(count);
  const bool found = ds->Locate(c.field, c.key, c.options);
  EXPECT_EQ(found, c.found_id != 0);
  if (found) {
    EXPECT_EQ(ds->FieldByName("id")->AsInteger(), c.found_id);
    EXPECT_EQ(scrolls, 2);
  } else {
    EXPECT_EQ(ds->FieldByName("id")->AsInteger(), 4);  // nothing moved
    EXPECT_EQ(scrolls, 0);                             // and no event fired
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Locate,
    ::testing::Values(
        LocateCase{"ExactCaseSensitive", "name", "bob", 0, 2},
        LocateCase{"ExactCaseDiffers", "name", "BOB", 0, 0},
        LocateCase{"CaseInsensitive", "name", "BOB", loCaseInsensitive, 2},
        LocateCase{"PartialFindsFirstPrefix", "name", "Bo", loPartialKey, 3},
        LocateCase{"PartialCaseInsensitive", "name", "bo", loPartialKey | loCaseInsensitive, 2},
        LocateCase{"PartialIsNoSubstring", "name", "obb", loPartialKey, 0},
        LocateCase{"PartialEmptyMatchesOnlyEmpty", "name", "", loPartialKey, 4},
        LocateCase{"ExactEmpty", "name", "", 0, 4},
        LocateCase{"PartialLongerThanValue", "name", "Bobby Tables", loPartialKey, 0},
        LocateCase{"IntegerByValue", "id", 3, 0, 3},
        LocateCase{"IntegerFromText", "id", "2", 0, 2},
        LocateCase{"IntegerMissing", "id", 99, 0, 0},
        LocateCase{"FloatByValue", "amount", 7.0, 0, 3},
        LocateCase{"NullFindsNull", "amount", Variant(), 0, 2},
        LocateCase{"ZeroIsNotNull", "amount", 0, 0, 4}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(LocateCurrentRow, SuccessOnTheCurrentRowStillFiresAfterScroll) {
  auto ds = MakePeople();
  ds->Open();
  int after = 0;
  auto count = [&](TDataSet*) { ++after; };
  ds->AfterScroll = TDataSetNotifyEvent::Of(count);
  EXPECT_TRUE(ds->Locate("id", 1, 0));
  EXPECT_EQ(after, 1);
  EXPECT_EQ(ds->RecNo(), 1);
}

TEST(LocateCurrentRow, UnknownFieldRaises) {
  auto ds = MakePeople();
  ds->Open();
  EXPECT_THROW(ds->Locate("nope", 1, 0), EDatabaseError);
}

TEST(LocateCurrentRow, DeferredColumnsAreLookedAtWithoutBeingKept) {
  auto ds = MakePeople(true);
  ds->Open();
  EXPECT_TRUE(ds->Locate("data", TBytes{"blob-3"}, 0));
  EXPECT_EQ(ds->RecNo(), 3);
  EXPECT_LE(ds->LoadedDeferred(), 1);
}

}  // namespace
}  // namespace tersify::testing
