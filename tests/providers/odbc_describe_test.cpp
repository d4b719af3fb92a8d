// How the odbc provider names what a driver describes: declared column types
// (so columns map to field types as through every provider) and object names
// handed to the catalogue functions.

#include <gtest/gtest.h>

#include "client/errors.h"
#include "client/providers/odbc/odbc_catalog.h"
#include "client/providers/odbc/odbc_cursor.h"

namespace tersify::providers::odbc {
namespace {

struct DeclaredCase {
  std::string type_name;
  SQLSMALLINT sql_type;
  SQLULEN size;
  SQLSMALLINT digits;
  std::string declared;
  TFieldType field_type;
};

class DeclaredTypeTest : public ::testing::TestWithParam<DeclaredCase> {};

TEST_P(DeclaredTypeTest, NamesTheColumnAsTheServerDeclaresIt) {
  const DeclaredCase& c = GetParam();
  const std::string declared = DeclaredTypeText(c.type_name, c.sql_type, c.size, c.digits);
  EXPECT_EQ(declared, c.declared);
  EXPECT_EQ(DescribeColumn("c", declared).type, c.field_type) << declared;
}

INSTANTIATE_TEST_SUITE_P(
    Types, DeclaredTypeTest,
    ::testing::Values(
        DeclaredCase{"varbinary", SQL_VARBINARY, 0, 0, "varbinary(max)", ftBlob},
        DeclaredCase{"varbinary", SQL_LONGVARBINARY, 2147483647, 0, "varbinary(max)", ftBlob},
        DeclaredCase{"varbinary", SQL_VARBINARY, 16, 0, "varbinary(16)", ftBlob},
        DeclaredCase{"image", SQL_LONGVARBINARY, 2147483647, 0, "image", ftBlob},
        DeclaredCase{"nvarchar", SQL_WVARCHAR, 30, 0, "nvarchar(30)", ftWideString},
        DeclaredCase{"nvarchar", SQL_WVARCHAR, 0, 0, "nvarchar(max)", ftWideMemo},
        DeclaredCase{"nvarchar", SQL_WLONGVARCHAR, 1073741823, 0, "nvarchar(max)", ftWideMemo},
        DeclaredCase{"varchar", SQL_VARCHAR, 8000, 0, "varchar(8000)", ftString},
        DeclaredCase{"varchar", SQL_LONGVARCHAR, 0, 0, "varchar(max)", ftMemo},
        DeclaredCase{"text", SQL_LONGVARCHAR, 2147483647, 0, "text", ftMemo},
        DeclaredCase{"ntext", SQL_WLONGVARCHAR, 1073741823, 0, "ntext", ftWideMemo},
        DeclaredCase{"int", SQL_INTEGER, 10, 0, "int", ftInteger},
        DeclaredCase{"int identity", SQL_INTEGER, 10, 0, "int", ftInteger},
        DeclaredCase{"BIGINT", SQL_BIGINT, 19, 0, "bigint", ftLargeint},
        DeclaredCase{"bit", SQL_BIT, 1, 0, "bit", ftBoolean},
        DeclaredCase{"datetime", SQL_TYPE_TIMESTAMP, 23, 3, "datetime", ftDateTime},
        DeclaredCase{"decimal", SQL_DECIMAL, 18, 4, "decimal(18,4)", ftFMTBcd},
        DeclaredCase{"money", SQL_DECIMAL, 19, 4, "money", ftCurrency},
        DeclaredCase{"timestamp", SQL_BINARY, 8, 0, "binary(8)", ftBlob},
        // A driver that gives no type name: the SQL type stands in.
        DeclaredCase{"", SQL_INTEGER, 10, 0, "int", ftInteger},
        DeclaredCase{"", SQL_VARBINARY, 0, 0, "varbinary(max)", ftBlob},
        DeclaredCase{"", SQL_WVARCHAR, 20, 0, "nvarchar(20)", ftWideString},
        DeclaredCase{"", SQL_DOUBLE, 15, 0, "float", ftFloat}));

TEST(SplitObjectNameTest, TakesPlainQualifiedAndQuotedNames) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitObjectName("t"), V{"t"});
  EXPECT_EQ(SplitObjectName("dbo.t"), V({"dbo", "t"}));
  EXPECT_EQ(SplitObjectName("[t]"), V{"t"});
  EXPECT_EQ(SplitObjectName("[dbo].[my table]"), V({"dbo", "my table"}));
  EXPECT_EQ(SplitObjectName("[my.db].dbo.[t]]x]"), V({"my.db", "dbo", "t]x"}));
  EXPECT_EQ(SplitObjectName("\"odd\"\"name\""), V{"odd\"name"});
  EXPECT_EQ(SplitObjectName("db..t"), V({"db", "", "t"}));
  EXPECT_EQ(SplitObjectName(" dbo . t "), V({"dbo", "t"}));
}

TEST(SplitObjectNameTest, RefusesMalformedNames) {
  for (const char* bad : {"", "[t", "a.b.c.d", "dbo.", "[]"})
    EXPECT_THROW(SplitObjectName(bad), EMSError) << bad;
}

}  // namespace
}  // namespace tersify::providers::odbc
