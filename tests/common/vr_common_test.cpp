#include "common/vr_common.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace tersify {
namespace {

namespace fs = std::filesystem;

struct TokenCase {
  const char* s;
  int index;
  int quote;
  const char* expected;
};

void PrintTo(const TokenCase& c, std::ostream* os) { *os << "\"" << c.s << "\" " << c.index << " quote " << c.quote; }

class GetToken : public ::testing::TestWithParam<TokenCase> {};

TEST_P(GetToken, GivesTheField) {
  const TokenCase& c = GetParam();
  EXPECT_EQ(TcString::GetToken(c.s, c.index, '.', c.quote), c.expected)
      << "S=" << c.s << " Index=" << c.index << " QuoteChar=" << c.quote;
}

INSTANTIATE_TEST_SUITE_P(
    Table, GetToken,
    ::testing::Values(TokenCase{"9.00.3042.00", 1, -1, "9"}, TokenCase{"9.00.3042.00", 2, -1, "00"},
                      TokenCase{"9.00.3042.00", 3, -1, "3042"},
                      TokenCase{"9.00.3042.00", 4, -1, "00"}, TokenCase{"9.00.3042.00", 5, -1, ""},
                      TokenCase{"abc", 1, -1, "abc"}, TokenCase{"abc", 2, -1, ""},
                      TokenCase{"", 1, -1, ""}, TokenCase{"", 3, -1, ""}, TokenCase{"", 0, -1, ""},
                      TokenCase{".a", 1, -1, ""}, TokenCase{".a", 2, -1, "a"},
                      TokenCase{"a.b.", 3, -1, ""}, TokenCase{"a..b", 2, -1, ""},
                      TokenCase{"a..b", 3, -1, "b"}, TokenCase{"'a.b'.c", 1, 39, "'a.b'"},
                      TokenCase{"'a.b'.c", 2, 39, "c"}, TokenCase{"'a.b.c", 2, 39, ""},
                      TokenCase{"x'a.b'y.z", 1, 39, "x'a.b'y"}, TokenCase{"a.b", 1, 46, "a.b"},
                      TokenCase{"a.b", 2, 46, ""}, TokenCase{"a.b", 0, -1, "a.b"},
                      TokenCase{"'a.b'.c", -3, 39, "'a.b'.c"}));

TEST(GetToken, OtherDelimiter) {
  EXPECT_EQ(TcString::GetToken("a;b;c", 2, ';', -1), "b");
  EXPECT_EQ(TcString::GetToken("a.b;c", 1, ';', -1), "a.b");
  EXPECT_EQ(TcString::GetToken("\"a;b\";c", 1, ';', '"'), "\"a;b\"");
}

// A fresh directory for each test, and TMPDIR pointed at it.
class TcShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vrcommon-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    const char* old = std::getenv("TMPDIR");
    if (old) oldTmp_ = old;
    hadTmp_ = old != nullptr;
    setenv("TMPDIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    if (hadTmp_)
      setenv("TMPDIR", oldTmp_.c_str(), 1);
    else
      unsetenv("TMPDIR");
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  static bool IsEmptyDir(const std::string& d) { return fs::is_empty(d); }

  std::string dir_, oldTmp_;
  bool hadTmp_ = false;
};

TEST_F(TcShellTest, GetTempDirIsTheTemporaryFilesDirectory) {
  EXPECT_EQ(TcShell::GetTempDir(), dir_ + "/");
  unsetenv("TMPDIR");
  EXPECT_EQ(TcShell::GetTempDir(), "/tmp/");
}

TEST_F(TcShellTest, CreateTempFileNameWithoutDirUsesTheTemporaryFilesDirectory) {
  const std::string a = TcShell::CreateTempFileName("vrkextra", "");
  const std::string b = TcShell::CreateTempFileName("vrkextra", "");
  ASSERT_FALSE(a.empty());
  EXPECT_NE(a, b);
  EXPECT_EQ(fs::path(a).parent_path(), fs::path(dir_));
  for (const std::string& name : {a, b}) {
    ASSERT_TRUE(fs::is_regular_file(name)) << name;
    EXPECT_EQ(fs::file_size(name), 0u);
    const std::string base = fs::path(name).filename();
    EXPECT_EQ(base.substr(0, 3), "vrk");  // only the first three characters of the prefix
    EXPECT_EQ(base.size(), 3u + 6u + 4u) << base;
  }
}

TEST_F(TcShellTest, CreateTempFileNameInAGivenDirectory) {
  fs::create_directory(dir_ + "/sub");
  const std::string name = TcShell::CreateTempFileName("ab", dir_ + "/sub");
  ASSERT_FALSE(name.empty());
  EXPECT_EQ(fs::path(name).parent_path(), fs::path(dir_ + "/sub"));
  EXPECT_TRUE(fs::exists(name));
}

TEST_F(TcShellTest, CreateTempFileNameFailsQuietly) {
  EXPECT_EQ(TcShell::CreateTempFileName("vrk", dir_ + "/missing"), "");
  EXPECT_EQ(TcShell::CreateTempFileName("vrk", "/proc"), "");
}

TEST_F(TcShellTest, DeleteFileForcedOnMissingNameIsTrue) {
  EXPECT_TRUE(TcShell::DeleteFileForced(dir_ + "/nothing-here"));
}

TEST_F(TcShellTest, DeleteFileForcedDeletesAReadOnlyFile) {
  const std::string name = dir_ + "/readonly.txt";
  std::ofstream(name) << "data";
  ASSERT_EQ(chmod(name.c_str(), 0444), 0);
  EXPECT_TRUE(TcShell::DeleteFileForced(name));
  EXPECT_FALSE(fs::exists(name));
}

// A symbolic link is deleted as itself: its target keeps its content and its
// permissions, and a dangling link goes too.
TEST_F(TcShellTest, DeleteFileForcedRemovesALinkAndNeverTouchesItsTarget) {
  const std::string target = dir_ + "/target.txt";
  std::ofstream(target) << "data";
  ASSERT_EQ(chmod(target.c_str(), 0444), 0);
  const std::string links[] = {dir_ + "/to-target", dir_ + "/dangling"};
  ASSERT_EQ(symlink(target.c_str(), links[0].c_str()), 0);
  ASSERT_EQ(symlink((dir_ + "/gone").c_str(), links[1].c_str()), 0);
  for (const std::string& link : links) {
    SCOPED_TRACE(link);
    EXPECT_TRUE(TcShell::DeleteFileForced(link));
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0);
  }
  struct stat st {};
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
}

TEST_F(TcShellTest, FailedDeletionPutsTheAttributesBack) {
  // A directory cannot be deleted as a file: the deletion fails after the
  // attributes were cleared, and they must be restored.
  const std::string name = dir_ + "/adir";
  ASSERT_EQ(mkdir(name.c_str(), 0751), 0);
  ASSERT_EQ(chmod(name.c_str(), 0751), 0);
  EXPECT_FALSE(TcShell::DeleteFileForced(name));
  struct stat st {};
  ASSERT_EQ(stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0751u);
}

TEST_F(TcShellTest, IsDirectoryWritableOnAWritableDirectoryLeavesNothingBehind) {
  EXPECT_TRUE(TcShell::IsDirectoryWritable(dir_));
  EXPECT_TRUE(IsEmptyDir(dir_));
}

TEST_F(TcShellTest, IsDirectoryWritableOnAMissingDirectoryIsFalseAndTouchesNothing) {
  const std::string missing = dir_ + "/missing";
  EXPECT_FALSE(TcShell::IsDirectoryWritable(missing));
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_TRUE(IsEmptyDir(dir_));
}

TEST_F(TcShellTest, IsDirectoryWritableIsFalseWhereNoFileCanBeMade) {
  EXPECT_FALSE(TcShell::IsDirectoryWritable("/proc"));  // not writable, not even for root
  const std::string file = dir_ + "/plain-file";
  std::ofstream(file) << "x";
  EXPECT_FALSE(TcShell::IsDirectoryWritable(file));  // a file is no directory
}

TEST(LoadedLibraries, ExistsOnlyBetweenStartAndShutdown) {
  ShutdownCommonUnit();
  EXPECT_EQ(LoadedLibraries(), nullptr);
  StartCommonUnit();
  ASSERT_NE(LoadedLibraries(), nullptr);
  EXPECT_EQ(LoadedLibraries()->Count(), 0);
  ShutdownCommonUnit();
  EXPECT_EQ(LoadedLibraries(), nullptr);
  ShutdownCommonUnit();  // twice is harmless
}

TEST(LoadedLibraries, ShutdownReleasesEveryLoadedLibrary) {
  const char* library = "libsqlite3.so.0";  // not otherwise loaded by this test program
  ASSERT_EQ(dlopen(library, RTLD_LAZY | RTLD_NOLOAD), nullptr) << "already loaded";
  StartCommonUnit();
  void* handle = dlopen(library, RTLD_LAZY);
  ASSERT_NE(handle, nullptr) << dlerror();
  LoadedLibraries()->AddObject("sqlite", LibraryHandleObject(handle));
  LoadedLibraries()->AddObject("never loaded", nullptr);  // a null handle is skipped
  EXPECT_EQ(LibraryHandle(LoadedLibraries()->Objects(0)), handle);
  ShutdownCommonUnit();
  EXPECT_EQ(LoadedLibraries(), nullptr);
  EXPECT_EQ(dlopen(library, RTLD_LAZY | RTLD_NOLOAD), nullptr) << "still loaded";
}

}  // namespace
}  // namespace tersify
