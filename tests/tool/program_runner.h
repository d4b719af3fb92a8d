#pragma once
// Running the real tersify program as a child process, and reading what it
// left in a test database: the helpers of the suites that meet the program as
// its users do.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/provider_matrix.h"

namespace tersify::testing {

struct RunResult {
  std::string out, err;
  int exit_code = -1;
  std::chrono::steady_clock::duration took{};  // from start to end
};

// The whole content of a file.
std::string ReadWhole(const std::string& name);

// A temporary directory under TMPDIR (else /tmp), removed with everything in it.
class TempDir {
 public:
  TempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tersify-tool-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Where the child's standard error and output go.
enum class Terminal {
  None,    // both to files
  Stderr,  // standard error to a pseudo-terminal, standard output to a file
  Both,    // both to one pseudo-terminal (out then holds everything, err is empty)
};

// What the child reads on standard input.
struct ProgramInput {
  // The bytes of a file; none (/dev/null) when empty.
  std::string text;
  // With Terminal::Both: standard input is the terminal too, and typed is
  // written to it once the child's output holds after.
  std::string after;
  std::string typed;
};

// Runs exe with args, standard input as input says (/dev/null by default),
// its output as terminal says, with extra NAME=value environment entries
// (replacing inherited ones of the same name). No display is offered to the child.
RunResult RunProgram(const char* exe, const std::vector<std::string>& args, Terminal terminal = Terminal::None,
                     const std::vector<std::string>& env = {}, const ProgramInput& input = {});

// Whether this machine can open a pseudo-terminal (some containers cannot).
bool PseudoTerminalAvailable();

// The tersify program of this build.
RunResult RunTersify(const std::vector<std::string>& args, Terminal terminal = Terminal::None);
// The same, with extra NAME=value environment entries.
RunResult RunTersifyWithEnv(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
// The same with standard input as input says.
RunResult RunTersifyWithInput(const std::vector<std::string>& args, const ProgramInput& input,
                              Terminal terminal = Terminal::None, const std::vector<std::string>& env = {});

// Every (key, value) of a two-column query, read straight from the SQLite file.
std::map<std::string, std::string> AllValues(const std::string& file, const std::string& sql);

// The stored value begins with a zlib envelope header.
bool HasEnvelopeHeader(const std::string& stored);

// The plain value of a stored value, decoding an envelope with zlib itself;
// bytes that do not decode are their own plain value.
std::string PlainOf(const std::string& stored);

// Connection arguments for a test database.
std::vector<std::string> ConnectionArgs(const TestDatabase& db);

// Connection arguments that cannot connect: a file that does not exist, or a wrong password.
std::vector<std::string> FailingConnectionArgs(const TestDatabase& db);

// a followed by b.
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b);

}  // namespace tersify::testing
