// Filter expressions: which rows pass, with and without the filter options,
// and the texts that cannot be read.

#include "db/filter_expression.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "framework/data/db_error.h"

namespace tersify::testing {
namespace {

// acCode 'Ab1', anQty 5, acNote null, acName "O'Hara".
Variant ValueOf(const std::string& field) {
  static const std::map<std::string, Variant> row = {
      {"acCode", Variant("Ab1")}, {"anQty", Variant(5)}, {"acNote", Variant()}, {"acName", Variant("O'Hara")},
      {"ac Space", Variant("x")}};
  auto it = row.find(field);
  if (it == row.end()) throw EDatabaseError("Field '" + field + "' not found");
  return it->second;
}

struct MatchCase {
  const char* text;
  TFilterOptions options;
  bool passes;
};

void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.text << " [" << int(c.options) << "]"; }

class FilterMatchTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(FilterMatchTest, DecidesTheRow) {
  const MatchCase& c = GetParam();
  EXPECT_EQ(TFilterExpression(c.text, c.options).Matches(ValueOf), c.passes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilterMatchTest,
    ::testing::Values(MatchCase{"", 0, true}, MatchCase{"   ", 0, true},
                      MatchCase{"acCode = 'Ab1'", 0, true}, MatchCase{"acCode = 'ab1'", 0, false},
                      MatchCase{"acCode = 'ab1'", foCaseInsensitive, true},
                      MatchCase{"acCode <> 'Ab1'", 0, false},
                      // Partial compare with a trailing *.
                      MatchCase{"acCode = 'A*'", 0, true}, MatchCase{"acCode = 'a*'", 0, false},
                      MatchCase{"acCode = 'a*'", foCaseInsensitive, true},
                      MatchCase{"acCode <> 'A*'", 0, false},
                      MatchCase{"acCode = 'A*'", foNoPartialCompare, false},
                      // Numbers compare as numbers, text as text.
                      MatchCase{"anQty = 5", 0, true}, MatchCase{"anQty > 10", 0, false},
                      MatchCase{"anQty >= 5.0", 0, true}, MatchCase{"anQty < -1", 0, false},
                      MatchCase{"anQty <= 5", 0, true}, MatchCase{"acCode < 'B'", 0, true},
                      // Nulls.
                      MatchCase{"acNote = NULL", 0, true}, MatchCase{"acNote <> null", 0, false},
                      MatchCase{"acNote is null", 0, true}, MatchCase{"acCode IS NOT NULL", 0, true},
                      MatchCase{"acNote = 'x'", 0, false}, MatchCase{"acNote <> 'x'", 0, false},
                      MatchCase{"acNote > 'x'", 0, false},
                      // Logic, precedence and grouping: and binds closer than or.
                      MatchCase{"acCode = 'x' or anQty = 5 and acNote is null", 0, true},
                      MatchCase{"(acCode = 'x' or anQty = 5) and acNote is not null", 0, false},
                      MatchCase{"not acCode = 'x'", 0, true}, MatchCase{"NOT (anQty = 5)", 0, false},
                      MatchCase{"not not anQty = 5", 0, true},
                      // Quotes and bracketed names.
                      MatchCase{"acName = 'O''Hara'", 0, true}, MatchCase{"[ac Space] = 'x'", 0, true}));

TEST(FilterExpressionTest, TextsThatCannotBeReadAreRefused) {
  const char* texts[] = {"acCode =",        "acCode 'x'",      "= 'x'",          "acCode = 'x",
                         "(acCode = 'x'",   "acCode = 'x')",   "acCode = 'x' and", "acCode is 'x'",
                         "[acCode = 'x'",   "acCode = 'x' ; ", "null = 1"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    try {
      TFilterExpression expression(text, 0);
      ADD_FAILURE() << "accepted";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message().rfind("Filter expression incorrect: ", 0), 0u) << e.Message();
    }
  }
}

TEST(FilterExpressionTest, AFieldTheRowDoesNotHaveRaisesTheRowsError) {
  const TFilterExpression expression("acMissing = 1", 0);
  EXPECT_THROW(expression.Matches(ValueOf), EDatabaseError);
}

}  // namespace
}  // namespace tersify::testing
