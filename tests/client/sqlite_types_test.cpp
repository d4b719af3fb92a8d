// SQLite's own column types through the client: TEXT keys, untyped columns,
// NUMERIC/REAL/ANY columns and WITHOUT ROWID tables read, take a change posted
// by their key, and read it back. A key whose storage class differs from its
// column's kind must find exactly its own row.

#include <string>
#include <vector>

#include "tests/client/client_fixture.h"

namespace tersify::testing {
namespace {

struct TypesCase {
  const char* name;
  const char* setup;   // creates table t with key column k and value column v
  int target_row;      // 0-based, in "order by rowid-like" order of the select
  const char* expected_after;  // group_concat(hex(v)) over the table in key order, after the post
};

class SqliteTypesTest : public ::testing::TestWithParam<TypesCase> {
 protected:
  SqliteTypesTest() : db_("sqlite"), connection_(nullptr) {
    connection_.SetServer("sqlite");
    connection_.SetDatabase(db_.FilePath());
  }
  std::unique_ptr<TMSQuery> Opened(const std::string& sql) {
    auto query = std::make_unique<TMSQuery>(nullptr);
    query->SetConnection(&connection_);
    query->SetSQLText(sql);
    query->Open();
    return query;
  }

  TestDatabase db_;
  TMSConnection connection_;
};

TEST_P(SqliteTypesTest, ChangePostedByKeyReadsBack) {
  const TypesCase& c = GetParam();
  db_.ExecDirect(c.setup);
  const std::string before = db_.StoredBytes("select group_concat(hex(k) || ':' || typeof(k), ',') from t");
  auto q = Opened("select k, v from t order by typeof(k), k");
  for (int i = 0; i < c.target_row; ++i) q->Next();
  q->Edit();
  q->FieldByName("v")->SetAsString("new");
  q->Post();  // held to exactly one row: a key bound in another form would find none
  EXPECT_EQ(db_.StoredBytes("select group_concat(hex(v), ',') from (select v from t order by typeof(k), k)"),
            c.expected_after);
  // Keys untouched, with their storage classes.
  EXPECT_EQ(db_.StoredBytes("select group_concat(hex(k) || ':' || typeof(k), ',') from t"), before);

  // Read back through the client.
  auto again = Opened("select k, v from t order by typeof(k), k");
  for (int i = 0; i < c.target_row; ++i) again->Next();
  EXPECT_EQ(again->FieldByName("v")->AsString(), "new");
}

// hex('new') = 6E6577
INSTANTIATE_TEST_SUITE_P(
    Tables, SqliteTypesTest,
    ::testing::Values(
        TypesCase{"TextKeyBlobValue",
                  "create table t(k TEXT PRIMARY KEY, v BLOB);"
                  "insert into t values('a', x'01'), ('b', 'plain text'), (x'63', x'03')",
                  0, "6E6577,01,706C61696E2074657874"},  // the blob key sorts first
        TypesCase{"TextInABlobColumnIsRewritten",
                  "create table t(k TEXT PRIMARY KEY, v BLOB);"
                  "insert into t values('a', x'01'), ('b', 'plain text')",
                  1, "01,6E6577"},
        TypesCase{"UntypedColumnsIntegerAndTextKeysStayApart",
                  "create table t(k PRIMARY KEY, v);"
                  "insert into t values(x'31', x'31'), (1, x'01'), ('1', x'02')",
                  1, "31,6E6577,02"},  // x'31' (blob), 1 (integer), '1' (text)
        TypesCase{"NumericKeyKeepsALargeIntegerExact",
                  "create table t(k NUMERIC PRIMARY KEY, r REAL, a ANY, v BLOB);"
                  "insert into t values(9007199254740993, 1.5, 'x', x'01'),"
                  " (9007199254740992, 2, 3, x'02'), ('abc', null, x'00', x'03')",
                  1, "02,6E6577,03"},
        TypesCase{"RealKey",
                  "create table t(k REAL PRIMARY KEY, v BLOB);"
                  "insert into t values(0.1, x'01'), (2, x'02')",
                  0, "6E6577,02"},
        TypesCase{"WithoutRowid",
                  "create table t(k TEXT PRIMARY KEY, v BLOB) WITHOUT ROWID;"
                  "insert into t values('a', x'01'), ('b', x'02')",
                  1, "01,6E6577"}),
    [](const ::testing::TestParamInfo<TypesCase>& info) { return std::string(info.param.name); });

TEST(SqliteColumnTypes, DescribedByAffinity) {
  TestDatabase db("sqlite");
  db.ExecDirect(
      "create table t(a TEXT, b BLOB, c, d ANY, e NUMERIC, f REAL, g INTEGER, h VARCHAR(10),"
      " i STRING, j DOUBLE PRECISION, k MEDIUMINT, l image, m datetime);"
      "insert into t values('x', x'01', 5, 'y', 7, 1.5, 8, 'z', '12', 2.5, 9, x'02', '2024-01-02')");
  TMSConnection connection(nullptr);
  connection.SetServer("sqlite");
  connection.SetDatabase(db.FilePath());
  TMSQuery q(nullptr);
  q.SetConnection(&connection);
  q.SetSQLText("select * from t");
  q.Open();
  const std::vector<std::pair<const char*, TFieldType>> expected = {
      {"a", ftString}, {"b", ftBlob},     {"c", ftLargeint}, {"d", ftString},
      {"e", ftFMTBcd}, {"f", ftFloat},    {"g", ftInteger},  {"h", ftString},
      {"i", ftLargeint},  {"j", ftFloat},    {"k", ftInteger},  {"l", ftBlob},
      {"m", ftDateTime}};
  for (const auto& [name, type] : expected)
    EXPECT_EQ(q.FieldByName(name)->DataType(), type) << name << ": " << FieldTypeName(q.FieldByName(name)->DataType());
  // NUMERIC affinity ("STRING" included) stores whole numbers as integers; they come so.
  EXPECT_EQ(q.FieldByName("e")->Value().Type(), TVarType::Integer);
  EXPECT_EQ(q.FieldByName("i")->Value(), Variant(12LL));
}

}  // namespace
}  // namespace tersify::testing
