// The count lines a pass leaves on standard error: one row is one row.

#include "tool/pass/options.h"

#include <gtest/gtest.h>

#include <string>

namespace tersify {
namespace {

struct NotesCase {
  const char* title;
  int32_t changed, deleted, null_keys;
  const char* notes;
};

void PrintTo(const NotesCase& c, std::ostream* os) { *os << c.title; }

class PassNotesText : public ::testing::TestWithParam<NotesCase> {};

TEST_P(PassNotesText, AgreeInNumberWithTheirCounts) {
  TRecompressReport report;
  report.changed_rows = GetParam().changed;
  report.deleted_rows = GetParam().deleted;
  report.null_key_rows = GetParam().null_keys;
  EXPECT_EQ(PassNotes(report), GetParam().notes);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PassNotesText,
    ::testing::Values(
        NotesCase{"None", 0, 0, 0, ""},
        NotesCase{"One",
                  1, 1, 1,
                  "1 row was changed by another session during the pass and left as it is; run the pass again "
                  "to include it\n"
                  "1 row was deleted by another session during the pass; it is counted as skipped\n"
                  "1 row has a NULL key and was left as it is; it is counted as skipped\n"},
        NotesCase{"Several",
                  2, 3, 4,
                  "2 rows were changed by another session during the pass and left as they are; run the pass "
                  "again to include them\n"
                  "3 rows were deleted by another session during the pass; they are counted as skipped\n"
                  "4 rows have a NULL key and were left as they are; they are counted as skipped\n"}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(CountOf, IsSingularForExactlyOne) {
  EXPECT_EQ(CountOf(0, "record"), "0 records");
  EXPECT_EQ(CountOf(1, "record"), "1 record");
  EXPECT_EQ(CountOf(2, "row"), "2 rows");
  EXPECT_EQ(CountOf(-1, "row"), "-1 rows");
  EXPECT_EQ(CountOf(3000000000LL, "row"), "3000000000 rows");
}

}  // namespace
}  // namespace tersify
