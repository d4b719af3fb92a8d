// The rewrite table and the statement splitting around it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client/errors.h"
#include "client/providers/sqlite/sqlite_functions.h"
#include "client/providers/sqlite/tsql_rewrites.h"

namespace tersify::providers {
namespace {

using Kind = TsqlRewrite::Kind;

const char kUserIdQuery[] =
    "if object_id('dbo.fQZ_UserGetCurrentUserID') is not null   SELECT "
    "dbo.fQZ_UserGetCurrentUserID() else   SELECT 0";

TsqlRewrite Rewrite(std::string_view sql, bool user_function = false) {
  return RewriteTsql(sql, [&](const std::string& name) {
    return user_function && name == "fQZ_UserGetCurrentUserID";
  });
}

struct Fixed {
  const char* tsql;
  const char* sqlite;
};

class FixedStatement : public ::testing::TestWithParam<Fixed> {};

TEST_P(FixedStatement, IsReplaced) {
  const TsqlRewrite r = Rewrite(GetParam().tsql);
  EXPECT_EQ(r.kind, Kind::Replaced);
  EXPECT_EQ(r.sql, GetParam().sqlite);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FixedStatement,
    ::testing::Values(
        Fixed{"select @@SPID", "select tersify_spid()"},
        Fixed{"  SELECT\t@@spid \r\n", "select tersify_spid()"},
        Fixed{"select @@TRANCOUNT", "select tersify_trancount()"},
        Fixed{"Select   @@TranCount", "select tersify_trancount()"},
        Fixed{kUserIdQuery, "select 0"},
        Fixed{"IF OBJECT_ID('dbo.fQZ_UserGetCurrentUserID') IS NOT NULL\n SELECT "
              "dbo.fQZ_UserGetCurrentUserID()\nELSE\n SELECT 0",
              "select 0"},
        Fixed{"select convert(tinyint, parsename(cast(serverproperty('ProductVersion') as "
              "varchar(30)), 4))",
              "select cast(parsename(sqlite_version(), 4) as integer)"}));

TEST(TsqlRewrites, UserIdQueryCallsTheRegisteredFunction) {
  const TsqlRewrite r = Rewrite(kUserIdQuery, true);
  EXPECT_EQ(r.kind, Kind::Replaced);
  EXPECT_EQ(r.sql, "select fQZ_UserGetCurrentUserID()");
}

TEST(TsqlRewrites, NearMissesGoToSqliteUnchanged) {
  for (const char* sql : {"select @@SPID, 1", "select @@SPIDX", "select 1", "select * from t",
                          "insert into t values('select @@SPID')", "settle", "execution_log",
                          "set", "SET IDENTITY_INSERT t ON", "update t set a = 1"}) {
    EXPECT_EQ(Rewrite(sql).kind, Kind::Unchanged) << sql;
  }
}

TEST(TsqlRewrites, SessionSetOptionsAreIgnored) {
  for (const char* sql : {"SET TEXTSIZE 2147483647", "set textsize 100", "SET LOCK_TIMEOUT -1",
                          "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED", "set nocount on",
                          "SET ANSI_NULLS ON", "set  quoted_identifier  off"}) {
    EXPECT_EQ(Rewrite(sql).kind, Kind::Ignored) << sql;
  }
}

TEST(TsqlRewrites, ExecReadsNameAndLiteralArguments) {
  const TsqlRewrite r =
      Rewrite("EXEC dbo.[pQZ_SysSetConInfoRC] 2, -1, 3.5, 'it''s', N'wide', NULL, ?, @p_x = 'named'");
  ASSERT_EQ(r.kind, Kind::Procedure);
  EXPECT_EQ(r.procedure, "pQZ_SysSetConInfoRC");
  ASSERT_EQ(r.arguments.size(), 8u);
  EXPECT_EQ(r.arguments[0].value.Type(), TVarType::Integer);
  EXPECT_EQ(r.arguments[0].value.AsInt64(), 2);
  EXPECT_EQ(r.arguments[1].value.AsInt64(), -1);
  EXPECT_EQ(r.arguments[2].value.Type(), TVarType::Float);
  EXPECT_EQ(r.arguments[2].value.AsFloat(), 3.5);
  EXPECT_EQ(r.arguments[3].value.AsString(), "it's");
  EXPECT_EQ(r.arguments[4].value.AsString(), "wide");
  EXPECT_TRUE(r.arguments[5].value.IsNull());
  EXPECT_FALSE(r.arguments[5].is_parameter);
  EXPECT_TRUE(r.arguments[6].is_parameter);
  EXPECT_EQ(r.arguments[7].name, "p_x");
  EXPECT_EQ(r.arguments[7].value.AsString(), "named");
}

TEST(TsqlRewrites, ExecWithoutArgumentsAndExecute) {
  TsqlRewrite r = Rewrite("execute pQZ_Nothing");
  ASSERT_EQ(r.kind, Kind::Procedure);
  EXPECT_EQ(r.procedure, "pQZ_Nothing");
  EXPECT_TRUE(r.arguments.empty());
  r = Rewrite("exec  pQZ_SysSetConInfoRC 2, 0 ");
  ASSERT_EQ(r.arguments.size(), 2u);
  EXPECT_EQ(r.arguments[1].value.AsInt64(), 0);
}

TEST(TsqlRewrites, MalformedExecIsASyntaxError) {
  for (const char* sql : {"exec p 1 2", "exec p 'open", "exec p abc", "exec p 1,", "exec",
                          "exec p @x 1", "exec p 1e"}) {
    EXPECT_THROW(Rewrite(sql), EMSError) << sql;
  }
}

TEST(TsqlRewrites, StatementEndSkipsQuotedSemicolonsAndComments) {
  const std::string text =
      "insert into t values('a;b', \"c;d\", [e;f]) -- x;y\n/* ; */ ;select 2; ";
  const size_t end = StatementEnd(text, 0);
  EXPECT_EQ(text.substr(end, 9), ";select 2");
  const size_t next = SkipFiller(text, end);
  EXPECT_EQ(text.substr(next, 8), "select 2");
  const size_t end2 = StatementEnd(text, next);
  EXPECT_EQ(SkipFiller(text, end2), text.size());
  EXPECT_EQ(StatementEnd("select 'unterminated;", 0), std::string("select 'unterminated;").size());
}

TEST(TsqlRewrites, UnqualifiedNameDropsSchemaAndBrackets) {
  EXPECT_EQ(UnqualifiedName("t"), "t");
  EXPECT_EQ(UnqualifiedName("dbo.t"), "t");
  EXPECT_EQ(UnqualifiedName("[dbo].[a.b c]"), "a.b c");
  EXPECT_EQ(UnqualifiedName("\"quoted\""), "quoted");
  EXPECT_EQ(UnqualifiedName("db.dbo.fQZ_X"), "fQZ_X");
}

TEST(TsqlRewrites, ParseNameCountsPartsFromTheRight) {
  std::string part;
  ASSERT_TRUE(ParseName("16.0.1000.6", 4, part));
  EXPECT_EQ(part, "16");
  ASSERT_TRUE(ParseName("16.0.1000.6", 1, part));
  EXPECT_EQ(part, "6");
  ASSERT_TRUE(ParseName("3.40.1", 3, part));
  EXPECT_EQ(part, "3");
  EXPECT_FALSE(ParseName("3.40.1", 4, part));
  EXPECT_FALSE(ParseName("1.2.3.4.5", 1, part));
  EXPECT_FALSE(ParseName("1..3", 2, part));
  EXPECT_FALSE(ParseName("1.2", 0, part));
  EXPECT_FALSE(ParseName("1.2", 5, part));
}

// Statements written for SQL Server that the engine's pass sends.
struct Inline {
  const char* tsql;
  const char* sqlite;
};

class InlineRewrite : public ::testing::TestWithParam<Inline> {};

TEST_P(InlineRewrite, IsReplaced) {
  const TsqlRewrite r = Rewrite(GetParam().tsql);
  EXPECT_EQ(r.kind, Kind::Replaced);
  EXPECT_EQ(r.sql, GetParam().sqlite);
}

INSTANTIATE_TEST_SUITE_P(
    CastAndTop, InlineRewrite,
    ::testing::Values(
        Inline{"update t set f = ? where k = ? and HASHBYTES('SHA2_256', CAST(f AS varbinary(max))) = ?",
               "update t set f = ? where k = ? and HASHBYTES('SHA2_256', cast(f as blob)) = ?"},
        Inline{"select 1 where cast( [a b] as VarBinary ( MAX ) ) = ?", "select 1 where cast([a b] as blob) = ?"},
        Inline{"select cast(cast(x as varbinary(max)) as varbinary(max))", "select cast(cast(x as blob) as blob)"},
        Inline{"select top (500) k, f from t where k > ? order by k",
               "select k, f from t where k > ? order by k limit 500"},
        Inline{"SELECT TOP 7 [k] from t order by [k] ", "select [k] from t order by [k] limit 7"},
        Inline{"select top (3) cast(f as varbinary(max)) from t", "select cast(f as blob) from t limit 3"}));

// A top of a derived table or subquery: the one the page bounded by its bytes
// sends, and the shapes around it that must not throw the parentheses off.
INSTANTIATE_TEST_SUITE_P(
    DerivedTop, InlineRewrite,
    ::testing::Values(
        Inline{"select [k], [f] from (select top (100) k, f, sum(cast(datalength(f) as bigint)) over (order "
               "by k rows unbounded preceding) as b from t where k > ? order by k) as p where b - "
               "coalesce(datalength([f]), 0) < 1000 order by [k]",
               "select [k], [f] from (select k, f, sum(cast(datalength(f) as bigint)) over (order by k rows "
               "unbounded preceding) as b from t where k > ? order by k limit 100) as p where b - "
               "coalesce(datalength([f]), 0) < 1000 order by [k]"},
        Inline{"select * from ( SELECT TOP 3 k from t order by k  ) d",
               "select * from ( select k from t order by k limit 3) d"},
        // Nested: both tops, the inner one inside a function's parentheses.
        Inline{"select * from (select top (2) k, (select max(x) from (select top (1) x from u order by x) "
               "as w) m from t order by k) as d",
               "select * from (select k, (select max(x) from (select x from u order by x limit 1) as w) m "
               "from t order by k limit 2) as d"},
        // A ')' in a literal, a bracketed name or a comment does not end the derived table.
        Inline{"select * from (select top (5) k from t where f <> ')' and [a)b] = 1 /* ) */ order by k) as d",
               "select * from (select k from t where f <> ')' and [a)b] = 1 /* ) */ order by k limit 5) as d"},
        Inline{"select top (4) k from t where k in (select top (9) k from u order by k)",
               "select k from t where k in (select k from u order by k limit 9) limit 4"}));

TEST(TsqlRewrites, DerivedTopsWithoutALiteralOrInQuotesStay) {
  for (const char* sql : {"select * from (select top (?) k from t) as d",
                          "select * from (select top(n) k from t) d", "select * from (select topping from t) d",
                          "select '(select top (1) k from t)'",
                          "select [(select top (1) k from t)] from t", "select 1 -- (select top (1) k from t)",
                          "select * from (select top (1) k from t"}) {
    EXPECT_EQ(Rewrite(sql).kind, Kind::Unchanged) << sql;
  }
}

TEST(TsqlRewrites, CastsToOtherTypesAndQuotedCastsStay) {
  for (const char* sql : {"select cast(x as varchar(max))", "select 'cast(x as varbinary(max))'",
                          "select [cast(x as varbinary(max))] from t",
                          "select cast(x as varbinary(10))", "select top (?) k from t",
                          "select topping from t", "select top(n) k from t",
                          "select forecast(x as varbinary(max))"}) {
    EXPECT_EQ(Rewrite(sql).kind, Kind::Unchanged) << sql;
  }
}

}  // namespace
}  // namespace tersify::providers
