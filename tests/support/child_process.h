#pragma once
// A program run as a child process: standard input from /dev/null, standard
// output and error into files of its own scratch folder, signalled and waited
// for with bounded waits. The child is killed and reaped when the object goes.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tersify::testing {

struct ChildEnvironment {
  std::vector<std::pair<std::string, std::string>> set;
  std::vector<std::string> unset;
};

class ChildProcess {
 public:
  // Starts program with args; raises std::runtime_error when it cannot start.
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const ChildEnvironment& environment = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // Sends a signal, unless the child has already been reaped.
  void Signal(int signal_number);
  // True until the child has ended (reaps it when it has).
  bool Running();
  // Waits at most limit for the end; true when the child ended.
  bool WaitFor(std::chrono::milliseconds limit);

  // After the end: the exit code, or -1 when a signal ended the child.
  int ExitCode() const { return exit_code_; }
  // After the end: the signal that ended the child, 0 when it exited.
  int EndSignal() const { return end_signal_; }
  // A description of the end for failure messages ("exit 1", "signal 9", "running").
  std::string EndDescription() const;

  // What the child has written so far.
  std::string Out() const;
  std::string Err() const;

 private:
  void Reap(int status);

  pid_t pid_ = -1;
  bool ended_ = false;
  int exit_code_ = -1;
  int end_signal_ = 0;
  std::string folder_;
};

// Asks condition every few milliseconds until it holds or limit has passed;
// returns its last answer.
bool PollUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

// The whole content of a file, empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);

}  // namespace tersify::testing
