// The TDS test server keeps each column's declared SQL Server type: it is what
// the column metadata says, and the values travel in it. Seen through the
// client's ODBC provider (SQLDescribeCol, SQL_DESC_TYPE_NAME) and through
// FreeTDS's tsql. Date-times and decimals compare as SQL Server compares them
// with parameters of another type.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "client/providers/odbc/odbc_provider.h"
#include "tests/support/provider_matrix.h"
#include "tests/support/tds_server/date_text.h"

namespace tersify::testing {
namespace {

class ServerTypes : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ProviderAvailable("odbc")) GTEST_SKIP() << "FreeTDS's ODBC driver is not installed";
    db_ = std::make_unique<TestDatabase>("odbc");
    db_->ExecDirect(
        "create table typed (i int, bi bigint, si smallint, ti tinyint, b bit, d decimal(38,0), "
        "n numeric(10,2), f float, r real, dt datetime, dt2 datetime2, dt3 datetime2(3), dd date, "
        "c char(5), vc varchar(20), vm varchar, nc nchar(4), nv nvarchar(30), nm nvarchar, "
        "bn binary(4), vb varbinary(16), vbm varbinary, im image, tx text, nt ntext, "
        "g uniqueidentifier);"
        "insert into typed values (7, 9000000000, -3, 255, 1, 9007199254740993, 12.5, 0.5, 0.25, "
        "'2024-01-02 10:00:00.003', '2024-01-02 10:00:00.1234567', '2024-01-02 10:00:00.123', "
        "'2024-01-02', 'ab', 'Zoë', 'long', 'xy', 'Ωmega', 'wide', x'0102', x'0a0b', x'0c', x'0d0e', "
        "'text', 'ntext', '6F9619FF-8B86-D011-B42D-00C04FC964FF')");
    provider_ = providers::CreateOdbcProvider();
    provider_->Open(db_->Settings());
  }

  // The one value of a statement that counts.
  std::string Count(const std::string& sql, const Variant& param) {
    auto cursor = provider_->Execute(sql, {param});
    return cursor->Next() ? cursor->Value(0).AsString() : "(no row)";
  }

  std::unique_ptr<TestDatabase> db_;
  std::unique_ptr<providers::Provider> provider_;
};

TEST_F(ServerTypes, ColumnMetadataCarriesTheDeclaredTypes) {
  auto cursor = provider_->Execute("select * from typed", {});
  std::vector<std::string> declared;
  for (const providers::ColumnInfo& column : cursor->Columns()) declared.push_back(column.declared_type);
  const std::vector<std::string> expected = {
      "int", "bigint", "smallint", "tinyint", "bit", "decimal(38,0)", "numeric(10,2)", "float", "real",
      "datetime", "datetime2", "datetime2", "date", "char(5)", "varchar(20)", "varchar(max)", "nchar(4)",
      "nvarchar(30)", "nvarchar(max)", "binary(4)", "varbinary(16)", "varbinary(max)", "image", "text",
      "ntext", "uniqueidentifier"};
  EXPECT_EQ(declared, expected);
}

TEST_F(ServerTypes, ValuesTravelInTheDeclaredTypes) {
  auto cursor = provider_->Execute("select * from typed", {});
  ASSERT_TRUE(cursor->Next());
  std::vector<std::string> values;
  for (size_t i = 0; i < cursor->Columns().size(); ++i) values.push_back(cursor->Value(static_cast<int>(i)).AsString());
  // Fixed lengths come padded; varchar keeps what Windows-1252 holds, nvarchar
  // every character.
  EXPECT_EQ(values.at(0), "7");
  EXPECT_EQ(values.at(1), "9000000000");
  EXPECT_EQ(values.at(2), "-3");
  EXPECT_EQ(values.at(3), "255");
  EXPECT_EQ(values.at(13), "ab   ");
  EXPECT_EQ(values.at(14), "Zoë");
  EXPECT_EQ(values.at(16), "xy  ");
  EXPECT_EQ(values.at(17), "Ωmega");
  EXPECT_EQ(values.at(19), std::string("\x01\x02\0\0", 4));
  EXPECT_EQ(values.at(22), std::string("\x0d\x0e", 2));
  EXPECT_EQ(values.at(23), "text");
  EXPECT_EQ(values.at(24), "ntext");
  EXPECT_EQ(values.at(25), "6F9619FF-8B86-D011-B42D-00C04FC964FF");
}

// A key read as the pass reads it compares equal to its own row, in every
// type the variant cannot hold exactly, and nothing lies past it.
TEST_F(ServerTypes, KeysReadExactlyFindTheirOwnRow) {
  const std::vector<std::pair<std::string, std::string>> keys = {
      {"dt", "2024-01-02T10:00:00.003"},
      {"dt2", "2024-01-02 10:00:00.1234567"},
      {"dt3", "2024-01-02 10:00:00.123"},
      {"d", "9007199254740993"}};
  for (const auto& [column, text] : keys) {
    auto cursor = provider_->Execute("select " + column + " from typed", {});
    ASSERT_TRUE(cursor->Next());
    const Variant key = cursor->KeyValue(0);
    cursor.reset();
    EXPECT_EQ(key.AsString(), text) << column;
    for (const auto& [op, count] : {std::pair{"=", "1"}, std::pair{">", "0"}, std::pair{"<", "0"}}) {
      EXPECT_EQ(Count("select count(*) from typed where " + column + " " + op + " ?", key), count)
          << column << " " << op;
    }
  }
}

// SQL Server (compatibility level 130 on) converts a datetime exactly when it
// meets a datetime2: one tick, shown as .003, is .00333..., above .0030000.
TEST(ServerDateTimeRules, ADatetimeIsItsTickExactlyAgainstADatetime2) {
  using tds::CompareDateTimeTexts;
  EXPECT_EQ(CompareDateTimeTexts("2024-01-02 10:00:00.003", "2024-01-02 10:00:00.0030000", true), 1);
  // Not even its own datetime2(7) form matches: .00666... is below .0066667.
  EXPECT_EQ(CompareDateTimeTexts("2024-01-02 10:00:00.007", "2024-01-02 10:00:00.0066667", true), -1);
  EXPECT_EQ(CompareDateTimeTexts("2024-01-02 10:00:00.007", "2024-01-02 10:00:00.0070000", true), -1);
  // Against a datetime (three digits or fewer) or text converted to datetime: the same tick.
  EXPECT_EQ(CompareDateTimeTexts("2024-01-02 10:00:00.003", "2024-01-02T10:00:00.003", true), 0);
  EXPECT_EQ(CompareDateTimeTexts("2024-01-02 10:00:00.003", "2024-01-02 10:00:00.004", true), 0);
  EXPECT_EQ(CompareDateTimeTexts("2024-01-02 10:00:00", "2024-01-02 10:00:00.000", true), 0);
  EXPECT_EQ(CompareDateTimeTexts("2024-01-02 23:59:59.999", "2024-01-03", true), 0);
  // A datetime2 column takes every text as written.
  EXPECT_EQ(CompareDateTimeTexts("2024-01-02 10:00:00.003", "2024-01-02 10:00:00.0030000", false), 0);
  EXPECT_EQ(CompareDateTimeTexts("2024-01-02 10:00:00.1234567", "2024-01-02 10:00:00.1234568", false), -1);
  EXPECT_EQ(CompareDateTimeTexts("2024-01-03", "2024-01-02 23:59:59.9999999", false), 1);
  EXPECT_FALSE(CompareDateTimeTexts("2024-01-02", "soon", false).has_value());
}

// The server's own rule seen through ODBC: a datetime key sent back as the
// driver sends a date-time (datetime2), rounded to milliseconds, no longer
// finds its row; sent as read, it does.
TEST_F(ServerTypes, ADatetimeRoundedToMillisecondsMissesItsTick) {
  auto cursor = provider_->Execute("select dt from typed", {});
  ASSERT_TRUE(cursor->Next());
  const Variant rounded = cursor->Value(0);
  cursor.reset();
  ASSERT_EQ(rounded.Type(), TVarType::DateTime);
  EXPECT_EQ(Count("select count(*) from typed where dt = ?", rounded), "0");
  EXPECT_EQ(Count("select count(*) from typed where dt > ?", rounded), "1") << "the row lies past its own key";
}

}  // namespace
}  // namespace tersify::testing
