// The JSON writer: its text read back by a JSON parser (Python's) gives the
// values written, whatever bytes the strings hold.

#include "framework/rtl/json_writer.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/temporary_file_output.h"

namespace tersify {
namespace {

// What Python's json module reads from text, written back with every
// non-ASCII character escaped and the members sorted; "<error>" when it
// refuses the text.
std::string ParsedByPython(const std::string& text) {
  return testing::OutputOnTemporaryFile("python3 -c 'import json,sys; "
                                        "print(json.dumps(json.load(open(sys.argv[1], encoding=\"utf-8\")), "
                                        "sort_keys=True, ensure_ascii=True))'",
                                        text)
      .value_or("<error>");
}

bool PythonAvailable() { return std::system("python3 -c pass > /dev/null 2>&1") == 0; }

TEST(JsonWriterTest, AParserReadsBackEveryKindOfValue) {
  if (!PythonAvailable()) GTEST_SKIP() << "no python3 to parse with";
  TJsonObject object;
  object.Add("text", "plain")
      .Add("quotes", "say \"hi\" \\ back")
      .Add("controls", std::string("a\nb\tc\r\x01\x1f\x7f", 9))
      .Add("zero", std::string("a\0b", 3))
      .Add("utf8", "Zürich 日本 😀")
      .Add("bad utf8", std::string("\xff\xc3(\xed\xa0\x80\xe2\x82", 8))
      .Add("count", int64_t{-9000000000})
      .Add("small", int32_t{7})
      .Add("seconds", 2.5)
      .Add("infinite", std::numeric_limits<double>::infinity())
      .Add("yes", true)
      .Add("list", std::vector<std::string>{"a b", "it's", "\"q\""})
      .Add("empty list", std::vector<std::string>{})
      .Add("none", std::optional<std::string>())
      .Add("some", std::optional<std::string>("x"))
      .AddNull("nothing");
  EXPECT_EQ(ParsedByPython(object.Text()),
            "{\"bad utf8\": \"\\ufffd\\ufffd(\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\", "
            "\"controls\": \"a\\nb\\tc\\r\\u0001\\u001f\\u007f\", \"count\": -9000000000, "
            "\"empty list\": [], \"infinite\": null, \"list\": [\"a b\", \"it's\", \"\\\"q\\\"\"], "
            "\"none\": null, \"nothing\": null, \"quotes\": \"say \\\"hi\\\" \\\\ back\", \"seconds\": 2.5, "
            "\"small\": 7, \"some\": \"x\", \"text\": \"plain\", "
            "\"utf8\": \"Z\\u00fcrich \\u65e5\\u672c \\ud83d\\ude00\", \"yes\": true, \"zero\": \"a\\u0000b\"}\n");
}

TEST(JsonWriterTest, MembersKeepTheirOrderOneALine) {
  TJsonObject object;
  object.Add("b", int64_t{1}).Add("a", "x");
  EXPECT_EQ(object.Text(), "{\n  \"b\": 1,\n  \"a\": \"x\"\n}\n");
  EXPECT_EQ(TJsonObject().Text(), "{}\n");
  EXPECT_EQ(JsonString("\xc3\xa9"), "\"\xc3\xa9\"");
}

}  // namespace
}  // namespace tersify
