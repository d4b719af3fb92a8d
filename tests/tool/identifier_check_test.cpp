// The name check that stands between the command line and the SQL text.

#include "tool/identifier_check.h"

#include <gtest/gtest.h>

#include <string>

#include "framework/rtl/exception.h"

namespace tersify {
namespace {

struct NameCase {
  std::string name;
  bool safe;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

class SqlName : public ::testing::TestWithParam<NameCase> {};

TEST_P(SqlName, IsAcceptedOnlyWhenMadeOfIdentifierParts) {
  EXPECT_EQ(IsSafeSqlName(GetParam().name), GetParam().safe);
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, SqlName,
    ::testing::Values(NameCase{"tqz_reports", true}, NameCase{"t", true}, NameCase{"acReportData", true},
                      NameCase{"dbo.t", true}, NameCase{"db.dbo.t", true}, NameCase{"t#1", true},
                      NameCase{"t@$1", true}, NameCase{"_9", true}, NameCase{"[a b]", true},
                      NameCase{"[9a]", true}, NameCase{"[dbo].[t]", true}, NameCase{"[t;x]", true},
                      NameCase{"[a.b]", true}, NameCase{"\xC4nderungen", true}, NameCase{"dbo.[my table]", true}));

INSTANTIATE_TEST_SUITE_P(
    Refused, SqlName,
    ::testing::Values(NameCase{"", false}, NameCase{"t; drop table x", false}, NameCase{"t;", false},
                      NameCase{"a b", false}, NameCase{"x--", false}, NameCase{"x/*", false},
                      NameCase{"t.", false}, NameCase{".t", false}, NameCase{"a..b", false},
                      NameCase{"[a]b]", false}, NameCase{"[a", false}, NameCase{"[a]]", false},
                      NameCase{"[]", false}, NameCase{"a]", false}, NameCase{"t'", false},
                      NameCase{"t\"", false}, NameCase{"a,b", false}, NameCase{"f(x)", false},
                      NameCase{"a\tb", false}, NameCase{"[a\nb]", false}, NameCase{"t ", false},
                      NameCase{" t", false}, NameCase{std::string("t\0x", 3), false},
                      NameCase{"[a].", false}, NameCase{"[a]x", false},
                      // Read differently by T-SQL and SQLite.
                      NameCase{"[a]]b]", false}, NameCase{"[a]]; drop table x; --]", false},
                      NameCase{"#tmp", false}, NameCase{"@t", false}, NameCase{"$t", false},
                      NameCase{"9a", false}, NameCase{"dbo.1t", false}));

TEST(BareSqlName, IsTheLastPartWithoutBrackets) {
  EXPECT_EQ(BareSqlName("acReport"), "acReport");
  EXPECT_EQ(BareSqlName("[acReport]"), "acReport");
  EXPECT_EQ(BareSqlName("dbo.[tqz reports]"), "tqz reports");
  EXPECT_EQ(BareSqlName("[a.b].c"), "c");
  EXPECT_EQ(BareSqlName("x.[a.b]"), "a.b");
}

TEST(CheckSqlName, NamesWhatWasRefused) {
  EXPECT_NO_THROW(CheckSqlName("table", "dbo.tqz_reports"));
  try {
    CheckSqlName("key field", "a b");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Invalid key field name: a b");
  }
  try {
    CheckSqlName("table", "t; drop table x");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Invalid table name: t; drop table x");
  }
}

}  // namespace
}  // namespace tersify
