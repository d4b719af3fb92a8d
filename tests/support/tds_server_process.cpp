#include "tests/support/tds_server_process.h"

#include <signal.h>

#include <chrono>
#include <stdexcept>

namespace tersify::testing {

namespace {

const char kDatabase[] = "tersify_test";
const char kUser[] = "tersify";
const char kPassword[] = "Tds;Pass}word1";

// The port from the server's "listening on 127.0.0.1:N" line, 0 before it.
int ListeningPort(const std::string& log) {
  const std::string prefix = "listening on 127.0.0.1:";
  const size_t at = log.find(prefix);
  if (at == std::string::npos) return 0;
  const size_t end = log.find('\n', at);
  if (end == std::string::npos) return 0;
  return std::stoi(log.substr(at + prefix.size(), end - at - prefix.size()));
}

}  // namespace

TdsServerProcess::TdsServerProcess(const std::string& database_file,
                                   const std::vector<std::string>& extra_arguments) {
  std::vector<std::string> arguments = {"--port", "0", "--database-file", database_file, "--database",
                                        kDatabase, "--user", kUser, "--password", kPassword};
  arguments.insert(arguments.end(), extra_arguments.begin(), extra_arguments.end());
  process_ = std::make_unique<ChildProcess>(TDS_TEST_SERVER_EXE, arguments);
  PollUntil([this] { return ListeningPort(process_->Err()) != 0 || !process_->Running(); },
            std::chrono::seconds(20));
  port_ = ListeningPort(process_->Err());
  if (port_ == 0)
    throw std::runtime_error("tds-test-server did not start listening (" +
                             process_->EndDescription() + "): " + process_->Err());
}

TdsServerProcess::~TdsServerProcess() { Kill(); }

std::vector<std::string> TdsServerProcess::ConnectionArguments() const {
  return {"/IP=127.0.0.1," + std::to_string(port_), std::string("/DB=") + kDatabase,
          std::string("/U=") + kUser, std::string("/P=") + kPassword};
}

void TdsServerProcess::Freeze() { process_->Signal(SIGSTOP); }
void TdsServerProcess::Thaw() { process_->Signal(SIGCONT); }

void TdsServerProcess::Kill() {
  process_->Signal(SIGKILL);
  process_->Signal(SIGCONT);
  process_->WaitFor(std::chrono::seconds(10));
}

}  // namespace tersify::testing
