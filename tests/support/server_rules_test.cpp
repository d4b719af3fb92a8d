// The TDS test server keeps SQL Server's rules where the tool relies on them:
// collation, schema-qualified names, error numbers, the product version and
// lock waits. Seen through the client's own ODBC provider (FreeTDS), and a few
// through FreeTDS's command-line client tsql, a client other than ours.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "client/errors.h"
#include "client/providers/odbc/odbc_provider.h"
#include "tests/support/provider_matrix.h"
#include "tests/support/tsql_client.h"
#include "tests/support/tds_server/collation.h"
#include "tests/support/tds_server/server_sql.h"

namespace tersify::testing {
namespace {

using Rows = std::vector<std::string>;

bool HaveOdbc() {
  const std::vector<std::string> providers = AvailableProviders();
  return std::find(providers.begin(), providers.end(), "odbc") != providers.end();
}

std::unique_ptr<providers::Provider> Connect(const TestDatabase& db) {
  std::unique_ptr<providers::Provider> provider = providers::CreateOdbcProvider();
  provider->Open(db.Settings());
  return provider;
}

// The first column of every row, as text ("NULL" for null).
Rows Column(providers::Provider& provider, const std::string& sql,
            const std::vector<Variant>& params = {}) {
  Rows rows;
  std::unique_ptr<providers::Cursor> cursor = provider.Execute(sql, params);
  while (cursor->Next()) {
    const Variant value = cursor->Value(0);
    rows.push_back(value.IsNull() ? "NULL" : value.AsString());
  }
  return rows;
}

std::string Scalar(providers::Provider& provider, const std::string& sql,
                   const std::vector<Variant>& params = {}) {
  Rows rows = Column(provider, sql, params);
  return rows.empty() ? "(no row)" : rows.front();
}

// The server's error number for a statement that must fail; 0 when it did not.
int ErrorNumber(providers::Provider& provider, const std::string& sql,
                const std::vector<Variant>& params = {}) {
  try {
    provider.Execute(sql, params);
  } catch (const EDAError& error) {
    return error.NativeError();
  }
  return 0;
}

class ServerRules : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveOdbc()) GTEST_SKIP() << "FreeTDS's ODBC driver is not installed";
  }
};

// ---- collation ---------------------------------------------------------------

TEST_F(ServerRules, DefaultCollationIgnoresCaseAndTrailingBlanksButNotAccents) {
  TestDatabase db("odbc");
  db.ExecDirect("create table k(k varchar(10) primary key, n int);"
                "insert into k values ('abc', 1), ('ABD', 2), ('abe', 3), ('Abf', 4);");
  auto provider = Connect(db);
  EXPECT_EQ(Column(*provider, "select k from k order by k"), (Rows{"abc", "ABD", "abe", "Abf"}));
  EXPECT_EQ(Column(*provider, "select k from k order by k desc"), (Rows{"Abf", "abe", "ABD", "abc"}));
  EXPECT_EQ(Scalar(*provider, "select n from k where k = 'ABC'"), "1");
  EXPECT_EQ(Scalar(*provider, "select n from k where k = 'abc   '"), "1");
  EXPECT_EQ(Scalar(*provider, "select n from k where k = ?", {Variant("aBc  ")}), "1");
  EXPECT_EQ(Scalar(*provider, "select count(*) from k where k <> 'ABC'"), "3");
  EXPECT_EQ(Scalar(*provider, "select count(*) from k where k > 'ABD'"), "2");
  EXPECT_EQ(Scalar(*provider, "select count(*) from k where k > ?", {Variant("ABD")}), "2");
  EXPECT_EQ(Scalar(*provider, "select count(*) from k where k < 'ABE'"), "2");
  EXPECT_EQ(Scalar(*provider, "select count(*) from k where k between 'ABD' and 'ABE'"), "2");
  EXPECT_EQ(Scalar(*provider, "select count(*) from k where k in ('ABC', 'abf ')"), "2");
  EXPECT_EQ(Scalar(*provider, "select min(k) from k"), "abc");
  EXPECT_EQ(Scalar(*provider, "select max(k) from k"), "Abf");
  // A case variant or a blank-padded one is the same key; an accent makes another.
  EXPECT_EQ(ErrorNumber(*provider, "insert into k values ('ABC', 5)"), 2627);
  EXPECT_EQ(ErrorNumber(*provider, "insert into k values ('abc  ', 5)"), 2627);
  EXPECT_EQ(ErrorNumber(*provider, "insert into k values ('ábc', 6)"), 0);
  EXPECT_EQ(Scalar(*provider, "select count(*) from k where k = 'ABC'"), "1");
  EXPECT_EQ(Column(*provider, "select k from k where k < 'abd' order by k"), (Rows{"abc", "ábc"}));
}

TEST_F(ServerRules, GroupingDistinctAndUniqueIndexesFollowTheCollation) {
  TestDatabase db("odbc");
  db.ExecDirect("create table g(id int primary key, v nvarchar(10), code char(4));"
                "insert into g values (1, 'x', 'a'), (2, 'X', 'A'), (3, 'x  ', 'b'), (4, 'y', 'B');");
  auto provider = Connect(db);
  EXPECT_EQ(Scalar(*provider, "select count(distinct v) from g"), "2");
  EXPECT_EQ(Scalar(*provider, "select count(*) from (select distinct v from g) d"), "2");
  EXPECT_EQ(Column(*provider, "select count(*) from g group by code order by code"), (Rows{"2", "2"}));
  EXPECT_NE(ErrorNumber(*provider, "create unique index ux on g(v, code)"), 0)
      << "(x, a) and (X, A) are one key";
  provider->Execute("create unique index ux on g(v, code, id)", {});
  provider->Execute("create table u(id int primary key, code nvarchar(10))", {});
  provider->Execute("create unique index u_code on u(code)", {});
  provider->Execute("insert into u values (1, 'abc')", {});
  EXPECT_EQ(ErrorNumber(*provider, "insert into u values (2, 'ABC  ')"), 2601);
  EXPECT_EQ(ErrorNumber(*provider, "insert into u values (3, 'abç')"), 0);
}

// varchar under a SQL collation sorts every character ("string sort");
// Unicode data ignores hyphens at first ("word sort"), and an nvarchar value
// compared with a varchar column compares the Unicode way.
TEST_F(ServerRules, VarcharAndNvarcharSortAsSqlServerSortsThem) {
  TestDatabase db("odbc");
  db.ExecDirect("create table w(id int primary key, v varchar(10), nv nvarchar(10));"
                "insert into w values (1, 'a-c', 'a-c'), (2, 'ab', 'ab');");
  auto provider = Connect(db);
  EXPECT_EQ(Column(*provider, "select v from w order by v"), (Rows{"a-c", "ab"}));
  EXPECT_EQ(Column(*provider, "select nv from w order by nv"), (Rows{"ab", "a-c"}));
  EXPECT_EQ(Scalar(*provider, "select count(*) from w where v > 'a-c'"), "1");
  EXPECT_EQ(Scalar(*provider, "select count(*) from w where v > N'a-c'"), "0");
  EXPECT_EQ(Scalar(*provider, "select count(*) from w where nv > 'a-c'"), "0");
}

struct CollationCase {
  const char* collation;
  Rows order;             // of abc, ABD, abe, Abf, Abc
  const char* equal_abc;  // rows equal to 'ABC'
  const char* equal_padded_Abc;  // rows equal to 'Abc  '
};

class ServerCollations : public ::testing::TestWithParam<CollationCase> {
 protected:
  void SetUp() override {
    if (!HaveOdbc()) GTEST_SKIP() << "FreeTDS's ODBC driver is not installed";
  }
};

TEST_P(ServerCollations, OrderAndEqualityFollowTheDatabaseCollation) {
  TdsServerRules rules;
  rules.collation = GetParam().collation;
  TestDatabase db("odbc", rules);
  db.ExecDirect("create table k(k varchar(10), n int);"
                "insert into k values ('abc', 1), ('ABD', 2), ('abe', 3), ('Abf', 4), ('Abc', 5);");
  auto provider = Connect(db);
  EXPECT_EQ(Column(*provider, "select k from k order by k, n"), GetParam().order);
  EXPECT_EQ(Scalar(*provider, "select count(*) from k where k = 'ABC'"), GetParam().equal_abc);
  EXPECT_EQ(Scalar(*provider, "select count(*) from k where k = 'Abc  '"), GetParam().equal_padded_Abc)
      << "trailing blanks are ignored under every collation, binary ones too";
}

INSTANTIATE_TEST_SUITE_P(
    Collations, ServerCollations,
    ::testing::Values(
        CollationCase{"SQL_Latin1_General_CP1_CI_AS", {"abc", "Abc", "ABD", "abe", "Abf"}, "2", "2"},
        CollationCase{"Latin1_General_CS_AS", {"abc", "Abc", "ABD", "abe", "Abf"}, "0", "1"},
        CollationCase{"Latin1_General_BIN2", {"ABD", "Abc", "Abf", "abc", "abe"}, "0", "1"}),
    [](const ::testing::TestParamInfo<CollationCase>& info) {
      std::string name = info.param.collation;
      return name;
    });

TEST(ServerCollationRules, CaseSensitiveCollationsPutLowerCaseFirstWithinALetter) {
  EXPECT_LT(tds::CompareStrings("Latin1_General_CS_AS", "abc", "Abc"), 0);
  EXPECT_LT(tds::CompareStrings("Latin1_General_CS_AS", "Abc", "abd"), 0);
  EXPECT_LT(tds::CompareStrings("SQL_Latin1_General_CP1_CI_AS", "a", "á"), 0);
  EXPECT_LT(tds::CompareStrings("SQL_Latin1_General_CP1_CI_AS", "á", "b"), 0);
  EXPECT_EQ(tds::CompareStrings("SQL_Latin1_General_CP1_CI_AS", "ÉTÉ", "été"), 0);
  EXPECT_EQ(tds::CompareStrings("Latin1_General_BIN2", "abc", "abc   "), 0);
  EXPECT_THROW(tds::DatabaseCollation::Parse("Klingon_CI_AS"), std::invalid_argument);
}

TEST(ServerCollationRules, CreateTableGivesStringColumnsTheCollationAndSizeChecks) {
  const tds::DatabaseCollation collation;
  EXPECT_EQ(tds::DeclareColumnRules("create table t(k nvarchar(5) primary key, v varbinary(max), "
                                    "c varchar(3) collate nocase, n int)",
                                    collation),
            "create table t(k nvarchar(5) COLLATE Latin1_General_CI_AS CONSTRAINT \"tds_size_k\" "
            "CHECK (length(\"k\") <= 5) primary key, v varbinary(max), "
            "c varchar(3) CONSTRAINT \"tds_size_c\" CHECK (length(\"c\") <= 3) collate nocase, n int)");
  EXPECT_EQ(tds::DeclareColumnRules("insert into t values ('create table x(a varchar(2))')", collation),
            "insert into t values ('create table x(a varchar(2))')");
}

// ---- names -------------------------------------------------------------------

TEST_F(ServerRules, SchemaQualifiedAndThreePartNamesResolveInTheCurrentDatabase) {
  TestDatabase db("odbc");
  db.ExecDirect("create table t(id int primary key, v varchar(10));"
                "insert into t values (1, 'one'), (2, 'two');");
  auto provider = Connect(db);
  for (const char* table : {"dbo.t", "[dbo].[t]", "DBO.T", "tersify_test.dbo.t", "[tersify_test].[dbo].[t]",
                            "tersify_test..t"})
    EXPECT_EQ(Scalar(*provider, std::string("select count(*) from ") + table), "2") << table;
  EXPECT_EQ(provider->Execute("update dbo.t set v = ? where dbo.t.id = ?", {Variant("uno"), Variant(1)})
                ->RowsAffected(),
            1);
  EXPECT_EQ(Scalar(*provider, "select v from [dbo].[t] where id = 1"), "uno");
  EXPECT_EQ(provider->PrimaryKey("dbo.t"), (std::vector<std::string>{"id"}));
  EXPECT_EQ(ErrorNumber(*provider, "select count(*) from other.t"), 208)
      << "a schema other than dbo is not the table";
  EXPECT_EQ(Scalar(*provider, "select 'dbo.t'"), "dbo.t") << "quoted text is left alone";
}

// ---- catalogue views -----------------------------------------------------------

// Every row of a result, its values joined by '|'; a failed statement is one
// row that says so.
Rows AllRows(providers::Provider& provider, const std::string& sql) {
  Rows rows;
  try {
    std::unique_ptr<providers::Cursor> cursor = provider.Execute(sql, {});
    const int columns = static_cast<int>(cursor->Columns().size());
    while (cursor->Next()) {
      std::string row;
      for (int c = 0; c < columns; ++c) {
        const Variant value = cursor->Value(c);
        row += (c ? "|" : "") + (value.IsNull() ? std::string("NULL") : value.AsString());
      }
      rows.push_back(row);
    }
  } catch (const EDAError& error) {
    rows = {"error " + std::to_string(error.NativeError()) + ": " + error.what()};
  }
  return rows;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

class ServerCatalogViews : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!HaveOdbc()) GTEST_SKIP() << "FreeTDS's ODBC driver is not installed";
  }
};

// SQL Server takes a catalogue view's name in any letter case, with its parts
// bracketed or not; each spelling reads the same rows as sys.<view>.
TEST_P(ServerCatalogViews, EverySpellingOfTheNameReadsTheSameRows) {
  const std::string view = GetParam();
  TestDatabase db("odbc");
  db.ExecDirect("create table w(id int primary key, data varbinary(16), code varchar(8));"
                "create unique index w_code on w(code);"
                "insert into w values (1, x'01', 'a'), (2, x'02', 'b');");
  tds::TableMarks marks;
  marks.row_filter = true;
  marks.fulltext_column = "code";
  db.MarkServerTable("w", marks);
  auto provider = Connect(db);
  const Rows plain = AllRows(*provider, "select * from sys." + view);
  ASSERT_FALSE(plain.empty()) << "sys." << view << " has no row to compare";
  ASSERT_NE(plain.front().rfind("error ", 0), 0u) << plain.front();
  for (const std::string& spelling : {"SYS." + Upper(view), "[sys].[" + view + "]", "sys.[" + view + "]",
                                      "[SYS]." + Upper(view), "[sys]." + view + " v"})
    EXPECT_EQ(AllRows(*provider, "select * from " + spelling), plain) << spelling;
}

INSTANTIATE_TEST_SUITE_P(TheViewsTheToolReads, ServerCatalogViews,
                         ::testing::Values("tables", "columns", "types", "indexes", "index_columns",
                                           "fulltext_index_columns", "security_policies", "security_predicates",
                                           "partitions", "dm_db_log_space_usage"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// ---- errors ------------------------------------------------------------------

TEST_F(ServerRules, ErrorsCarrySqlServerNumbers) {
  TestDatabase db("odbc");
  db.ExecDirect("create table e(id int primary key, name varchar(5) not null, code nvarchar(3));"
                "create unique index e_code on e(code);"
                "insert into e values (1, 'a', 'x');");
  auto provider = Connect(db);
  EXPECT_EQ(ErrorNumber(*provider, "select * from missing"), 208);
  EXPECT_EQ(ErrorNumber(*provider, "select missing from e"), 207);
  EXPECT_EQ(ErrorNumber(*provider, "insert into e values (1, 'b', 'y')"), 2627);
  EXPECT_EQ(ErrorNumber(*provider, "insert into e values (2, 'b', 'X')"), 2601);
  EXPECT_EQ(ErrorNumber(*provider, "insert into e values (3, null, 'z')"), 515);
  EXPECT_EQ(ErrorNumber(*provider, "update e set name = null where id = 1"), 515);
  EXPECT_EQ(ErrorNumber(*provider, "insert into e values (4, 'toolong', 'w')"), 8152);
  EXPECT_EQ(ErrorNumber(*provider, "update e set code = ? where id = 1", {Variant("wxyz")}), 8152);
  EXPECT_EQ(ErrorNumber(*provider, "selec 1"), 102);
  EXPECT_EQ(Scalar(*provider, "select count(*) from e"), "1") << "nothing was written";
}

// ---- versions ----------------------------------------------------------------

TEST_F(ServerRules, ProductVersionIsWhatTheServerIsToldToBe) {
  TdsServerRules rules;
  rules.product_version = "11.0.2100.60";
  TestDatabase old_server("odbc", rules);
  auto provider = Connect(old_server);
  EXPECT_EQ(provider->ServerVersion().substr(0, 3), "11.");
  EXPECT_NE(Scalar(*provider, "select @@VERSION").find("11.0.2100.60"), std::string::npos);
  EXPECT_EQ(Scalar(*provider, "select serverproperty('ProductVersion')"), "11.0.2100.60");
  EXPECT_EQ(Scalar(*provider, "select SERVERPROPERTY('ProductMajorVersion')"), "11");
  EXPECT_EQ(Scalar(*provider, "select convert(tinyint, parsename(cast(serverproperty('ProductVersion') "
                              "as varchar(30)), 4))"),
            "11");

  TestDatabase current("odbc");
  auto current_provider = Connect(current);
  EXPECT_EQ(current_provider->ServerVersion().substr(0, 3), "16.");
  EXPECT_EQ(Scalar(*current_provider, "select serverproperty('ProductMajorVersion')"), "16");
}

TEST(ServerVersionRules, OnlyFourPartVersionsAreTaken) {
  TdsServerRules rules;
  rules.product_version = "11.0";
  EXPECT_THROW(TestDatabase("odbc", rules), std::invalid_argument);
}

// ---- batches -----------------------------------------------------------------

TEST_F(ServerRules, SetStatementsAnywhereInABatchAreApplied) {
  TestDatabase db("odbc");
  db.ExecDirect("create table b(id int primary key, n int); insert into b values (1, 0), (2, 0);");
  auto provider = Connect(db);
  EXPECT_EQ(Scalar(*provider, "set xact_abort on\nselect count(*) from b"), "2");
  EXPECT_EQ(Scalar(*provider, "select count(*) from b where n = 0; set transaction isolation level read committed"),
            "2");
  EXPECT_EQ(provider->Execute("update b set n = 1", {})->RowsAffected(), 2);
  EXPECT_EQ(Scalar(*provider, "update b set n = 7 where id = 1; select @@ROWCOUNT"), "1");
  provider->Execute("set nocount on", {});
  // With a parameter: the provider reads a lone write's own @@ROWCOUNT when it has none.
  EXPECT_NE(provider->Execute("update b set n = ?", {Variant(2)})->RowsAffected(), 2) << "no count under NOCOUNT";
  provider->Execute("set textsize 2147483647\nset nocount off", {});
  EXPECT_EQ(provider->Execute("update b set n = 3", {})->RowsAffected(), 2);
}

TEST_F(ServerRules, NamedTransactionsAndSavepointsCommitAndRollBack) {
  TestDatabase db("odbc");
  db.ExecDirect("create table b(id int primary key, n int); insert into b values (1, 0), (2, 0);");
  auto provider = Connect(db);
  provider->Execute("begin tran outer_work", {});
  provider->Execute("update b set n = 5 where id = 1", {});
  provider->Execute("save transaction before_two", {});
  provider->Execute("update b set n = 6 where id = 2", {});
  provider->Execute("rollback tran before_two", {});
  provider->Execute("commit tran outer_work", {});
  EXPECT_EQ(db.StoredBytes("select n from b where id = 1"), "5");
  EXPECT_EQ(db.StoredBytes("select n from b where id = 2"), "0");
  provider->Execute("begin transaction; update b set n = 9 where id = 1; rollback transaction", {});
  EXPECT_EQ(db.StoredBytes("select n from b where id = 1"), "5");
}

// The counts a text of updates, each followed by SELECT @@ROWCOUNT, answered
// before its first error; the error's number in `error` (0 for none).
std::vector<int64_t> CountsBeforeError(providers::Provider& provider, const std::string& sql,
                                       const std::vector<Variant>& params, int& error) {
  std::vector<int64_t> counts;
  error = 0;
  try {
    std::unique_ptr<providers::Cursor> cursor = provider.ExecuteEach(sql, params);
    do {
      if (cursor->Columns().empty()) continue;
      while (cursor->Next()) counts.push_back(cursor->Value(0).AsInt64());
    } while (cursor->NextResult());
  } catch (const EDAError& e) {
    error = e.NativeError();
  }
  return counts;
}

// A statement chosen as a deadlock victim in the middle of a request: the
// statements before it ran and were answered (and in autocommit stay
// committed), it and the ones after it did not run, and an open transaction
// is rolled back with everything it held.
TEST_F(ServerRules, AStatementChosenAsDeadlockVictimEndsItsRequestAndTransaction) {
  TestDatabase db("odbc");
  db.ExecDirect("create table d(id int primary key, n int); insert into d values (1, 0), (2, 0), (3, 0);");
  auto provider = Connect(db);
  const std::string three_updates =
      "set nocount on; set xact_abort on; update d set n = ? where id = 1; select @@ROWCOUNT;"
      " update d set n = ? where id = 2; select @@ROWCOUNT; update d set n = ? where id = 3; select @@ROWCOUNT;";
  auto values = [](int n) { return std::vector<Variant>{Variant(n), Variant(n), Variant(n)}; };
  auto stored = [&] {
    return db.StoredBytes("select n from d where id = 1") + db.StoredBytes("select n from d where id = 2") +
           db.StoredBytes("select n from d where id = 3");
  };
  int error = 0;
  db.DeadlockNextServerStatement("update d", 1);
  EXPECT_EQ(CountsBeforeError(*provider, three_updates, values(1), error), std::vector<int64_t>{1});
  EXPECT_EQ(error, 1205);
  EXPECT_EQ(stored(), "100");

  provider->StartTransaction();
  EXPECT_EQ(Column(*provider, "update d set n = 2 where id = 3; select @@ROWCOUNT"), Rows{"1"});
  db.DeadlockNextServerStatement("update d", 1);
  EXPECT_EQ(CountsBeforeError(*provider, three_updates, values(2), error), std::vector<int64_t>{1});
  EXPECT_EQ(error, 1205);
  // Nothing is left to commit: the server rolled the transaction back.
  try {
    provider->Commit();
  } catch (const EDAError&) {
  }
  EXPECT_EQ(stored(), "100");

  const std::vector<std::string> log = db.ServerLog();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) {
                            return line.find("deadlock victim: statement 3 of 6, after 2 ran") != std::string::npos;
                          }),
            2);
  // The request after a victim's runs whole.
  EXPECT_EQ(CountsBeforeError(*provider, three_updates, values(3), error), (std::vector<int64_t>{1, 1, 1}));
  EXPECT_EQ(error, 0);
}

// A trigger's writes are counted as SQL Server counts them (a DONEINPROC of
// their own before the statement's), unless NOCOUNT is on; the row count of a
// parameterised statement (as the pass writes rows) is still its own.
TEST_F(ServerRules, TriggerRowCountsDoNotCountAsTheStatementsOwn) {
  TestDatabase db("odbc");
  db.ExecDirect("create table t(id int primary key, n int); create table audit(id int, n int);"
                "insert into t values (1, 0), (2, 0);"
                "create trigger t_audit after update on t begin "
                "insert into audit values (new.id, new.n); insert into audit values (new.id, -new.n); end;");
  auto provider = Connect(db);
  EXPECT_EQ(provider->Execute("update t set n = 1 where id = ?", {Variant(1)})->RowsAffected(), 1);
  EXPECT_EQ(provider->Execute("update t set n = ? where id = 2", {Variant(2)})->RowsAffected(), 1);
  EXPECT_EQ(db.StoredBytes("select count(*) from audit"), "4");
  provider->Execute("set nocount on", {});
  provider->Execute("update t set n = 3 where id = 1", {});
  EXPECT_EQ(db.StoredBytes("select count(*) from audit"), "6");
}

// ---- lock waits --------------------------------------------------------------

// A statement waits for a lock as long as it is held, unless SET LOCK_TIMEOUT
// says otherwise: then it fails with 1222 and writes nothing.
TEST_F(ServerRules, LockWaitsAreDecidedByTheClient) {
  TestDatabase db("odbc");
  db.ExecDirect("create table l(id int primary key, n int); insert into l values (1, 0);");
  auto holder = Connect(db);
  auto waiter = Connect(db);
  holder->StartTransaction();
  holder->Execute("update l set n = 1 where id = 1", {});

  waiter->Execute("set lock_timeout 200", {});
  EXPECT_EQ(ErrorNumber(*waiter, "update l set n = 2 where id = 1"), 1222);

  waiter->Execute("set lock_timeout -1", {});
  std::future<int64_t> waited = std::async(std::launch::async, [&] {
    return waiter->Execute("update l set n = n + 10 where id = 1", {})->RowsAffected();
  });
  EXPECT_EQ(waited.wait_for(std::chrono::milliseconds(1500)), std::future_status::timeout)
      << "the server gave up on its own";
  holder->Commit();
  EXPECT_EQ(waited.get(), 1);
  EXPECT_EQ(Scalar(*holder, "select n from l where id = 1"), "11");
}

// The client's time limit ends a statement waiting for a lock: its attention
// stops the statement at once, and nothing it would have written is written
// once the lock goes.
TEST_F(ServerRules, AttentionStopsAStatementWaitingForALock) {
  TestDatabase db("odbc");
  db.ExecDirect("create table l(id int primary key, n int); insert into l values (1, 0);");
  auto holder = Connect(db);
  auto waiter = Connect(db);
  holder->StartTransaction();
  holder->Execute("update l set n = 1 where id = 1", {});
  waiter->SetCommandTimeout(1);
  const uint64_t attentions = db.ServerRequests().attention;
  EXPECT_THROW(waiter->Execute("update l set n = 2 where id = 1", {}), EMSError);
  holder->Commit();
  waiter->SetCommandTimeout(0);
  EXPECT_EQ(Scalar(*waiter, "select n from l where id = 1"), "1") << "the cancelled update stayed undone";
  EXPECT_EQ(waiter->Execute("update l set n = 3 where id = 1", {})->RowsAffected(), 1);
  EXPECT_GT(db.ServerRequests().attention, attentions) << "the client's time limit sent an attention";
}

// A statement that runs long (not waiting for anything) stops at the attention too:
// the connection answers its next statement instead of finishing the first.
TEST_F(ServerRules, AttentionStopsALongStatement) {
  TestDatabase db("odbc");
  auto provider = Connect(db);
  provider->SetCommandTimeout(1);
  EXPECT_THROW(Scalar(*provider,
                      "with recursive c(i) as (select 1 union all select i + 1 from c where i < 4000000000) "
                      "select count(*) from c"),
               EMSError);
  EXPECT_EQ(Scalar(*provider, "select 40 + 2"), "42");
}

// ---- seen through tsql ---------------------------------------------------------

TEST_F(ServerRules, TsqlSeesTheCollationNamesErrorsAndVersion) {
  if (!HaveTsql()) GTEST_SKIP() << "tsql (freetds-bin) is not installed";
  TdsServerRules rules;
  rules.product_version = "11.0.2100.60";
  TestDatabase db("odbc", rules);
  db.ExecDirect("create table k(k varchar(10) primary key);"
                "insert into k values ('ABD'), ('Abf'), ('abc'), ('abe');");
  const std::string out = RunTsql(db,
                                  "select k from dbo.k order by k\ngo\n"
                                  "select count(*) from [dbo].[k] where k = 'ABC   '\ngo\n"
                                  "insert into k values ('ABC')\ngo\n"
                                  "select * from missing\ngo\n"
                                  "select serverproperty('ProductVersion')\ngo\n");
  EXPECT_NE(out.find("abc\nABD\nabe\nAbf\n"), std::string::npos) << out;
  EXPECT_NE(out.find("count(*)\n1\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Msg 2627 (severity 14, state 1)"), std::string::npos) << out;
  EXPECT_NE(out.find("Msg 3621 (severity 0, state 0)"), std::string::npos) << out;
  EXPECT_NE(out.find("Msg 208 (severity 16, state 1)"), std::string::npos) << out;
  EXPECT_NE(out.find("Invalid object name 'missing'."), std::string::npos) << out;
  EXPECT_NE(out.find("11.0.2100.60"), std::string::npos) << out;
}

// A deadlock victim among the statements of a SQL batch, as another client
// reads it: error 1205 after the statements before it, none of the ones
// after it, and in a transaction nothing of the batch kept.
TEST_F(ServerRules, TsqlSeesADeadlockVictimStatementEndsItsBatch) {
  if (!HaveTsql()) GTEST_SKIP() << "tsql (freetds-bin) is not installed";
  TestDatabase db("odbc");
  db.ExecDirect("create table d(id int primary key, n int); insert into d values (1, 0), (2, 0), (3, 0);");
  db.DeadlockNextServerStatement("set n = 1", 1);
  std::string out = RunTsql(db,
                            "update d set n = 1 where id = 1;\nupdate d set n = 1 where id = 2;\n"
                            "select 'not run' as what;\ngo\nselect n from d order by id\ngo\n");
  EXPECT_NE(out.find("Msg 1205 (severity 13, state 51)"), std::string::npos) << out;
  EXPECT_NE(out.find("chosen as the deadlock victim"), std::string::npos) << out;
  EXPECT_EQ(out.find("not run"), std::string::npos) << out;
  EXPECT_NE(out.find("n\n1\n0\n0\n"), std::string::npos) << out;

  db.DeadlockNextServerStatement("set n = 2", 1);
  out = RunTsql(db,
                "begin transaction;\nupdate d set n = 2 where id = 1;\nupdate d set n = 2 where id = 2;\ngo\n"
                "select n from d order by id\ngo\n");
  EXPECT_NE(out.find("Msg 1205 (severity 13, state 51)"), std::string::npos) << out;
  EXPECT_NE(out.find("n\n1\n0\n0\n"), std::string::npos) << out;
}

// Values in their declared types, as another client sees them: char padded
// to its length, a tinyint up to 255, an int refusing what does not fit.
TEST_F(ServerRules, TsqlSeesTheDeclaredTypes) {
  if (!HaveTsql()) GTEST_SKIP() << "tsql (freetds-bin) is not installed";
  TestDatabase db("odbc");
  db.ExecDirect("create table typed(c char(5), ti tinyint, nc nchar(3), i int);"
                "insert into typed values ('ab', 255, 'x', 1);"
                "insert into typed values ('cd', 1, 'y', 3000000000);");
  const std::string out = RunTsql(db,
                                  "select c from typed where ti = 255\ngo\n"
                                  "select ti from typed where c = 'ab'\ngo\n"
                                  "select i from typed where c = 'cd'\ngo\n");
  EXPECT_NE(out.find("c\nab   \n"), std::string::npos) << out;
  EXPECT_NE(out.find("ti\n255\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Msg 8115 (severity 16, state 2)"), std::string::npos) << out;
  EXPECT_NE(out.find("Arithmetic overflow error converting expression to data type int."), std::string::npos)
      << out;
}

}  // namespace
}  // namespace tersify::testing
