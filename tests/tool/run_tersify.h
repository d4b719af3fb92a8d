#pragma once
// The real tersify program run as a child process with extra environment
// entries: its standard output, standard error, exit code and running time.

#include <chrono>
#include <string>
#include <vector>

namespace tersify::testing {

struct RunResult {
  std::string out, err;
  int exit_code = -1;
  std::chrono::steady_clock::duration took{};
};

// Runs tersify with args and extra NAME=value environment entries (replacing
// inherited ones of the same name); standard input is /dev/null and no
// display is offered.
RunResult RunTersify(const std::vector<std::string>& args, const std::vector<std::string>& env = {});

}  // namespace tersify::testing
