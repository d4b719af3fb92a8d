// The real tersify program, run as a child process.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tool/console/command_line.h"
#include "tool/console/program_info.h"

namespace tersify {
namespace {

struct RunResult {
  std::string out, err;
  int exitCode = -1;
};

std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the program with args, standard output and error going to files;
// preload names a library for LD_PRELOAD. The exit code is -1 when the program
// died of a signal.
RunResult RunTersify(const std::vector<std::string>& args, const char* lang = nullptr,
                     const char* preload = nullptr) {
  char dir[] = "/tmp/tersify-run-XXXXXX";
  if (!mkdtemp(dir)) return {};
  const std::string out = std::string(dir) + "/out", err = std::string(dir) + "/err";
  pid_t pid = fork();
  if (pid == 0) {
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int n = open("/dev/null", O_RDONLY);
    if (o < 0 || e < 0 || n < 0) _exit(127);
    dup2(o, 1);
    dup2(e, 2);
    dup2(n, 0);
    if (lang) setenv("LANG", lang, 1);
    if (preload) setenv("LD_PRELOAD", preload, 1);
    // Console paths never need a display: the child gets none to find.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(TERSIFY_EXE));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(TERSIFY_EXE, argv.data());
    _exit(127);
  }
  RunResult r;
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  r.out = ReadFile(out);
  r.err = ReadFile(err);
  unlink(out.c_str());
  unlink(err.c_str());
  rmdir(dir);
  return r;
}

struct BinaryCase {
  const char* title;
  std::vector<std::string> args;
  const char* lang;
  const char* err;  // standard error: the arguments named
};

void PrintTo(const BinaryCase& c, std::ostream* os) { *os << c.title; }

class MissingCommand : public ::testing::TestWithParam<BinaryCase> {};

// Standard output keeps its text; unknown arguments are named on standard error too.
TEST_P(MissingCommand, PrintsMessageAndUsageAndExitsWithOne) {
  const RunResult r = RunTersify(GetParam().args, GetParam().lang);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Missing command\r\n\r\n" + UsageText + "\n");
  EXPECT_EQ(r.err, GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    Console, MissingCommand,
    ::testing::Values(BinaryCase{"GuiZero", {"/GUI=0"}, nullptr, ""},
                      // Neither switch matches: /comp is no whole switch, --c has two dashes.
                      BinaryCase{"NoSwitchMatches", {"-gui=0", "/comp", "--c"}, nullptr,
                                 "Unknown argument '/comp' (did you mean /compress?)\n"
                                 "Unknown argument '--c' (did you mean /c?)\n"},
                      BinaryCase{"UnknownWordsNamed", {"hello", "/GUI=0", "/x=1"}, nullptr,
                                 "Unknown argument 'hello'\nUnknown argument '/x=1'\n"},
                      BinaryCase{"CLocale", {"/gui=0", "/COMP"}, "C",
                                 "Unknown argument '/COMP' (did you mean /compress?)\n"},
                      BinaryCase{"Utf8Locale", {"/gui=0", "/COMP"}, "C.UTF-8",
                                 "Unknown argument '/COMP' (did you mean /compress?)\n"}),
    [](const auto& info) { return std::string(info.param.title); });

// Help and the version are answered without connecting: the connection
// arguments here would fail, and a command beside them does not run.
TEST(TersifyBinary, HelpPrintsUsageAndEverySwitchAndExitsWithZero) {
  for (const char* help : {"--help", "-h", "/?", "/HELP"}) {
    SCOPED_TRACE(help);
    const RunResult r = RunTersify({help, "/c", "/IP=sqlite", "/DB=/nonexistent/db"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, HelpText());
    EXPECT_EQ(r.err, "");
  }
  const RunResult interactive = RunTersify({"-h"});
  EXPECT_EQ(interactive.exitCode, 0);
  EXPECT_EQ(interactive.out, HelpText());
}

TEST(TersifyBinary, VersionNamesTheLibrariesAndExitsWithZero) {
  const RunResult r = RunTersify({"--version", "/GUI=0", "/d"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.rfind(std::string("tersify ") + TERSIFY_PROJECT_VERSION + "\n", 0), 0u) << r.out;
  for (const char* library : {"\nzlib ", "\nSQLite ", "\nODBC"})
    EXPECT_NE(r.out.find(library), std::string::npos) << library << " in " << r.out;
#ifdef TERSIFY_TEST_WINDOW
  EXPECT_NE(r.out.find("\nQt 6."), std::string::npos) << r.out;
#endif
  EXPECT_EQ(r.err, "");
}

// Interactive mode without a command would open the window after connecting:
// an unknown argument is refused before either.
TEST(TersifyBinary, AnUnknownArgumentInInteractiveModeIsRefusedBeforeConnecting) {
  const RunResult r = RunTersify({"/TABEL=x"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Unknown argument '/TABEL=x' (did you mean /TABLE=?)\n");
}

// Interactive mode without connection values: the connection fails, the
// console's login prompt counts as cancelled, and the message box text goes to
// standard output.
TEST(TersifyBinary, WithoutArgumentsCannotConnectAndExitsWithOne) {
  const RunResult r = RunTersify({});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Unable to connect - Missing or incorrect database params\r\n\r\n" + UsageText + "\n");
  // Why, on standard error: no server was named.
  EXPECT_EQ(r.err, "Connection failed: Invalid server name ''\n");
}

// An exception of no class the program knows (here thrown by a preloaded
// SQLite open) ends the run through the last-resort handler: its type on
// standard error and exit code 1, not an abort without a word.
TEST(TersifyBinary, ExceptionOfAnUnknownClassIsReportedWithExitCodeOne) {
  char file[] = "/tmp/tersify-any-XXXXXX";
  const int fd = mkstemp(file);
  ASSERT_GE(fd, 0);
  close(fd);
  const RunResult r =
      RunTersify({"/GUI=0", "/c", "/IP=sqlite", std::string("/DB=") + file}, nullptr, TERSIFY_THROWING_PRELOAD);
  unlink(file);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("int"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tersify
