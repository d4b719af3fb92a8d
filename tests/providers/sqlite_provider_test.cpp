// What only the sqlite provider does: its registry-backed procedures and
// functions, scripts of several statements, typing of expression columns.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "client/errors.h"
#include "client/providers/sqlite/sqlite_provider.h"
#include "client/providers/sqlite/sqlite_registry.h"
#include "tests/support/provider_matrix.h"

namespace tersify::providers {
namespace {

using ::testing::HasSubstr;
using testing::TestDatabase;

class SqliteProviderTest : public ::testing::Test {
 protected:
  void SetUp() override { provider_.Open(db_.Settings()); }

  std::vector<std::vector<Variant>> Rows(const std::string& sql,
                                         const std::vector<Variant>& params = {}) {
    auto cursor = provider_.Execute(sql, params);
    std::vector<std::vector<Variant>> rows;
    while (cursor->Next()) {
      rows.emplace_back();
      for (size_t i = 0; i < cursor->Columns().size(); ++i)
        rows.back().push_back(cursor->Value(static_cast<int>(i)));
    }
    return rows;
  }

  Variant Scalar(const std::string& sql, const std::vector<Variant>& params = {}) {
    auto rows = Rows(sql, params);
    EXPECT_EQ(rows.size(), 1u) << sql;
    return rows.empty() ? Variant::Null() : rows[0].at(0);
  }

  TestDatabase db_{"sqlite"};
  SqliteProvider provider_;
};

TEST_F(SqliteProviderTest, SpidsAreCountedFrom51PerConnection) {
  SqliteProvider other;
  other.Open(db_.Settings());
  EXPECT_GE(provider_.Spid(), 51);
  EXPECT_GT(other.Spid(), provider_.Spid());
  EXPECT_EQ(Scalar("select @@SPID").AsInt64(), provider_.Spid());
  other.Close();
  EXPECT_FALSE(other.IsOpen());
  EXPECT_EQ(other.Spid(), 0);
}

TEST_F(SqliteProviderTest, ExpressionColumnsAreTypedFromTheFirstRow) {
  auto cursor = provider_.Execute("select 1 as i, 2.5 as f, 'x' as s, x'00ff' as b, null as n", {});
  const auto& c = cursor->Columns();
  ASSERT_EQ(c.size(), 5u);
  EXPECT_EQ(c[0].type, ftLargeint);
  EXPECT_EQ(c[1].type, ftFloat);
  EXPECT_EQ(c[2].type, ftString);
  EXPECT_EQ(c[3].type, ftBlob);
  EXPECT_EQ(c[4].type, ftUnknown);
  ASSERT_TRUE(cursor->Next());
  EXPECT_EQ(cursor->Value(3).Type(), TVarType::Bytes);
  EXPECT_EQ(cursor->Value(3).RawString(), std::string("\0\xff", 2));
  EXPECT_TRUE(cursor->Value(4).IsNull());
  EXPECT_THROW(cursor->Value(5), EMSError);
  EXPECT_FALSE(cursor->Next());
  EXPECT_THROW(cursor->Value(0), EMSError);
}

TEST_F(SqliteProviderTest, UnparsableDateTextStaysText) {
  db_.ExecDirect("create table t(d datetime); insert into t values('not a date')");
  const Variant v = Scalar("select d from t");
  EXPECT_EQ(v.Type(), TVarType::String);
  EXPECT_EQ(v.AsString(), "not a date");
}

TEST_F(SqliteProviderTest, DateTimeParametersAreStoredWithTheirTime) {
  db_.ExecDirect("create table t(id int, d datetime)");
  provider_.Execute("insert into t values(1, ?), (2, ?)",
                    {EncodeDateTime(2024, 5, 6), EncodeDateTime(2024, 5, 6, 7, 8, 9, 10)});
  auto rows = Rows("select cast(d as text) from t order by id");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0].AsString(), "2024-05-06 00:00:00");
  EXPECT_EQ(rows[1][0].AsString(), "2024-05-06 07:08:09.010");
}

TEST_F(SqliteProviderTest, ScriptRunsEveryStatementAndTheLastResultWithRowsWins) {
  auto cursor = provider_.Execute(
      "create table a(x int);\n"
      "insert into a values(?); insert into a values(?);\n"
      "select x from a order by x;  -- the rows\n"
      "update a set x = x * 10;",
      {1, 2});
  auto rows = [&] {
    std::vector<int64_t> v;
    while (cursor->Next()) v.push_back(cursor->Value(0).AsInt64());
    return v;
  }();
  EXPECT_EQ(rows, (std::vector<int64_t>{1, 2}));
  EXPECT_EQ(Scalar("select sum(x) from a").AsInt64(), 30);

  auto counted = provider_.Execute("SET NOCOUNT ON; delete from a where x = 10; create index ax on a(x)", {});
  EXPECT_TRUE(counted->Columns().empty());
  EXPECT_EQ(counted->RowsAffected(), 1);

  auto mixed = provider_.Execute("select @@TRANCOUNT; select @@SPID", {});
  ASSERT_TRUE(mixed->Next());
  EXPECT_EQ(mixed->Value(0).AsInt64(), provider_.Spid());
}

TEST_F(SqliteProviderTest, StatementsWithoutWritesReportUnknownRowCount) {
  EXPECT_EQ(provider_.Execute("create table t(a int)", {})->RowsAffected(), -1);
  EXPECT_EQ(provider_.Execute("  ", {})->RowsAffected(), -1);
  EXPECT_EQ(provider_.Execute("-- nothing but a comment", {})->RowsAffected(), -1);
}

TEST_F(SqliteProviderTest, ParameterCountMustMatchTheMarkers) {
  db_.ExecDirect("create table t(a int, b int)");
  EXPECT_THROW(provider_.Execute("insert into t values(?, ?)", {1}), EMSError);
  EXPECT_THROW(provider_.Execute("insert into t values(?, ?)", {1, 2, 3}), EMSError);
  EXPECT_EQ(Scalar("select count(*) from t").AsInt64(), 0);
}

TEST_F(SqliteProviderTest, ClosedProviderRefusesStatements) {
  provider_.Close();
  EXPECT_THROW(provider_.Execute("select 1", {}), EMSError);
  EXPECT_FALSE(provider_.InTransaction());
}

TEST_F(SqliteProviderTest, AFileThatIsNoDatabaseIsRefusedAtOpen) {
  const std::string path = db_.FilePath() + "-garbage";
  std::ofstream(path) << std::string(4096, 'x');
  SqliteProvider p;
  ConnectionSettings settings = db_.Settings();
  settings.database = path;
  try {
    p.Open(settings);
    ADD_FAILURE() << "opened a file that is no database";
  } catch (const EMSError& e) {
    EXPECT_THAT(e.Message(), HasSubstr("file is not a database"));
    EXPECT_EQ(e.SQLState(), "08001");
  }
  EXPECT_FALSE(p.IsOpen());
  unlink(path.c_str());
}

TEST_F(SqliteProviderTest, ErrorsCarrySqliteCodes) {
  db_.ExecDirect("create table t(id int primary key)");
  provider_.Execute("insert into t values(1)", {});
  try {
    provider_.Execute("insert into t values(1)", {});
    FAIL() << "no error";
  } catch (const EMSError& e) {
    EXPECT_EQ(e.SQLState(), "23000");
    EXPECT_EQ(e.NativeError(), SQLITE_CONSTRAINT_PRIMARYKEY);
  }
}

TEST_F(SqliteProviderTest, ExecCallsTheRegisteredProcedureWithItsArguments) {
  std::vector<Variant> seen;
  Registration r = RegisterProcedure(
      "pQZ_SysSetConInfoRC", {{"mode", ftInteger}, {"on", ftInteger}, {"note", ftString}},
      [&](Provider&, std::vector<Variant>& args) {
        seen = args;
        return std::unique_ptr<Cursor>();
      });
  auto cursor = provider_.Execute("exec pQZ_SysSetConInfoRC 2, 1", {});
  EXPECT_TRUE(cursor->Columns().empty());
  EXPECT_EQ(seen, (std::vector<Variant>{2, 1, Variant::Null()}));

  provider_.Execute("EXECUTE dbo.pqz_syssetconinforc @note = 'a''b', @mode = ?", {7});
  EXPECT_EQ(seen, (std::vector<Variant>{7, Variant::Null(), "a'b"}));

  EXPECT_THROW(provider_.Execute("exec pQZ_SysSetConInfoRC 1, 2, 3, 4", {}), EMSError);
  try {
    provider_.Execute("exec pQZ_SysSetConInfoRC @nope = 1", {});
    FAIL() << "no error";
  } catch (const EMSError& e) {
    EXPECT_EQ(e.Message(), "@nope is not a parameter for procedure pQZ_SysSetConInfoRC.");
  }
}

TEST_F(SqliteProviderTest, ProcedureRunsSqlReturnsRowsAndWritesOutputs) {
  db_.ExecDirect("create table tqz_people(id int primary key, name varchar(20))");
  Registration r = RegisterProcedure(
      "pQZ_AddPerson",
      {{"id", ftInteger}, {"name", ftString}, {"count", ftInteger, ParamDirection::Output}},
      [](Provider& p, std::vector<Variant>& args) {
        p.Execute("insert into tqz_people values(?, ?)", {args[0], args[1]});
        auto c = p.Execute("select count(*) from tqz_people", {});
        c->Next();
        args[2] = c->Value(0);
        args[1] = "changed input";  // an input parameter is not written back
        return p.Execute("select name from tqz_people order by id", {});
      });

  EXPECT_EQ(provider_.ProcedureParams("dbo.pQZ_AddPerson").size(), 3u);
  EXPECT_EQ(provider_.ProcedureParams("pQZ_AddPerson")[2].direction, ParamDirection::Output);

  std::vector<Variant> params{1, "Ann", Variant::Null()};
  auto cursor = provider_.ExecuteProcedure("pQZ_AddPerson", params);
  ASSERT_TRUE(cursor->Next());
  EXPECT_EQ(cursor->Value(0).AsString(), "Ann");
  EXPECT_FALSE(cursor->Next());
  EXPECT_EQ(params[1].AsString(), "Ann");
  EXPECT_EQ(params[2].AsInt64(), 1);

  // Through exec, and not as the last statement of the text: the rows are kept.
  auto rows = Rows("exec pQZ_AddPerson 2, 'Bob'; update tqz_people set name = upper(name)");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][0].AsString(), "Bob");
  EXPECT_EQ(Scalar("select name from tqz_people where id = 2").AsString(), "BOB");

  EXPECT_THROW(provider_.ProcedureParams("pQZ_Missing"), EMSError);
  std::vector<Variant> none;
  try {
    provider_.ExecuteProcedure("pQZ_Missing", none);
    FAIL() << "no error";
  } catch (const EMSError& e) {
    EXPECT_EQ(e.Message(), "Could not find stored procedure 'pQZ_Missing'.");
  }
}

TEST_F(SqliteProviderTest, RegisteredFunctionsReachOpenConnectionsAndLeaveWithTheirHandle) {
  {
    Registration r = RegisterScalarFunction("fQZ_Add", [](const std::vector<Variant>& a) {
      return Variant(a.at(0).AsInt64() + a.at(1).AsInt64());
    });
    EXPECT_EQ(Scalar("select fQZ_Add(?, 3)", {4}).AsInt64(), 7);
    EXPECT_FALSE(Scalar("select object_id('fQZ_Add')").IsNull());
  }
  try {
    provider_.Execute("select fQZ_Add(1, 2)", {});
    FAIL() << "the function outlived its registration";
  } catch (const EMSError& e) {
    EXPECT_THAT(e.Message(), HasSubstr("no such function"));
  }
  EXPECT_TRUE(Scalar("select object_id('fQZ_Add')").IsNull());
}

TEST_F(SqliteProviderTest, FunctionErrorsBecomeStatementErrors) {
  Registration r = RegisterScalarFunction("fQZ_Fails", [](const std::vector<Variant>&) -> Variant {
    throw EMSError("the function failed");
  });
  try {
    provider_.Execute("select fQZ_Fails()", {});
    FAIL() << "no error";
  } catch (const EMSError& e) {
    EXPECT_THAT(e.Message(), HasSubstr("the function failed"));
  }
}

TEST_F(SqliteProviderTest, UserIdQueryUsesTheRegisteredUserFunction) {
  const std::string query =
      "if object_id('dbo.fQZ_UserGetCurrentUserID') is not null   SELECT "
      "dbo.fQZ_UserGetCurrentUserID() else   SELECT 0";
  Registration r = RegisterScalarFunction("fQZ_UserGetCurrentUserID",
                                          [](const std::vector<Variant>&) { return Variant(17); });
  EXPECT_EQ(Scalar(query).AsInt64(), 17);
  r.Release();
  EXPECT_EQ(Scalar(query).AsInt64(), 0);
}

TEST_F(SqliteProviderTest, ObjectIdKnowsRegisteredProcedures) {
  Registration r = RegisterProcedure("pQZ_Known", {}, [](Provider&, std::vector<Variant>&) {
    return std::unique_ptr<Cursor>();
  });
  const Variant id = Scalar("select Object_ID('dbo.pQZ_Known')");
  ASSERT_FALSE(id.IsNull());
  EXPECT_NE(id.AsInt64(), 0);
  EXPECT_TRUE(Scalar("select Object_ID(NULL)").IsNull());
}

TEST_F(SqliteProviderTest, VersionProbeIsNullForSqlitesThreePartVersion) {
  EXPECT_EQ(provider_.ServerVersion(), sqlite3_libversion());
  EXPECT_TRUE(Scalar("select convert(tinyint, parsename(cast(serverproperty('ProductVersion') as "
                     "varchar(30)), 4))")
                  .IsNull());
  EXPECT_EQ(Scalar("select parsename('16.0.1000.6', 4)").AsString(), "16");
}

TEST_F(SqliteProviderTest, AnAbandonedCursorLeavesNoLockBehind) {
  db_.ExecDirect("create table t(a int); insert into t values(1), (2), (3)");
  {
    auto cursor = provider_.Execute("select a from t", {});
    ASSERT_TRUE(cursor->Next());
  }
  {
    auto script = provider_.Execute("select 1; select a from t", {});
    ASSERT_TRUE(script->Next());
  }
  // Another connection can write at once: no statement still holds a shared lock.
  db_.ExecDirect("pragma busy_timeout = 0; insert into t values(4)");
  EXPECT_EQ(Scalar("select count(*) from t").AsInt64(), 4);
}


// The digest a guarded write compares: SQL Server's HASHBYTES over blob and text alike.
TEST_F(SqliteProviderTest, HashBytesGivesTheDigestOfTheStoredBytes) {
  const std::string abc_sha256(
      "\xba\x78\x16\xbf\x8f\x01\xcf\xea\x41\x41\x40\xde\x5d\xae\x22\x23"
      "\xb0\x03\x61\xa3\x96\x17\x7a\x9c\xb4\x10\xff\x61\xf2\x00\x15\xad",
      32);
  EXPECT_EQ(Scalar("select hashbytes('SHA2_256', ?)", {Variant(TBytes{"abc"})}),
            Variant(TBytes{abc_sha256}));
  EXPECT_EQ(Scalar("select HASHBYTES('sha2_256', 'abc')"), Variant(TBytes{abc_sha256}));
  EXPECT_EQ(Scalar("select length(hashbytes('MD5', x'00'))").AsInt64(), 16);
  EXPECT_EQ(Scalar("select length(hashbytes('SHA1', ''))").AsInt64(), 20);
  EXPECT_TRUE(Scalar("select hashbytes('SHA2_256', null)").IsNull());
  EXPECT_TRUE(Scalar("select hashbytes('CRC', 'abc')").IsNull());
  // Through the CAST the statements carry for SQL Server.
  provider_.Execute("create table h (k integer primary key, f blob)", {});
  provider_.Execute("insert into h values (1, ?)", {Variant(TBytes{"abc"})});
  provider_.Execute("insert into h values (2, 'abc')", {});
  EXPECT_EQ(Scalar("select count(*) from h where HASHBYTES('SHA2_256', CAST(f AS varbinary(max))) = ?",
                   {Variant(TBytes{abc_sha256})})
                .AsInt64(),
            2);
  // Text and blob give the same bytes, as a varbinary would.
  EXPECT_EQ(Scalar("select count(*) from h where CAST(f AS varbinary(max)) = ?", {Variant(TBytes{"abc"})})
                .AsInt64(),
            2);
}


// A text run once as one statement without rows is answered from its kept
// statement afterwards; these pin down what the kept statement must not change.

// Whether any descriptor of this process has the file open.
bool OpenInThisProcess(const std::string& path) {
  char wanted[PATH_MAX];
  if (::realpath(path.c_str(), wanted) == nullptr) return false;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ignored;
    if (std::filesystem::read_symlink(fd.path(), ignored) == wanted) return true;
  }
  return false;
}

struct FailingWrite {
  const char* name;
  const char* sql;
  std::vector<Variant> params;
};

void PrintTo(const FailingWrite& w, std::ostream* os) { *os << w.name; }

class SqliteKeptStatementError : public SqliteProviderTest,
                                 public ::testing::WithParamInterface<FailingWrite> {};

TEST_P(SqliteKeptStatementError, IsTheErrorOfAFreshlyPreparedStatement) {
  db_.ExecDirect(
      "create table t(a int primary key, b int not null check (b >= 0), c int unique);"
      "insert into t values(1, 1, 1), (2, 2, 2)");
  auto error_of = [&](const std::string& sql) {
    try {
      provider_.Execute(sql, GetParam().params);
    } catch (const EMSError& e) {
      return e.Message() + " | " + e.SQLState() + " | " + std::to_string(e.NativeError());
    }
    return std::string("no error");
  };
  // A text of two statements is never kept: it prepares afresh every time.
  const std::string fresh = error_of(std::string("SET NOCOUNT ON; ") + GetParam().sql);
  EXPECT_NE(fresh, "no error");
  EXPECT_EQ(error_of(GetParam().sql), fresh);
  EXPECT_EQ(provider_.KeptStatements(), 1u);
  EXPECT_EQ(error_of(GetParam().sql), fresh) << "from the kept statement";
  EXPECT_FALSE(provider_.InTransaction());
  db_.ExecDirect("pragma busy_timeout = 0; insert into t values(3, 3, 3)");
  EXPECT_EQ(Scalar("select count(*) from t").AsInt64(), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Constraints, SqliteKeptStatementError,
    ::testing::Values(FailingWrite{"PrimaryKey", "insert into t values(?, ?, ?)", {1, 5, 5}},
                      FailingWrite{"NotNull", "update t set b = ? where a = ?",
                                   {Variant::Null(), 1}},
                      FailingWrite{"Check", "update t set b = ? where a = ?", {-1, 2}},
                      FailingWrite{"Unique", "update t set c = ? where a = ?", {2, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SqliteProviderTest, TheSameTextRunsAgainWhileACursorReadsIt) {
  db_.ExecDirect("create table t(a int); insert into t values(1), (2), (3)");
  auto first = provider_.Execute("select a from t order by a", {});
  ASSERT_TRUE(first->Next());
  EXPECT_EQ(Rows("select a from t order by a").size(), 3u);
  std::vector<int64_t> rest;
  while (first->Next()) rest.push_back(first->Value(0).AsInt64());
  EXPECT_EQ(rest, (std::vector<int64_t>{2, 3}));

  // An update whose rows come back: the cursor owns its statement, and the
  // text run again meanwhile gets its own.
  const std::string update = "update t set a = a + ? returning a";
  auto returning = provider_.Execute(update, {10});
  ASSERT_TRUE(returning->Next());
  EXPECT_EQ(Rows(update, {100}).size(), 3u);
  int read = 1;
  while (returning->Next()) ++read;
  EXPECT_EQ(read, 3);
  EXPECT_EQ(Scalar("select sum(a) from t").AsInt64(), 6 + 3 * 110);
}

TEST_F(SqliteProviderTest, AKeptStatementCallsTheFunctionRegisteredNow) {
  db_.ExecDirect("create table t(a int, b int); insert into t values(1, 0), (2, 0)");
  const std::string update = "update t set b = fQZ_Scaled(a)";
  auto sum_b = [&] { return Scalar("select sum(b) from t").AsInt64(); };
  auto by = [](int64_t factor) {
    return [factor](const std::vector<Variant>& a) { return Variant(a.at(0).AsInt64() * factor); };
  };
  Registration twice = RegisterScalarFunction("fQZ_Scaled", by(2));
  EXPECT_EQ(provider_.Execute(update, {})->RowsAffected(), 2);
  EXPECT_EQ(sum_b(), 6);
  {
    Registration thrice = RegisterScalarFunction("fQZ_Scaled", by(3));
    EXPECT_EQ(provider_.Execute(update, {})->RowsAffected(), 2);
    EXPECT_EQ(sum_b(), 9);
  }
  provider_.Execute(update, {});
  EXPECT_EQ(sum_b(), 6);
  twice.Release();
  try {
    provider_.Execute(update, {});
    FAIL() << "ran with a released function";
  } catch (const EMSError& e) {
    EXPECT_THAT(e.Message(), HasSubstr("no such function: fQZ_Scaled"));
  }
  EXPECT_FALSE(provider_.InTransaction());
}

TEST_F(SqliteProviderTest, ClosingLetsGoOfTheFileAndEveryKeptStatement) {
  db_.ExecDirect("create table t(a int primary key, b text); insert into t values(1, 'old')");
  const std::string update = "update t set b = ? where a = ?";
  provider_.Execute(update, {"first", 1});
  provider_.Execute("insert into t values(?, ?)", {2, "two"});
  provider_.Execute("delete from t where a = ?", {2});
  EXPECT_EQ(provider_.KeptStatements(), 3u);
  provider_.Close();
  EXPECT_EQ(provider_.KeptStatements(), 0u);
  EXPECT_FALSE(OpenInThisProcess(db_.FilePath())) << "a statement kept the file open";

  // Replace the file by another database; the same texts reach the new one.
  TestDatabase replacement("sqlite");
  replacement.ExecDirect(
      "create table t(a int primary key, b text); insert into t values(1, 'new')");
  ASSERT_EQ(::rename(replacement.FilePath().c_str(), db_.FilePath().c_str()), 0);
  provider_.Open(db_.Settings());
  EXPECT_EQ(provider_.Execute(update, {"second", 1})->RowsAffected(), 1);
  EXPECT_EQ(db_.StoredBytes("select b from t where a = 1"), "second");

  // Opening another file without closing first lets go of this one too.
  TestDatabase other("sqlite");
  other.ExecDirect(
      "create table t(a int primary key, b text); insert into t values(1, 'other')");
  provider_.Open(other.Settings());
  EXPECT_FALSE(OpenInThisProcess(db_.FilePath()));
  EXPECT_EQ(provider_.Execute(update, {"third", 1})->RowsAffected(), 1);
  EXPECT_EQ(other.StoredBytes("select b from t where a = 1"), "third");
  EXPECT_EQ(db_.StoredBytes("select b from t where a = 1"), "second");
}

}  // namespace
}  // namespace tersify::providers
