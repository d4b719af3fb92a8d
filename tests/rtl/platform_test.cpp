#include "framework/rtl/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

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
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const uint32_t b = GetTickCount();
  EXPECT_GE(static_cast<uint32_t>(b - a), 15u);
}

namespace fs = std::filesystem;

// A new empty directory in the temporary-files directory.
std::string MakeScratchDirectory() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = TempDirectoryPath() + "rtl-test-" + std::to_string(random());
    if (fs::create_directory(candidate)) return candidate;
  }
  return {};
}

void MakeReadOnly(const std::string& name) {
  fs::permissions(name, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

TEST(Platform, TempDirectoryPathEndsInASeparatorAndExists) {
  const std::string dir = TempDirectoryPath();
  ASSERT_FALSE(dir.empty());
  EXPECT_TRUE(dir.back() == '/' || dir.back() == '\\') << dir;
  EXPECT_TRUE(DirectoryExists(dir));
}

TEST(Platform, TempFilesAndAttributes) {
  const std::string dir = MakeScratchDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(CreateUniqueFile("", "abc"), "");
  const std::string name = CreateUniqueFile(dir, "abcdef");
  ASSERT_FALSE(name.empty());
  EXPECT_EQ(name.rfind(dir, 0), 0u);
  EXPECT_EQ(fs::path(name).filename().string().rfind("abc", 0), 0u) << name;
  EXPECT_TRUE(FileExists(name));
  EXPECT_FALSE(FileExists(dir));
  EXPECT_TRUE(DirectoryExists(dir));

  MakeReadOnly(name);
  const uint32_t readOnly = ReadFileAttributes(name);
  EXPECT_TRUE(readOnly & kFileAttributeReadOnly);
  EXPECT_TRUE(WriteFileAttributes(name, 0));
  EXPECT_FALSE(ReadFileAttributes(name) & kFileAttributeReadOnly);
  EXPECT_TRUE(WriteFileAttributes(name, readOnly));  // put back exactly
  EXPECT_EQ(ReadFileAttributes(name), readOnly);

  ASSERT_TRUE(WriteFileAttributes(name, 0));  // Windows deletes no read-only file
  EXPECT_TRUE(RemoveFile(name));
  EXPECT_EQ(ReadFileAttributes(name), kInvalidFileAttributes);
  EXPECT_FALSE(RemoveFile(name));
  std::error_code ignored;
  fs::remove(dir, ignored);
}

// A read-only file goes once its attributes are cleared (Windows refuses to
// delete it before).
TEST(Platform, ReadOnlyFileIsRemovedAfterItsAttributesAreCleared) {
  const std::string dir = MakeScratchDirectory();
  ASSERT_FALSE(dir.empty());
  const std::string name = CreateUniqueFile(dir, "ro");
  ASSERT_FALSE(name.empty());
  MakeReadOnly(name);
  ASSERT_TRUE(ReadFileAttributes(name) & kFileAttributeReadOnly);
  ASSERT_TRUE(WriteFileAttributes(name, 0));
  EXPECT_TRUE(RemoveFile(name));
  EXPECT_FALSE(FileExists(name));
  EXPECT_FALSE(IsSymbolicLink(name));
  std::error_code ignored;
  fs::remove(dir, ignored);
}

}  // namespace
}  // namespace tersify
