// Reading SQL texts without a server: which selects let a row be found again
// by its table's key, and macro expansion.

#include <gtest/gtest.h>

#include "client/sql_text.h"

namespace tersify {
namespace {

struct ShapeCase {
  const char* sql;
  const char* table;
  bool single_table;
  std::vector<std::string> plain;
  bool star;
};

class SelectShapeTest : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(SelectShapeTest, ReadsTableAndPlainColumns) {
  const ShapeCase& c = GetParam();
  const SelectShape shape = AnalyzeSelect(c.sql);
  EXPECT_EQ(shape.table, c.table);
  EXPECT_EQ(shape.single_table, c.single_table);
  if (c.single_table) {
    EXPECT_EQ(shape.plain_columns, c.plain);
    EXPECT_EQ(shape.star, c.star);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SelectShapeTest,
    ::testing::Values(
        ShapeCase{"select acReport, acReportData from tqz_reports", "tqz_reports", true,
                  {"acReport", "acReportData"}, false},
        ShapeCase{"SELECT r.id, r.[data] FROM dbo.tqz_reports r WITH (NOLOCK) WHERE r.id > 1",
                  "dbo.tqz_reports", true, {"id", "data"}, false},
        ShapeCase{"select top 10 id, data as data from t order by id", "t", true, {"id", "data"}, false},
        ShapeCase{"select distinct top (5) * from t", "t", true, {}, true},
        ShapeCase{"select x.*, len(data) n from t x", "t", true, {}, true},
        ShapeCase{"select id, data + 1 as total, total2 = data from t", "t", true, {"id"}, false},
        ShapeCase{"select id as other from t", "t", true, {}, false},
        ShapeCase{"select 'from x' as c, id from t -- from y\n", "t", true, {"id"}, false},
        ShapeCase{"select a.id, b.x from a join b on a.id = b.id", "a", false, {}, false},
        ShapeCase{"select id from a, b", "a", false, {}, false},
        ShapeCase{"select id from (select id from t) q", "", false, {}, false},
        ShapeCase{"select id from t union select id from u", "t", false, {}, false},
        ShapeCase{"select id from t; delete from t", "t", false, {}, false},
        ShapeCase{"select (select max(id) from u) m, id from t", "t", true, {"id"}, false},
        ShapeCase{"update t set a = 1", "", false, {}, false},
        ShapeCase{"select @@SPID", "", false, {}, false}));

TEST(SelectShape, AStarCoversEveryColumnButRenamedExpressions) {
  const SelectShape shape = AnalyzeSelect("select *, id + 1 as next from t");
  EXPECT_TRUE(shape.NamesTableColumn("DATA"));
  EXPECT_FALSE(shape.NamesTableColumn("next"));
  const SelectShape plain = AnalyzeSelect("select id, [Data] from t");
  EXPECT_TRUE(plain.NamesTableColumn("data"));
  EXPECT_FALSE(plain.NamesTableColumn("other"));
}

TEST(Macros, OnlyKnownMacrosOutsideQuotesAreReplaced) {
  TStringList macros;
  macros.SetValue("cols", "a, b");
  macros.SetValue("Tab", "dbo.t");
  EXPECT_EQ(ExpandMacros("select &cols from &TAB where x = '&cols' and y = x&mask -- &cols", macros),
            "select a, b from dbo.t where x = '&cols' and y = x&mask -- &cols");
  EXPECT_EQ(ExpandMacros("select [&cols] from t", macros), "select [&cols] from t");
}

TEST(QuoteName, DoublesTheClosingBracket) {
  EXPECT_EQ(QuoteName("a]b"), "[a]]b]");
  EXPECT_EQ(QuoteName("order"), "[order]");
}

}  // namespace
}  // namespace tersify
