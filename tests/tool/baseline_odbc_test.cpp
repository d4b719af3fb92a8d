// The benchmarks' yardstick through ODBC: bench_baseline's odbc-compress and
// odbc-decompress against the TDS test server, on a few rows of every kind,
// read back from the SQLite file and decoded with zlib. And bench_measure,
// which the benchmark scripts time every run with.

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/provider_matrix.h"
#include "tests/support/tds_server_process.h"
#include "tests/tool/program_runner.h"

namespace tersify::testing {
namespace {

bool OdbcAvailable() {
  const std::vector<std::string> providers = AvailableProviders();
  return std::find(providers.begin(), providers.end(), "odbc") != providers.end();
}

// Adds rows beside the generated ones: a value too short to rewrite, one that
// does not compress and a NULL.
void AddOddRows(const std::string& file) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> guard(db, sqlite3_close);
  std::mt19937 random(7);
  std::string noise(5000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  sqlite3_stmt* raw = nullptr;
  // 100 bytes compress well, but are too short to be rewritten.
  const std::string short_value(100, 'a');
  ASSERT_EQ(sqlite3_prepare_v2(db, "insert into tqz_reports values ('short', ?), ('noise', ?), ('empty', null)", -1,
                               &raw, nullptr),
            SQLITE_OK);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> insert(raw, sqlite3_finalize);
  sqlite3_bind_blob(raw, 1, short_value.data(), static_cast<int>(short_value.size()), SQLITE_STATIC);
  sqlite3_bind_blob(raw, 2, noise.data(), static_cast<int>(noise.size()), SQLITE_STATIC);
  ASSERT_EQ(sqlite3_step(raw), SQLITE_DONE) << sqlite3_errmsg(db);
}

// bench_baseline's switches for the server: --server HOST,PORT --database D --user U --password P.
std::vector<std::string> BaselineArguments(const TdsServerProcess& server) {
  const std::pair<const char*, const char*> switches[] = {
      {"/IP=", "--server"}, {"/DB=", "--database"}, {"/U=", "--user"}, {"/P=", "--password"}};
  std::vector<std::string> out;
  for (const std::string& argument : server.ConnectionArguments())
    for (const auto& [prefix, name] : switches)
      if (argument.rfind(prefix, 0) == 0) out.insert(out.end(), {name, argument.substr(std::string(prefix).size())});
  return out;
}

// The program's one line: every row read, the count it rewrote.
void ExpectSummary(const RunResult& run, int rows, int rewritten) {
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(std::regex_match(run.out, std::regex("rows " + std::to_string(rows) + " rewritten " +
                                                   std::to_string(rewritten) + " seconds [0-9]+\\.[0-9]{3}\n")))
      << run.out;
}

std::map<std::string, std::string> Stored(const std::string& file) {
  return AllValues(file, "select acReport, acReportData from tqz_reports");
}

// Compressing in one mode (autocommit, or one transaction), then
// decompressing in the other.
class BaselineOdbc : public ::testing::TestWithParam<bool> {};

TEST_P(BaselineOdbc, CompressesThenRestoresEveryValueThroughTheServer) {
  if (!OdbcAvailable()) GTEST_SKIP() << "no ODBC driver for the TDS test server";
  const bool compress_in_transaction = GetParam();
  TempDir dir;
  const std::string file = dir.File("reports.db");
  const int generated = 6;
  ASSERT_EQ(RunProgram(TERSIFY_BASELINE_EXE, {"make", file, "--rows", std::to_string(generated), "--size", "70000"})
                .exit_code,
            0);
  AddOddRows(file);
  const std::map<std::string, std::string> original = Stored(file);
  ASSERT_EQ(original.size(), static_cast<size_t>(generated + 3));

  std::vector<std::string> compress = {"odbc-compress"};
  std::vector<std::string> decompress = {"odbc-decompress"};
  (compress_in_transaction ? compress : decompress).push_back("--transaction");
  {
    TdsServerProcess server(file);
    ExpectSummary(RunProgram(TERSIFY_BASELINE_EXE, compress + BaselineArguments(server)), generated + 3, generated);
  }
  const std::map<std::string, std::string> compressed = Stored(file);
  for (const auto& [key, stored] : compressed) {
    const bool odd = key == "short" || key == "noise" || key == "empty";
    EXPECT_EQ(HasEnvelopeHeader(stored), !odd) << key;
    if (!odd) {
      EXPECT_LT(stored.size(), original.at(key).size()) << key;
    }
    EXPECT_TRUE(PlainOf(stored) == original.at(key)) << key << " does not decode to its value";
  }

  {
    TdsServerProcess server(file);
    ExpectSummary(RunProgram(TERSIFY_BASELINE_EXE, decompress + BaselineArguments(server)), generated + 3,
                  generated);
  }
  const std::map<std::string, std::string> restored = Stored(file);
  ASSERT_EQ(restored.size(), original.size());
  for (const auto& [key, stored] : restored)
    EXPECT_TRUE(stored == original.at(key)) << key << " is not its value again";
}

INSTANTIATE_TEST_SUITE_P(Modes, BaselineOdbc, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "CompressInOneTransaction" : "CompressInAutocommit";
                         });

TEST(BaselineOdbc, FailsWithTheDriversWordsWhenTheServerRefusesTheLogin) {
  if (!OdbcAvailable()) GTEST_SKIP() << "no ODBC driver for the TDS test server";
  TempDir dir;
  const std::string file = dir.File("reports.db");
  ASSERT_EQ(RunProgram(TERSIFY_BASELINE_EXE, {"make", file, "--rows", "2"}).exit_code, 0);
  TdsServerProcess server(file);
  std::vector<std::string> arguments = BaselineArguments(server);
  arguments.back() = "wrong";
  const RunResult run = RunProgram(TERSIFY_BASELINE_EXE, std::vector<std::string>{"odbc-compress"} + arguments);
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("bench_baseline: "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Login failed"), std::string::npos) << run.err;
}

TEST(BenchMeasure, ReportsTheCommandsTimesAndMemoryAndPassesOnItsExitCode) {
  TempDir dir;
  const std::string report = dir.File("report.txt");
  // The shell holds 30 MB in a variable (the peak) and the pipe burns some CPU.
  const RunResult run = RunProgram(
      TERSIFY_MEASURE_EXE,
      {report, "sh", "-c", "x=$(head -c 30000000 /dev/zero | tr '\\0' x); printf %s \"$x\" | wc -c; exit 3"});
  EXPECT_EQ(run.exit_code, 3) << run.err;
  EXPECT_EQ(run.out, "30000000\n");
  std::map<std::string, double> values;
  std::istringstream lines(ReadWhole(report));
  std::string name;
  double value = 0;
  while (lines >> name >> value) values[name] = value;
  ASSERT_EQ(values.size(), 4u) << ReadWhole(report);
  EXPECT_GT(values["wall"], 0);
  EXPECT_GT(values["user"] + values["system"], 0);
  EXPECT_GE(values["peak_kib"], 30000000 / 1024);
  EXPECT_LT(values["peak_kib"], 1024 * 1024);
}

TEST(BenchMeasure, SaysSoWhenTheCommandCannotStart) {
  TempDir dir;
  const RunResult run = RunProgram(TERSIFY_MEASURE_EXE, {dir.File("report.txt"), dir.File("no-such-program")});
  EXPECT_EQ(run.exit_code, 127);
  EXPECT_NE(run.err.find("cannot start"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("report.txt")));
}

}  // namespace
}  // namespace tersify::testing
