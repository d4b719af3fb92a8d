#include "log/log_values.h"

#include <gtest/gtest.h>

#include "log/debug_output.h"

namespace tersify {
namespace {

struct ValueCase {
  const char* name;
  std::string text;
  bool comma;
  std::string rendered;
};

class SQLValueTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(SQLValueTest, RendersAsTheStatementsNeedIt) {
  EXPECT_EQ(SQLValue(GetParam().text, GetParam().comma), GetParam().rendered);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SQLValueTest,
    ::testing::Values(ValueCase{"Plain", "abc", false, "\"abc\""},
                      ValueCase{"PlainWithComma", "abc", true, "\"abc\","},
                      ValueCase{"EmptyIsNull", "", false, "NULL"},
                      ValueCase{"EmptyIsNullWithComma", "", true, "NULL,"},
                      ValueCase{"OnlyNulsIsNull", std::string("\0\0", 2), true, "NULL,"},
                      ValueCase{"NulsRemoved", std::string("a\0b\0", 4), false, "\"ab\""},
                      ValueCase{"QuotesDoubled", "select \"Name\" from t", false, "\"select \"\"Name\"\" from t\""},
                      ValueCase{"OnlyAQuote", "\"", false, "\"\"\"\""},
                      ValueCase{"ApostropheKept", "it's", false, "\"it's\""},
                      ValueCase{"LineBreaksKept", "a\r\nb", false, "\"a\r\nb\""}),
    [](const auto& info) { return std::string(info.param.name); });

TLogRow SampleRow() {
  TLogRow row;
  row.FormName = "<nil>";
  row.SenderName = "TvrScript";
  row.ObjectName = "scrUpdate";
  row.AppName = "tersify";
  row.BuildNo = "17";
  row.TickCount = 4294967295u;
  row.Operation = "BeforeExecute";
  row.ExceptObject = "EConvertError";
  row.Error = "bad \"x\"";
  row.SenderProp = "SQL --> select 1";
  return row;
}

// The statements are fixed texts: blanks, commas and the empty-value NULLs
// all matter to anyone reading the log's database.
TEST(LogStatementTest, TraceInsert) {
  EXPECT_EQ(TraceInsertStatement(SampleRow()),
            " insert into log (FormName, ControlName, SenderName, ObjectName, AppName, BuildNo, TickCount, "
            "Operation, SenderProp)  values (\"<nil>\",NULL,\"TvrScript\",\"scrUpdate\",\"tersify\",\"17\","
            "4294967295, \"BeforeExecute\",\"SQL --> select 1\"); ");
}

TEST(LogStatementTest, ErrorInsert) {
  EXPECT_EQ(ErrorInsertStatement(SampleRow()),
            " insert into log (FormName, ControlName, SenderName, ObjectName, AppName, BuildNo, TickCount, "
            "Operation, ExceptObject, Error, SenderProp)  values (\"<nil>\",NULL,\"TvrScript\",\"scrUpdate\","
            "\"tersify\",\"17\",4294967295, \"BeforeExecute\",\"EConvertError\",\"bad \"\"x\"\"\","
            "\"SQL --> select 1\"); ");
}

TEST(WindbgSwitchTest, FoundWithEitherSwitchCharacterInAnyCase) {
  EXPECT_TRUE(FindCmdLineSwitch({"/c", "-WINDBG"}, "WINDBG"));
  EXPECT_TRUE(FindCmdLineSwitch({"/windbg"}, "WINDBG"));
  EXPECT_TRUE(FindCmdLineSwitch({"-WinDbg", "/TABLE=t"}, "WINDBG"));
  EXPECT_FALSE(FindCmdLineSwitch({}, "WINDBG"));
  EXPECT_FALSE(FindCmdLineSwitch({"WINDBG"}, "WINDBG"));
  EXPECT_FALSE(FindCmdLineSwitch({"--WINDBG"}, "WINDBG"));
  EXPECT_FALSE(FindCmdLineSwitch({"/WINDBG2", "/WINDB"}, "WINDBG"));
}

}  // namespace
}  // namespace tersify
