// The engine's statements on every provider: the guarded update writes a row
// only while it holds the value read and its key singles it out, in each guard
// form the provider may be given; pages follow the last key read.

#include "tool/pass/statements.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "client/providers/provider.h"
#include "tests/db/layer_fixture.h"
#include "tests/support/tsql_client.h"
#include "tool/pass/rewriter.h"

namespace tersify::testing {
namespace {

struct GuardForm {
  const char* title;
  int server_major;  // odbc only
  TWriteGuard kind;
};

class PassStatementsTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db_ = std::make_unique<TestDatabase>(GetParam());
    db_->ExecDirect(
        "create table t (k varchar(20) primary key, f blob);"
        "insert into t values ('a', x'" + std::string(200, '4') + "');"
        "insert into t values ('b', cast(x'" + std::string(200, '5') + "' as text));"
        "insert into t values ('c', x'00');"
        "create table twice (k varchar(20), f blob);"
        "insert into twice values ('x', x'0102'); insert into twice values ('x', x'0102')");
    provider_ = providers::CreateProvider(db_->Settings());
    provider_->Open(db_->Settings());
  }

  // The guard forms this provider may be given.
  std::vector<GuardForm> Forms() const {
    if (GetParam() == "sqlite")
      return {{"stored value", 0, TWriteGuard::StoredValue}, {"stored digest", 0, TWriteGuard::StoredDigest}};
    return {{"digest", 13, TWriteGuard::Digest}, {"stored bytes", 12, TWriteGuard::StoredBytes}};
  }

  struct Guarded {
    bool as_text = false;
    Variant value;
  };

  static Guarded GuardOf(const GuardForm& form, const std::string& bytes, bool as_text) {
    switch (form.kind) {
      case TWriteGuard::StoredValue: return {as_text, as_text ? Variant(bytes) : Variant(TBytes{bytes})};
      case TWriteGuard::StoredDigest:
      case TWriteGuard::Digest: return {as_text, Variant(TBytes{Sha256(bytes)})};
      case TWriteGuard::StoredBytes: return {as_text, Variant(TBytes{bytes})};
    }
    return {};
  }

  int64_t Update(const TPassStatements& sql, const GuardForm& form, const std::string& key, const std::string& value,
                 Guarded guard) {
    std::vector<Variant> params = {Variant(TBytes{value}), Variant(key)};
    AppendGuardParams(TGuardValue{form.kind, guard.as_text, std::move(guard.value)}, params);
    params.emplace_back(key);
    return provider_->Execute(sql.Update(form.kind, guard.as_text), params)->RowsAffected();
  }

  std::unique_ptr<TestDatabase> db_;
  std::unique_ptr<providers::Provider> provider_;
};

TEST_P(PassStatementsTest, TheUpdateWritesOnlyTheRowStillHoldingTheValueRead) {
  const std::string a(100, 'D'), b(100, 'U');  // x'44..' and x'55..'
  for (const GuardForm& form : Forms()) {
    SCOPED_TRACE(form.title);
    db_->ExecDirect("update t set f = x'" + std::string(200, '4') + "' where k = 'a';"
                    "update t set f = cast(x'" + std::string(200, '5') + "' as text) where k = 'b'");
    const TPassStatements sql(GetParam(), form.server_major, "t", "f", "k");
    // A stale guard writes nothing; the guard of the value stored writes one row.
    EXPECT_EQ(Update(sql, form, "a", "new a", GuardOf(form, a + "x", false)), 0);
    EXPECT_EQ(db_->StoredBytes("select f from t where k = 'a'"), a);
    EXPECT_EQ(Update(sql, form, "a", "new a", GuardOf(form, a, false)), 1);
    EXPECT_EQ(db_->StoredBytes("select f from t where k = 'a'"), "new a");
    // A value stored as text is guarded as it was read: on SQLite the same
    // bytes read as a blob are another value.
    if (GetParam() == "sqlite") {
      EXPECT_EQ(Update(sql, form, "b", "new b", GuardOf(form, b, false)), 0);
      EXPECT_EQ(db_->StoredBytes("select typeof(f) from t where k = 'b'"), "text");
    }
    EXPECT_EQ(Update(sql, form, "b", "new b", GuardOf(form, b, true)), 1);
    EXPECT_EQ(db_->StoredBytes("select f from t where k = 'b'"), "new b");
    // A key that matches two rows writes neither, whatever the guard.
    const TPassStatements twice(GetParam(), form.server_major, "twice", "f", "k");
    EXPECT_EQ(Update(twice, form, "x", "new", GuardOf(form, std::string("\x01\x02", 2), false)), 0);
    EXPECT_EQ(db_->StoredBytes("select count(*) from twice where f = x'0102'"), "2");
    // The count by key tells the two cases apart.
    auto count = provider_->Execute(twice.CountKey(), {Variant("x")});
    ASSERT_TRUE(count->Next());
    EXPECT_EQ(count->Value(0).AsInt64(), 2);
  }
}

TEST_P(PassStatementsTest, PagesFollowTheLastKeyRead) {
  const TPassStatements sql(GetParam(), 13, "t", "f", "k");
  std::vector<std::string> keys;
  std::vector<Variant> params;
  bool first = true;
  while (true) {
    auto cursor = provider_->Execute(sql.Page(first, 2, int64_t{1} << 20), params);
    int rows = 0;
    Variant last;
    while (cursor->Next()) {
      ++rows;
      last = cursor->Value(0);
      keys.push_back(last.AsString());
    }
    if (rows < 2) break;
    first = false;
    params = {last};
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"a", "b", "c"}));
}

// The page that ends at the byte budget, as the SQL Server provider sends it,
// run by FreeTDS's own client: the test server answers it as SQL Server
// would, with the rows before the one whose value reaches the budget, and
// that one. Values of 3 bytes against a budget of 7: the third row reaches it.
TEST(PassStatementsThroughTsql, APageEndsAtTheRowThatReachesTheBudget) {
  if (!ProviderAvailable("odbc")) GTEST_SKIP() << "no ODBC driver";
  if (!HaveTsql()) GTEST_SKIP() << "tsql (freetds-bin) is not installed";
  TestDatabase db("odbc");
  db.ExecDirect("create table t (k varchar(20) primary key, f blob);"
                "insert into t values ('a', x'616161'), ('b', x'626262'), ('c', x'636363'), ('d', x'646464'), "
                "('e', x'656565');");
  const TPassStatements sql("odbc", 13, "t", "f", "k");
  const std::string out = RunTsql(db, sql.Page(true, 4, 7) + "\ngo\n" + sql.Page(true, 2, 7) + "\ngo\n");
  EXPECT_NE(out.find("a\t616161\nb\t626262\nc\t636363\n(3 rows affected)"), std::string::npos) << out;
  EXPECT_NE(out.find("a\t616161\nb\t626262\n(2 rows affected)"), std::string::npos) << out;
  EXPECT_EQ(out.find("Msg "), std::string::npos) << out;
}

// SQLite compares text by the column's collation unless told otherwise: the
// guard must see a change of case or of trailing blanks as the change it is.
TEST(SqliteGuard, AChangeOfCaseOrTrailingBlanksUnderACollationIsNotOverwritten) {
  TestDatabase db("sqlite");
  db.ExecDirect("create table n (k varchar(20) primary key, f text collate nocase, g text collate rtrim)");
  const std::string read(150, 'a');
  struct Change {
    const char* field;
    std::string stored;  // what another session wrote after the pass read `read`
  };
  const Change changes[] = {{"f", std::string(150, 'A')}, {"g", read + "   "}};
  for (const Change& change : changes) {
    SCOPED_TRACE(change.field);
    db.ExecDirect(std::string("delete from n; insert into n (k, ") + change.field + ") values ('r', '" +
                  change.stored + "')");
    const TPassStatements sql("sqlite", 0, "n", change.field, "k");
    std::unique_ptr<providers::Provider> provider = providers::CreateProvider(db.Settings());
    provider->Open(db.Settings());
    const int64_t rows = provider
                             ->Execute(sql.Update(TWriteGuard::StoredValue, true),
                                       {Variant(TBytes{"new"}), Variant("r"), Variant(read), Variant("r")})
                             ->RowsAffected();
    EXPECT_EQ(rows, 0);
    EXPECT_EQ(db.StoredBytes(std::string("select ") + change.field + " from n"), change.stored);
    // The value read itself still passes the guard.
    db.ExecDirect(std::string("update n set ") + change.field + " = '" + read + "'");
    EXPECT_EQ(provider
                  ->Execute(sql.Update(TWriteGuard::StoredValue, true),
                            {Variant(TBytes{"new"}), Variant("r"), Variant(read), Variant("r")})
                  ->RowsAffected(),
              1);
  }
}

INSTANTIATE_TEST_SUITE_P(Providers, PassStatementsTest, ::testing::ValuesIn(AvailableProviders()), ProviderName());

TEST(MajorVersion, IsTheLeadingNumber) {
  EXPECT_EQ(MajorVersion("13.00.5000"), 13);
  EXPECT_EQ(MajorVersion("9.00.1399"), 9);
  EXPECT_EQ(MajorVersion("3.40.1"), 3);
  EXPECT_EQ(MajorVersion(""), 0);
}

}  // namespace
}  // namespace tersify::testing
