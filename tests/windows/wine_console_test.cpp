// The Windows console program under Wine, held to the Linux program's
// contract: the same standard output (line ends aside: the C runtime's text
// mode writes CR LF), the same exit codes and the same stored bytes, on SQLite
// files and through ODBC (Wine's odbc32 hands the calls to the host's
// unixODBC and FreeTDS) against the TDS test server.
//
// Run by scripts/windows.sh --test, which sets TERSIFY_WINDOWS_EXE (the .exe),
// TERSIFY_LINUX_EXE (the Linux program) and WINEPREFIX.

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/tds_server_process.h"

namespace tersify::testing {
namespace {

namespace fs = std::filesystem;

std::string Required(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) throw std::runtime_error(std::string(name) + " is not set: run scripts/windows.sh --test");
  return value;
}

struct ProgramRun {
  std::string out, err;
  int exit_code = -1;
  std::string told;  // for failure messages: the command, how it ended, what it wrote
};

// Everything a run can tell about itself, for a failure message: an empty
// standard output says nothing of why it is empty.
std::ostream& operator<<(std::ostream& os, const ProgramRun& run) { return os << run.told; }

// Standard output as the program wrote it before the C runtime's text mode
// put a CR before every LF (the usage text's own CR LF then reads CR CR LF).
std::string Lf(const std::string& text) {
  std::string result;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) result += text[i];
  return result;
}

ProgramRun Finish(ChildProcess& child, const std::string& what, const std::vector<std::string>& args) {
  std::string command = what;
  for (const std::string& arg : args) command += " " + arg;
  const auto started = std::chrono::steady_clock::now();
  const bool ended = child.WaitFor(std::chrono::seconds(120));
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  ProgramRun run{child.Out(), child.Err(), child.ExitCode(), {}};
  std::ostringstream told;
  told << "\n" << command << "\n  " << child.EndDescription() << " after " << seconds << " s; standard output "
       << run.out.size() << " bytes, standard error " << run.err.size() << " bytes"
       << (run.err.empty() ? std::string() : ":\n" + run.err);
  run.told = told.str();
  if (!ended) throw std::runtime_error(command + " did not end within 120 s" + run.told);
  return run;
}

// tersify.exe under Wine, in the prefix scripts/windows.sh made; standard
// output with its line ends as written. Wine's own error messages (a DLL that
// does not load, a page fault, a server it cannot reach) go to standard error
// with the program's, so that a run that failed in Wine says so.
ProgramRun RunWindows(const std::vector<std::string>& args, const ChildEnvironment& environment = {}) {
  Required("WINEPREFIX");
  std::vector<std::string> wine_args{Required("TERSIFY_WINDOWS_EXE")};
  wine_args.insert(wine_args.end(), args.begin(), args.end());
  ChildEnvironment env = environment;
  env.set.emplace_back("WINEDEBUG", "-all,err+all");
  env.unset.emplace_back("DISPLAY");
  env.unset.emplace_back("WAYLAND_DISPLAY");
  ChildProcess child("/usr/bin/wine", wine_args, env);
  return Finish(child, "wine tersify.exe", args);
}

ProgramRun RunLinux(const std::vector<std::string>& args, const ChildEnvironment& environment = {}) {
  ChildEnvironment env = environment;
  env.unset.emplace_back("DISPLAY");
  env.unset.emplace_back("WAYLAND_DISPLAY");
  ChildProcess child(Required("TERSIFY_LINUX_EXE"), args, env);
  return Finish(child, "tersify", args);
}

// A Linux path as the Windows program names it: Wine's drive Z: is the root.
std::string WindowsPath(const std::string& path) {
  std::string result = "Z:" + fs::absolute(path).string();
  for (char& c : result)
    if (c == '/') c = '\\';
  return result;
}

class Database {
 public:
  explicit Database(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("cannot open " + path);
  }
  ~Database() { sqlite3_close(db_); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void Exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      const std::string text = message ? message : "?";
      sqlite3_free(message);
      throw std::runtime_error(text);
    }
  }
  void Insert(int id, const std::string& value) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db_, "insert into reports(id, data) values (?, ?)", -1, &stmt, nullptr);
    sqlite3_bind_int(stmt, 1, id);
    sqlite3_bind_blob(stmt, 2, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) throw std::runtime_error("insert failed");
  }
  std::map<int, std::string> Values() {
    std::map<int, std::string> values;
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db_, "select id, data from reports", -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, 1));
      values[sqlite3_column_int(stmt, 0)] = std::string(bytes ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(stmt, 1)));
    }
    sqlite3_finalize(stmt);
    return values;
  }

 private:
  sqlite3* db_ = nullptr;
};

// A scratch folder with a SQLite file of report values: 24 long, compressible
// ones of different lengths and 3 of 100 bytes or less, which stay plain.
class WineConsole : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("tersify-wine-" + std::to_string(random()));
    fs::create_directories(dir_);
    original_ = File("original.db");
    Database db(original_);
    db.Exec("create table reports (id integer primary key, data blob)");
    std::mt19937 words(7);
    for (int id = 1; id <= 27; ++id) {
      std::string value;
      const size_t length = id <= 3 ? 40 + id * 20 : 150 + static_cast<size_t>(id) * 997;
      while (value.size() < length) value += "report line " + std::to_string(words() % 50) + "; ";
      value.resize(length);
      db.Insert(id, value);
    }
    plain_ = db.Values();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string File(const std::string& name) const { return (dir_ / name).string(); }
  std::string Copy(const std::string& name) const {
    fs::copy_file(original_, File(name));
    return File(name);
  }
  static std::vector<std::string> Args(std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  }
  static std::vector<std::string> Target() { return {"/TABLE=reports", "/FIELD=data", "/KEY=id"}; }

  fs::path dir_;
  std::string original_;
  std::map<int, std::string> plain_;
};

const char kCompressed[] = "Command completed successfully, 24 records processed, 3 records skipped\n";

TEST_F(WineConsole, CompressesASqliteFileToTheBytesTheLinuxProgramStores) {
  const std::string by_windows = Copy("windows.db"), by_linux = Copy("linux.db");
  const ProgramRun on_windows = RunWindows(Args({"/c", "/GUI=0", "/IP=sqlite", "/DB=" + WindowsPath(by_windows)}, Target()));
  const ProgramRun on_linux = RunLinux(Args({"/c", "/GUI=0", "/IP=sqlite", "/DB=" + by_linux}, Target()));
  EXPECT_EQ(Lf(on_windows.out), kCompressed) << on_windows;
  EXPECT_EQ(on_windows.exit_code, 0) << on_windows;
  ASSERT_EQ(Lf(on_linux.out), kCompressed) << on_linux;

  const std::map<int, std::string> stored = Database(by_windows).Values();
  EXPECT_EQ(stored, Database(by_linux).Values()) << "the two programs stored different bytes";
  ASSERT_EQ(stored.size(), plain_.size());
  for (const auto& [id, value] : stored) {
    if (id <= 3)
      EXPECT_EQ(value, plain_.at(id)) << "a short value was rewritten, id " << id;
    else
      EXPECT_LT(value.size(), plain_.at(id).size()) << "id " << id << " was not compressed";
  }
}

TEST_F(WineConsole, DecompressesThroughOdbcAndTheTdsTestServer) {
  const std::string file = Copy("served.db");
  ASSERT_EQ(RunLinux(Args({"/c", "/GUI=0", "/IP=sqlite", "/DB=" + file}, Target())).exit_code, 0);
  ProgramRun on_windows;
  {
    TdsServerProcess server(file);
    on_windows = RunWindows(Args(Args({"/d", "/GUI=0"}, server.ConnectionArguments()), Target()),
                         ChildEnvironment{{{"TERSIFY_ODBC_DRIVER", "FreeTDS"}}, {}});
  }
  EXPECT_EQ(Lf(on_windows.out), "Command completed successfully, 24 records processed, 3 records skipped\n")
      << on_windows;
  EXPECT_EQ(on_windows.exit_code, 0) << on_windows;
  EXPECT_EQ(Database(file).Values(), plain_) << "the values read back are not the original ones";
}

// The estimate's time depends on the machine; everything before it must match.
std::string WithoutMinutes(const std::string& text) {
  return std::regex_replace(text, std::regex("about [0-9.]+ minutes"), "about N minutes");
}

TEST_F(WineConsole, VerifyAndEstimateSayWhatTheLinuxProgramSays) {
  const std::string file = Copy("checked.db");
  ASSERT_EQ(RunLinux(Args({"/c", "/GUI=0", "/IP=sqlite", "/DB=" + file}, Target())).exit_code, 0);
  Database(file).Exec("update reports set data = substr(data, 1, 16) || x'00' where id = 9");  // damaged
  for (const char* command : {"/verify", "/estimate"}) {
    SCOPED_TRACE(command);
    const ProgramRun on_windows = RunWindows(Args({command, "/GUI=0", "/IP=sqlite", "/DB=" + WindowsPath(file)}, Target()));
    const ProgramRun on_linux = RunLinux(Args({command, "/GUI=0", "/IP=sqlite", "/DB=" + file}, Target()));
    ASSERT_FALSE(on_linux.out.empty()) << on_linux;
    EXPECT_EQ(WithoutMinutes(Lf(on_windows.out)), WithoutMinutes(on_linux.out)) << on_windows;
    EXPECT_EQ(on_windows.exit_code, on_linux.exit_code) << on_windows;
  }
}

struct ContractCase {
  const char* title;
  std::vector<std::string> args;  // "{db}" stands for the SQLite file
};

void PrintTo(const ContractCase& c, std::ostream* os) { *os << c.title; }

class WineContract : public WineConsole, public ::testing::WithParamInterface<ContractCase> {};

// Usage and error paths: standard output and the exit code are the contract.
TEST_P(WineContract, StandardOutputAndExitCodeAreTheLinuxProgramsOnes) {
  const std::string file = Copy("contract.db");
  std::vector<std::string> for_windows, for_linux;
  for (const std::string& arg : GetParam().args) {
    const size_t at = arg.find("{db}");
    for_windows.push_back(at == std::string::npos ? arg : arg.substr(0, at) + WindowsPath(file));
    for_linux.push_back(at == std::string::npos ? arg : arg.substr(0, at) + file);
  }
  const ProgramRun on_windows = RunWindows(for_windows);
  const ProgramRun on_linux = RunLinux(for_linux);
  EXPECT_EQ(Lf(on_windows.out), on_linux.out) << on_windows;
  EXPECT_EQ(on_windows.exit_code, on_linux.exit_code) << on_windows;
  EXPECT_NE(on_linux.exit_code, 0);
}

INSTANTIATE_TEST_SUITE_P(
    UsageAndErrors, WineContract,
    ::testing::Values(
        ContractCase{"MissingCommand", {"/GUI=0"}},
        ContractCase{"MissingFieldname", {"/c", "/GUI=0", "/IP=sqlite", "/DB={db}", "/TABLE=reports"}},
        ContractCase{"MissingTablename", {"-d", "/GUI=0", "/IP=sqlite", "/DB={db}", "/FIELD=data"}},
        ContractCase{"NoSuchFile", {"/c", "/GUI=0", "/IP=sqlite", "/DB={db}.missing", "/TABLE=t", "/FIELD=f"}},
        ContractCase{"NoSuchTable", {"/compress", "/GUI=0", "/IP=sqlite", "/DB={db}", "/TABLE=nothere", "/FIELD=f"}},
        ContractCase{"BadThreads", {"/c", "/GUI=0", "/IP=sqlite", "/DB={db}", "/THREADS=0"}}),
    [](const ::testing::TestParamInfo<ContractCase>& info) { return std::string(info.param.title); });

// A wrong password and a closed port through ODBC: the fixed line on standard
// output, the reason on standard error, exit code 1.
TEST_F(WineConsole, ConnectionFailuresThroughOdbcAreExplained) {
  const std::string file = Copy("login.db");
  const ChildEnvironment freetds{{{"TERSIFY_ODBC_DRIVER", "FreeTDS"}, {"TERSIFY_LOGIN_TIMEOUT", "5"}}, {}};
  int closed_port = 0;
  {
    TdsServerProcess server(file);
    closed_port = server.Port();
    std::vector<std::string> args = server.ConnectionArguments();
    for (std::string& arg : args)
      if (arg.rfind("/P=", 0) == 0) arg = "/P=wrong";
    const ProgramRun on_windows = RunWindows(Args(Args({"/c", "/GUI=0"}, args), Target()), freetds);
    EXPECT_EQ(Lf(on_windows.out).rfind("Unable to connect - Missing or incorrect database params\r\n", 0), 0u)
        << on_windows;
    EXPECT_NE(on_windows.err.find("login failed for user 'tersify'"), std::string::npos) << on_windows;
    EXPECT_EQ(on_windows.exit_code, 1) << on_windows;
  }
  // The server is gone: nothing listens on its port any more.
  const ProgramRun on_windows = RunWindows(
      Args({"/c", "/GUI=0", "/IP=127.0.0.1," + std::to_string(closed_port), "/DB=x", "/U=u", "/P=p"}, Target()),
      freetds);
  EXPECT_EQ(Lf(on_windows.out).rfind("Unable to connect - Missing or incorrect database params\r\n", 0), 0u)
      << on_windows;
  EXPECT_NE(on_windows.err.find("nothing listens on 127.0.0.1:" + std::to_string(closed_port)), std::string::npos)
      << on_windows;
  EXPECT_EQ(on_windows.exit_code, 1) << on_windows;
}

}  // namespace
}  // namespace tersify::testing
