// A /FROM= key read in the key column's type, and the resume key printed so
// that a POSIX shell hands /FROM= exactly the key back.

#include "tool/pass/start_key.h"

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tool/pass/options.h"

namespace tersify {
namespace {

providers::ColumnInfo Column(const std::string& declared) { return providers::DescribeColumn("k", declared); }

struct Accepted {
  const char* declared;
  const char* text;
  Variant expected;
};

TEST(StartKeyTest, TextIsReadInTheKeyColumnsType) {
  const std::vector<Accepted> cases = {
      {"int", "42", Variant(42)},
      {"bigint", "-9000000000", Variant(-9000000000LL)},
      {"smallint", "+7", Variant(7)},
      {"float", "2.5", Variant(2.5)},
      {"decimal(10,2)", "-0.25", Variant(-0.25)},
      {"varbinary(16)", "0x00fF10", Variant(TBytes{std::string("\x00\xff\x10", 3)})},
      {"nvarchar(40)", "it's Zürich", Variant("it's Zürich")},
      {"varchar(10)", "42", Variant("42")},
      {"", "17", Variant(17)},
      {"", "1.5", Variant(1.5)},
      {"", "R17", Variant("R17")},
  };
  for (const Accepted& c : cases) {
    const Variant key = StartKeyFrom(c.text, Column(c.declared));
    EXPECT_EQ(key.Type(), c.expected.Type()) << c.declared << " " << c.text;
    EXPECT_TRUE(key == c.expected) << c.declared << " " << c.text << " read as " << key.AsString();
  }
  const Variant date = StartKeyFrom("2024-02-29 13:45:00", Column("datetime"));
  EXPECT_EQ(date.Type(), TVarType::DateTime);
  EXPECT_EQ(DateTimeToStr(date.AsDateTime()), "2024-02-29 13:45:00");
}

TEST(StartKeyTest, TextOfAnotherFormIsRefusedWithTheColumnNamed) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"int", "abc"},          {"int", "1.5"},         {"int", ""},      {"int", " 1"},
      {"int", "99999999999999999999"}, {"float", "1e999"}, {"float", "nan"}, {"float", "1,5"},
      {"varbinary(16)", "00ff"}, {"varbinary(16)", "0xabc"}, {"varbinary(16)", "0xzz"},
      {"datetime", "yesterday"}, {"nvarchar(10)", "\xff\xfe"}, {"nvarchar(10)", "\xc3"},
  };
  for (const auto& [declared, text] : cases) {
    try {
      StartKeyFrom(text, Column(declared));
      ADD_FAILURE() << declared << " took '" << text << "'";
    } catch (const EStartKeyError& e) {
      EXPECT_NE(std::string(e.what()).find("/FROM="), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("key field k"), std::string::npos) << e.what();
    }
  }
}

// What bash makes of `printf %s <word>`, the word as written in a script.
std::string ThroughShell(const std::string& word) {
  char path[] = "/tmp/tersify-shell-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) return "<no script>";
  const std::string script = "printf %s " + word + "\n";
  const bool written = ::write(fd, script.data(), script.size()) == static_cast<ssize_t>(script.size());
  ::close(fd);
  std::string out = "<no shell>";
  if (std::FILE* pipe = written ? ::popen(("/bin/bash " + std::string(path)).c_str(), "r") : nullptr) {
    out.clear();
    char buffer[256];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    ::pclose(pipe);
  }
  ::unlink(path);
  return out;
}

TEST(ResumeKeyArgumentTest, AShellHandsBackExactlyTheKey) {
  const std::vector<std::string> keys = {
      "R17", "with blank", "it's", "say \"hi\"", "back\\slash", "Zürich 日本", "$HOME `id` $(id)", "a;b|c&d",
      "*?[x]", "~user", "line\nbreak", "tab\there", "quote' and \\ and \x01", "#hash", "",
  };
  for (const std::string& key : keys) {
    const std::string argument = ResumeKeyArgument(Variant(key));
    EXPECT_EQ(ThroughShell("/FROM=" + argument), "/FROM=" + key) << argument;
    EXPECT_EQ(argument.find('\n'), std::string::npos) << argument;
  }
  // Plain keys stay as they are, bytes read as /FROM= reads them.
  EXPECT_EQ(ResumeKeyArgument(Variant("R-17_a.b")), "R-17_a.b");
  EXPECT_EQ(ResumeKeyArgument(Variant(42)), "42");
  EXPECT_EQ(ResumeKeyArgument(Variant(TBytes{std::string("\x01\xab", 2)})), "0x01AB");
}

TEST(ResumeKeyArgumentTest, ANumberKeyReadsBackAsTheSameNumber) {
  for (double value : {0.1, 1.0 / 3, 123456789.123456789, -2.5e-300}) {
    const Variant read = StartKeyFrom(ResumeKeyArgument(Variant(value)), providers::DescribeColumn("k", "float"));
    EXPECT_EQ(read.AsFloat(), value);
  }
  const Variant bytes = StartKeyFrom(ResumeKeyArgument(Variant(TBytes{std::string("\x00\x7f", 2)})),
                                     providers::DescribeColumn("k", "varbinary(8)"));
  EXPECT_EQ(bytes.RawString(), std::string("\x00\x7f", 2));
}

}  // namespace
}  // namespace tersify
