#pragma once
// Runs a command on a temporary file that holds the given text, for a test
// that hands what it wrote to another program (a JSON parser, a shell). A
// header of its own: the suites built for Windows use it too, without the
// rest of the shared fixtures.

#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

namespace tersify::testing {

// What `command <file>` prints on standard output (its standard error
// dropped), with the file holding text; nothing when the file could not be
// written or the command failed.
inline std::optional<std::string> OutputOnTemporaryFile(const std::string& command, const std::string& text) {
  char path[] = "/tmp/tersify-test-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) return std::nullopt;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  std::optional<std::string> out;
  const std::string line = command + " " + path + " 2>/dev/null";
  if (std::FILE* pipe = written ? ::popen(line.c_str(), "r") : nullptr) {
    std::string read;
    char buffer[512];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) read.append(buffer, n);
    if (::pclose(pipe) == 0) out = read;
  }
  ::unlink(path);
  return out;
}

}  // namespace tersify::testing
