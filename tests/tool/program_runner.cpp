#include "tests/tool/program_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <pty.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

extern char** environ;

namespace tersify::testing {

std::string ReadWhole(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

namespace {

struct SpawnActions {
  SpawnActions() { posix_spawn_file_actions_init(&actions); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
  posix_spawn_file_actions_t actions;
};

}  // namespace

RunResult RunProgram(const char* exe, const std::vector<std::string>& args, Terminal terminal,
                     const std::vector<std::string>& env, const ProgramInput& input) {
  const bool stderr_on_terminal = terminal != Terminal::None;
  const bool typing = terminal == Terminal::Both && !input.after.empty();
  TempDir dir;
  const std::string out = dir.File("out"), err = dir.File("err"), in = dir.File("in");
  SpawnActions spawn;
  if (!input.text.empty()) {
    std::ofstream(in, std::ios::binary) << input.text;
    posix_spawn_file_actions_addopen(&spawn.actions, 0, in.c_str(), O_RDONLY, 0);
  } else if (!typing) {
    posix_spawn_file_actions_addopen(&spawn.actions, 0, "/dev/null", O_RDONLY, 0);
  }
  int master = -1, slave = -1;
  if (stderr_on_terminal) {
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    if (typing) posix_spawn_file_actions_adddup2(&spawn.actions, slave, 0);
    if (terminal == Terminal::Both) posix_spawn_file_actions_adddup2(&spawn.actions, slave, 1);
    else posix_spawn_file_actions_addopen(&spawn.actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&spawn.actions, slave, 2);
    posix_spawn_file_actions_addclose(&spawn.actions, slave);
    posix_spawn_file_actions_addclose(&spawn.actions, master);
  } else {
    posix_spawn_file_actions_addopen(&spawn.actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&spawn.actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }

  std::vector<char*> argv = {const_cast<char*>(exe)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // Without a display the program talks through the console, whatever Qt it was built with.
  auto named = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> entries;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = named(entry);
    if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name == "QT_QPA_PLATFORM") continue;
    if (std::any_of(env.begin(), env.end(), [&](const std::string& x) { return named(x) == name; })) continue;
    entries.push_back(entry);
  }
  entries.insert(entries.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (std::string& e : entries) envp.push_back(e.data());
  envp.push_back(nullptr);

  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, exe, &spawn.actions, nullptr, argv.data(), envp.data());
  RunResult r;
  if (stderr_on_terminal) {
    close(slave);
    if (rc == 0) {
      // Read until the child's end closes the terminal (EIO on Linux).
      char buffer[4096];
      bool typed = false;
      while (true) {
        // A child that waits for typing that never comes is ended, not waited for.
        pollfd ready{master, POLLIN, 0};
        if (typing && poll(&ready, 1, 60000) == 0) {
          kill(pid, SIGKILL);
          break;
        }
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0) {
          r.err.append(buffer, static_cast<size_t>(n));
          if (typing && !typed && r.err.find(input.after) != std::string::npos) {
            typed = true;
            if (write(master, input.typed.data(), input.typed.size()) != static_cast<ssize_t>(input.typed.size()))
              throw std::runtime_error("cannot type on the terminal");
          }
        } else if (n < 0 && errno == EINTR) {
          continue;
        } else {
          break;
        }
      }
    }
    close(master);
  }
  if (rc != 0) throw std::runtime_error(std::string("cannot start ") + exe + ": " + std::strerror(rc));
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
  r.took = std::chrono::steady_clock::now() - start;
  if (terminal == Terminal::Both) {
    r.out = std::move(r.err);
    r.err.clear();
  } else {
    r.out = ReadWhole(out);
  }
  if (!stderr_on_terminal) r.err = ReadWhole(err);
  return r;
}

bool PseudoTerminalAvailable() {
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return false;
  close(master);
  close(slave);
  return true;
}

RunResult RunTersify(const std::vector<std::string>& args, Terminal terminal) {
  return RunProgram(TERSIFY_EXE, args, terminal);
}

RunResult RunTersifyWithEnv(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  return RunProgram(TERSIFY_EXE, args, Terminal::None, env);
}

RunResult RunTersifyWithInput(const std::vector<std::string>& args, const ProgramInput& input, Terminal terminal,
                              const std::vector<std::string>& env) {
  return RunProgram(TERSIFY_EXE, args, terminal, env, input);
}

std::map<std::string, std::string> AllValues(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + file);
  }
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> guard(db, sqlite3_close);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
    throw std::runtime_error(std::string("cannot prepare: ") + sqlite3_errmsg(db));
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
  std::map<std::string, std::string> values;
  while (sqlite3_step(raw) == SQLITE_ROW) {
    const auto* key = reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
    const void* bytes = sqlite3_column_blob(raw, 1);
    const int size = sqlite3_column_bytes(raw, 1);
    values[key ? key : ""] = bytes ? std::string(static_cast<const char*>(bytes), static_cast<size_t>(size)) : "";
  }
  return values;
}

bool HasEnvelopeHeader(const std::string& stored) {
  return stored.size() >= 16 && stored.compare(0, 8, "PKZ#900Z") == 0;
}

std::string PlainOf(const std::string& stored) {
  if (!HasEnvelopeHeader(stored)) return stored;
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>(static_cast<unsigned char>(stored[8 + i])) << (8 * i);
  std::string plain(length, '\0');
  uLongf size = length;
  if (uncompress(reinterpret_cast<Bytef*>(plain.data()), &size, reinterpret_cast<const Bytef*>(stored.data() + 16),
                 static_cast<uLong>(stored.size() - 16)) != Z_OK || size == 0)
    return stored;
  plain.resize(size);
  return plain;
}

std::vector<std::string> ConnectionArgs(const TestDatabase& db) {
  const providers::ConnectionSettings& s = db.Settings();
  if (db.Provider() == "sqlite") return {"/IP=sqlite", "/DB=" + s.database};
  return {"/IP=" + s.server + "," + std::to_string(s.port), "/U=" + s.username, "/P=" + s.password,
          "/DB=" + s.database};
}

std::vector<std::string> FailingConnectionArgs(const TestDatabase& db) {
  const providers::ConnectionSettings& s = db.Settings();
  if (db.Provider() == "sqlite") return {"/IP=sqlite", "/DB=" + s.database + ".missing"};
  return {"/IP=" + s.server + "," + std::to_string(s.port), "/U=" + s.username, "/P=wrong" + s.password,
          "/DB=" + s.database};
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace tersify::testing
