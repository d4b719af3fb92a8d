// The declared-type table every provider shares.

#include <gtest/gtest.h>

#include "client/providers/provider.h"

namespace tersify::providers {
namespace {

struct Declared {
  const char* declared;
  TFieldType type;
  int32_t size;
  const char* normalised;
};

class DescribeColumnTest : public ::testing::TestWithParam<Declared> {};

TEST_P(DescribeColumnTest, MapsTheDeclaredType) {
  const Declared& d = GetParam();
  const ColumnInfo info = DescribeColumn("acColumn", d.declared);
  EXPECT_EQ(info.name, "acColumn");
  EXPECT_EQ(info.type, d.type) << d.declared;
  EXPECT_EQ(info.size, d.size) << d.declared;
  EXPECT_EQ(info.declared_type, d.normalised);
}

INSTANTIATE_TEST_SUITE_P(
    Types, DescribeColumnTest,
    ::testing::Values(
        Declared{"blob", ftBlob, 0, "blob"}, Declared{"IMAGE", ftBlob, 0, "image"},
        Declared{"varbinary(max)", ftBlob, 0, "varbinary(max)"},
        Declared{"VarBinary( 200 )", ftBlob, 0, "varbinary(200)"},
        Declared{"binary(16)", ftBlob, 0, "binary(16)"}, Declared{"bytea", ftBlob, 0, "bytea"},
        Declared{"text", ftMemo, 0, "text"}, Declared{"varchar(MAX)", ftMemo, 0, "varchar(max)"},
        Declared{"clob", ftMemo, 0, "clob"}, Declared{"ntext", ftWideMemo, 0, "ntext"},
        Declared{"nvarchar(max)", ftWideMemo, 0, "nvarchar(max)"},
        Declared{"varchar(30)", ftString, 30, "varchar(30)"},
        Declared{"  VARCHAR ( 30 ) ", ftString, 30, "varchar(30)"},
        Declared{"char(1)", ftString, 1, "char(1)"},
        Declared{"Character(8)", ftString, 8, "character(8)"},
        Declared{"nvarchar(4000)", ftWideString, 4000, "nvarchar(4000)"},
        Declared{"nchar(2)", ftWideString, 2, "nchar(2)"}, Declared{"int", ftInteger, 0, "int"},
        Declared{"INTEGER", ftInteger, 0, "integer"},
        Declared{"int identity", ftInteger, 0, "int identity"},
        Declared{"bigint", ftLargeint, 0, "bigint"},
        Declared{"smallint", ftSmallint, 0, "smallint"},
        Declared{"tinyint", ftSmallint, 0, "tinyint"}, Declared{"bit", ftBoolean, 0, "bit"},
        Declared{"Boolean", ftBoolean, 0, "boolean"}, Declared{"float", ftFloat, 0, "float"},
        Declared{"real", ftFloat, 0, "real"}, Declared{"double", ftFloat, 0, "double"},
        Declared{"double   precision", ftFloat, 0, "double precision"},
        Declared{"money", ftCurrency, 0, "money"},
        Declared{"smallmoney", ftCurrency, 0, "smallmoney"},
        Declared{"decimal(18, 4)", ftFMTBcd, 0, "decimal(18,4)"},
        Declared{"numeric", ftFMTBcd, 0, "numeric"}, Declared{"date", ftDate, 0, "date"},
        Declared{"time", ftTime, 0, "time"}, Declared{"datetime", ftDateTime, 0, "datetime"},
        Declared{"datetime2", ftDateTime, 0, "datetime2"},
        Declared{"smalldatetime", ftDateTime, 0, "smalldatetime"},
        Declared{"TIMESTAMP", ftDateTime, 0, "timestamp"}, Declared{"", ftUnknown, 0, ""},
        Declared{"uniqueidentifier", ftUnknown, 0, "uniqueidentifier"},
        Declared{"datetimeoffset", ftUnknown, 0, "datetimeoffset"},
        // A bare varchar (SQLite allows one) has no bound: a memo, never a truncating string.
        Declared{"varchar", ftMemo, 0, "varchar"}, Declared{"nvarchar", ftWideMemo, 0, "nvarchar"},
        Declared{"varchar(0)", ftMemo, 0, "varchar(0)"}));

}  // namespace
}  // namespace tersify::providers
