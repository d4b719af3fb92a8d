#pragma once
// The tds-test-server program serving a SQLite file, as a child process of
// the test: it can be frozen (SIGSTOP: a server that stops answering) and
// killed (SIGKILL: a connection lost mid-pass), which a server in the test's
// own process cannot be.

#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace tersify::testing {

class TdsServerProcess {
 public:
  // Starts the server on a free port of 127.0.0.1 and waits (bounded) until it
  // listens; raises std::runtime_error when it does not.
  // extra_arguments go to the program as they are ("--product-version", "11.0.2100.60").
  explicit TdsServerProcess(const std::string& database_file,
                            const std::vector<std::string>& extra_arguments = {});
  ~TdsServerProcess();

  int Port() const { return port_; }
  // tersify's connection arguments for this server.
  std::vector<std::string> ConnectionArguments() const;

  // What the server has logged so far, one line per request ("tm commit
  // and begin", ...).
  std::string Log() const { return process_->Err(); }

  void Freeze();
  void Thaw();
  void Kill();

 private:
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
};

}  // namespace tersify::testing
