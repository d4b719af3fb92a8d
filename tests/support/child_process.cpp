#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tersify::testing {

namespace {

std::string ScratchFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tersify-child-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a scratch folder for a child");
  return pattern;
}

}  // namespace

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const ChildEnvironment& environment)
    : folder_(ScratchFolder()) {
  const std::string out = folder_ + "/out", err = folder_ + "/err";
  // Everything the child needs is prepared before fork: after it, only
  // async-signal-safe calls until exec.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool dropped = false;
    for (const std::string& u : environment.unset) dropped = dropped || u == name;
    for (const auto& s : environment.set) dropped = dropped || s.first == name;
    if (!dropped) env_strings.push_back(entry);
  }
  for (const auto& s : environment.set) env_strings.push_back(s.first + "=" + s.second);
  std::vector<char*> envp;
  for (std::string& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int n = open("/dev/null", O_RDONLY);
    if (o < 0 || e < 0 || n < 0) _exit(127);
    dup2(o, 1);
    dup2(e, 2);
    dup2(n, 0);
    // The child starts with default signal handling, whatever the test runner set.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !ended_) {
    kill(pid_, SIGKILL);
    kill(pid_, SIGCONT);  // a stopped child ends too
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  unlink((folder_ + "/out").c_str());
  unlink((folder_ + "/err").c_str());
  rmdir(folder_.c_str());
}

void ChildProcess::Reap(int status) {
  ended_ = true;
  if (WIFEXITED(status)) exit_code_ = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) end_signal_ = WTERMSIG(status);
}

void ChildProcess::Signal(int signal_number) {
  if (pid_ > 0 && !ended_) kill(pid_, signal_number);
}

bool ChildProcess::Running() {
  if (ended_) return false;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) Reap(status);
  return !ended_;
}

bool ChildProcess::WaitFor(std::chrono::milliseconds limit) {
  return PollUntil([this] { return !Running(); }, limit);
}

std::string ChildProcess::EndDescription() const {
  if (!ended_) return "still running";
  if (end_signal_ != 0) return "ended by signal " + std::to_string(end_signal_);
  return "exit " + std::to_string(exit_code_);
}

std::string ChildProcess::Out() const { return ReadWholeFile(folder_ + "/out"); }
std::string ChildProcess::Err() const { return ReadWholeFile(folder_ + "/err"); }

bool PollUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace tersify::testing
