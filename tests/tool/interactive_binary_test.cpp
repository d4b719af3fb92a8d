// The real tersify program in interactive mode on a virtual X server (Xvfb):
// a command run with a display offers the login dialog when the connection
// values fail and shows its errors in message boxes; the same run without a
// display stays on the console. The dialogs are answered with real keystrokes
// (xdotool), as a user would.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tool/console/command_line.h"

namespace tersify {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kWindowTimeout = 30s;
constexpr auto kExitTimeout = 30s;

bool OnPath(const char* program) {
  return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Standard output of a shell command line.
std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

// A private X server for one test, on the first free display number.
class VirtualDisplay {
 public:
  VirtualDisplay() {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      const int quiet = open("/dev/null", O_WRONLY);
      if (quiet >= 0) {
        dup2(quiet, 1);
        dup2(quiet, 2);
      }
      const std::string fd = std::to_string(ready[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "1024x768x24",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(ready[1]);
    // Xvfb writes the display number once it accepts connections.
    std::string number;
    char c = 0;
    while (read(ready[0], &c, 1) == 1 && c != '\n') number += c;
    close(ready[0]);
    if (!number.empty()) name_ = ":" + number;
  }
  ~VirtualDisplay() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  const std::string& Name() const { return name_; }  // empty when Xvfb did not start

  // The id of the first visible window titled title, waiting for it; empty
  // when none appeared in time.
  std::string WaitForWindow(const std::string& title) const {
    const auto deadline = Clock::now() + kWindowTimeout;
    while (Clock::now() < deadline) {
      std::string id = Output("DISPLAY=" + name_ + " xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null");
      id = id.substr(0, id.find('\n'));
      if (!id.empty()) return id;
      std::this_thread::sleep_for(100ms);
    }
    return {};
  }
  // A key pressed while window has the focus.
  void PressKey(const std::string& window, const std::string& key) const {
    const std::string display = "DISPLAY=" + name_ + " ";
    // A focus or a key that does not arrive shows in what the window does next.
    [[maybe_unused]] const int focused =
        std::system((display + "xdotool windowfocus " + window + " >/dev/null 2>&1").c_str());
    std::this_thread::sleep_for(300ms);  // the focus reaches the dialog
    [[maybe_unused]] const int pressed = std::system((display + "xdotool key " + key + " >/dev/null 2>&1").c_str());
  }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

// The program running as a child, standard output and error in files.
class ProgramRun {
 public:
  // display empty: the child gets no window system to find.
  ProgramRun(const std::vector<std::string>& args, const std::string& display) {
    char dir[] = "/tmp/tersify-gui-run-XXXXXX";
    if (!mkdtemp(dir)) return;
    dir_ = dir;
    pid_ = fork();
    if (pid_ == 0) {
      const int o = open((dir_ + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e = open((dir_ + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int n = open("/dev/null", O_RDONLY);
      if (o < 0 || e < 0 || n < 0) _exit(127);
      dup2(o, 1);
      dup2(e, 2);
      dup2(n, 0);
      unsetenv("WAYLAND_DISPLAY");
      unsetenv("QT_QPA_PLATFORM");
      if (display.empty())
        unsetenv("DISPLAY");
      else
        setenv("DISPLAY", display.c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(TERSIFY_EXE)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(TERSIFY_EXE, argv.data());
      _exit(127);
    }
  }
  ~ProgramRun() {
    if (pid_ > 0 && exit_code_ == kRunning) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (!dir_.empty()) {
      unlink((dir_ + "/out").c_str());
      unlink((dir_ + "/err").c_str());
      rmdir(dir_.c_str());
    }
  }
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  // The exit code; -1 when the program did not end in time or died of a signal.
  int Wait() {
    const auto deadline = Clock::now() + kExitTimeout;
    while (exit_code_ == kRunning && Clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        break;
      }
      std::this_thread::sleep_for(50ms);
    }
    return exit_code_ == kRunning ? -1 : exit_code_;
  }
  std::string Out() const { return ReadFile(dir_ + "/out"); }
  std::string Err() const { return ReadFile(dir_ + "/err"); }

 private:
  static constexpr int kRunning = -2;
  pid_t pid_ = -1;
  int exit_code_ = kRunning;
  std::string dir_;
};

class InteractiveBinaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OnPath("Xvfb") || !OnPath("xdotool")) GTEST_SKIP() << "Xvfb and xdotool are needed (scripts/setup.sh)";
    display_ = std::make_unique<VirtualDisplay>();
    ASSERT_FALSE(display_->Name().empty()) << "Xvfb did not start";
    char file[] = "/dev/shm/tersify-gui-XXXXXX";
    const int fd = mkstemp(file);
    ASSERT_GE(fd, 0);
    close(fd);
    database_ = file;
    // A database without the table the pass is asked for.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(database_.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "create table other (id integer primary key)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  void TearDown() override {
    if (!database_.empty()) unlink(database_.c_str());
  }

  std::unique_ptr<VirtualDisplay> display_;
  std::string database_;
};

TEST_F(InteractiveBinaryTest, FailedConnectOffersTheLoginDialogAndItsCancelEndsQuietly) {
  const std::vector<std::string> args{"/c", "/IP=sqlite", "/DB=" + database_ + ".missing", "/TABLE=t",
                                      "/FIELD=f"};
  ProgramRun run(args, display_->Name());
  const std::string login = display_->WaitForWindow("Database Login");
  ASSERT_FALSE(login.empty()) << "no login dialog; standard output: " << run.Out();
  display_->PressKey(login, "Escape");
  // The user gave up: no usage text in a box, only a line on standard error.
  EXPECT_EQ(run.Wait(), 1);
  EXPECT_EQ(run.Out(), "");
  EXPECT_NE(run.Err().find("No connection"), std::string::npos) << run.Err();

  // The same run with the display gone: no prompt, the message on the console.
  ProgramRun console(args, "");
  EXPECT_EQ(console.Wait(), 1);
  EXPECT_EQ(console.Out(), "Unable to connect - Missing or incorrect database params\r\n\r\n" + UsageText + "\n");
}

TEST_F(InteractiveBinaryTest, PassErrorIsShownInAMessageBox) {
  const std::vector<std::string> args{"/c", "/IP=sqlite", "/DB=" + database_, "/TABLE=t", "/FIELD=f"};
  ProgramRun run(args, display_->Name());
  const std::string box = display_->WaitForWindow("Error");
  ASSERT_FALSE(box.empty()) << "no message box; standard output: " << run.Out();
  display_->PressKey(box, "Return");
  EXPECT_EQ(run.Wait(), 1);
  EXPECT_EQ(run.Out(), "");

  ProgramRun console(args, "");
  EXPECT_EQ(console.Wait(), 1);
  EXPECT_NE(console.Out().find("no such table"), std::string::npos) << console.Out();
}

}  // namespace
}  // namespace tersify
