#include "framework/rtl/platform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace tersify {
namespace {

TEST(Platform, AnsiCompareTextIgnoresCase) {
  EXPECT_EQ(AnsiCompareText("Compress", "COMPRESS"), 0);
  EXPECT_TRUE(SameText("tqz_Reports", "TQZ_REPORTS"));
  EXPECT_LT(AnsiCompareText("abc", "ABD"), 0);
  EXPECT_GT(AnsiCompareText("b", "A"), 0);
  EXPECT_NE(AnsiCompareText("comp", "COMPRESS"), 0);
  EXPECT_NE(AnsiCompareText("", "C"), 0);
}

TEST(Platform, AsciiCaseAndTrim) {
  EXPECT_EQ(UpperCase("table=\xe4x"), "TABLE=\xe4X");  // only a-z change
  EXPECT_EQ(LowerCase("ABC\xc4"), "abc\xc4");
  EXPECT_EQ(Trim(" \t x y \r\n"), "x y");
  EXPECT_EQ(Trim("   "), "");
}

TEST(Platform, TickCountMovesForward) {
  const uint32_t a = GetTickCount();
  usleep(20000);
  const uint32_t b = GetTickCount();
  EXPECT_GE(static_cast<uint32_t>(b - a), 15u);
}

TEST(Platform, TempFilesAndAttributes) {
  char pattern[] = "/tmp/rtl-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  EXPECT_EQ(CreateUniqueFile("", "abc"), "");
  const std::string name = CreateUniqueFile(dir, "abcdef");
  ASSERT_FALSE(name.empty());
  EXPECT_EQ(name.rfind(dir + "/abc", 0), 0u);
  EXPECT_TRUE(FileExists(name));
  EXPECT_FALSE(FileExists(dir));
  EXPECT_TRUE(DirectoryExists(dir));

  ASSERT_EQ(chmod(name.c_str(), 0444), 0);
  const uint32_t readOnly = ReadFileAttributes(name);
  EXPECT_TRUE(readOnly & kFileAttributeReadOnly);
  EXPECT_TRUE(WriteFileAttributes(name, 0));
  EXPECT_FALSE(ReadFileAttributes(name) & kFileAttributeReadOnly);
  EXPECT_TRUE(WriteFileAttributes(name, readOnly));  // put back exactly
  EXPECT_EQ(ReadFileAttributes(name), readOnly);

  EXPECT_TRUE(RemoveFile(name));
  EXPECT_EQ(ReadFileAttributes(name), kInvalidFileAttributes);
  EXPECT_FALSE(RemoveFile(name));
  rmdir(dir.c_str());
}

}  // namespace
}  // namespace tersify
