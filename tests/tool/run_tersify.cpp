#include "tests/tool/run_tersify.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tersify::testing {
namespace {

std::string ReadWhole(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

RunResult RunTersify(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("tersify-connect-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string out = (dir / "out").string(), err = (dir / "err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv = {const_cast<char*>(TERSIFY_EXE)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> entries;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name == "QT_QPA_PLATFORM") continue;
    if (std::any_of(env.begin(), env.end(), [&](const std::string& x) { return x.substr(0, x.find('=')) == name; }))
      continue;
    entries.push_back(entry);
  }
  entries.insert(entries.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (std::string& e : entries) envp.push_back(e.data());
  envp.push_back(nullptr);

  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, TERSIFY_EXE, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start tersify");
  RunResult r;
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
  r.took = std::chrono::steady_clock::now() - start;
  r.out = ReadWhole(out);
  r.err = ReadWhole(err);
  std::filesystem::remove_all(dir);
  return r;
}

}  // namespace tersify::testing
