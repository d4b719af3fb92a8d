#include <gtest/gtest.h>

#include "framework/data/params.h"
#include "framework/data/db_error.h"

namespace tersify {
namespace {

struct ParseCase {
  const char* label;
  const char* sql;
  const char* parsed;
  std::vector<std::string> names;
};

class ParseSQL : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseSQL, MarksAndNames) {
  const ParseCase& c = GetParam();
  const ParsedSQL p = ParseSQLParams(c.sql);
  EXPECT_EQ(p.sql, c.parsed);
  EXPECT_EQ(p.names, c.names);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseSQL,
    ::testing::Values(
        ParseCase{"Plain", "select * from t where a=:a and b = :b_2", "select * from t where a=? and b = ?",
                  {"a", "b_2"}},
        ParseCase{"Repeated", "update t set x=:v where y=:V or z=:v", "update t set x=? where y=? or z=?",
                  {"v", "V", "v"}},
        ParseCase{"SingleQuotes", "select ':no', 'it''s :no' from t where a=:yes",
                  "select ':no', 'it''s :no' from t where a=?", {"yes"}},
        ParseCase{"DoubleQuotedName", "select \"a:b\" from t where c=:c", "select \"a:b\" from t where c=?",
                  {"c"}},
        ParseCase{"Brackets", "select [x:y]], z] from t where id=:id", "select [x:y]], z] from t where id=?",
                  {"id"}},
        ParseCase{"LineComment", "select 1 -- :no\nwhere a=:a", "select 1 -- :no\nwhere a=?", {"a"}},
        ParseCase{"BlockComment", "select /* :no\n:no */ :a", "select /* :no\n:no */ ?", {"a"}},
        ParseCase{"DoubleColon", "select a::int, :p", "select a:int, ?", {"p"}},
        ParseCase{"LoneColon", "select ': ' , a : b", "select ': ' , a : b", {}},
        ParseCase{"QuotedParamName", "where a=:\"my name\"", "where a=?", {"my name"}},
        ParseCase{"SpecialNameChars", "exec p :@x, :$y, :#z", "exec p ?, ?, ?", {"@x", "$y", "#z"}},
        ParseCase{"UnclosedQuote", "select ':a", "select ':a", {}},
        ParseCase{"UnclosedComment", "select /* :a", "select /* :a", {}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Params, FindByNameIgnoringCaseAndNotFoundMessage) {
  TParams params;
  params.CreateParam(ftInteger, "Id", TParamType::ptInput);
  EXPECT_EQ(&params.ParamByName("ID"), params.FindParam("id"));
  try {
    params.ParamByName("other");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Parameter 'other' not found");
  }
}

TEST(Params, ValuesBindAndGiveTheirType) {
  TParams params;
  TParam& p = params.CreateParam(ftUnknown, "p", TParamType::ptInput);
  EXPECT_FALSE(p.Bound());
  p.SetAsBlob("bytes");
  EXPECT_TRUE(p.Bound());
  EXPECT_EQ(p.DataType(), ftBlob);
  EXPECT_EQ(p.Value().Type(), TVarType::Bytes);
  TParam& q = params.CreateParam(ftString, "q", TParamType::ptInput);
  q.SetAsInteger(5);
  EXPECT_EQ(q.DataType(), ftString);  // a type given keeps
}

TEST(Params, AssignAndAssignValues) {
  TParams a;
  a.CreateParam(ftInteger, "x", TParamType::ptInput).SetAsInteger(1);
  a.CreateParam(ftString, "y", TParamType::ptInput).SetAsString("s");
  TParams b;
  b.Assign(a);
  ASSERT_EQ(b.Count(), 2);
  EXPECT_EQ(b[1].AsString(), "s");
  a[0].SetAsInteger(2);
  EXPECT_EQ(b[0].AsInteger(), 1);  // a copy, not shared

  TParams reparsed;
  reparsed.CreateParam(ftUnknown, "Y", TParamType::ptOutput);
  reparsed.CreateParam(ftUnknown, "z", TParamType::ptInput);
  reparsed.AssignValues(a);
  EXPECT_EQ(reparsed[0].AsString(), "s");
  EXPECT_EQ(reparsed[0].Name(), "Y");
  EXPECT_EQ(reparsed[0].ParamType(), TParamType::ptOutput);
  EXPECT_TRUE(reparsed[1].IsNull());
}

}  // namespace
}  // namespace tersify
