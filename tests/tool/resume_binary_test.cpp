// The time limit, the start key and the account of a run as users meet them:
// the real program run as a child process against every provider, its
// lines, its exit code, the resume line pasted into a shell, and the JSON
// account read back by a JSON parser.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/db/layer_fixture.h"
#include "tests/support/provider_matrix.h"
#include "tests/support/temporary_file_output.h"
#include "tests/tool/program_runner.h"

namespace tersify::testing {
namespace {

std::string ValueFor(const std::string& key) {
  std::string text;
  while (text.size() < 1500) text += "<TfrxMemoView Name=\"" + key + "\" Left=\"12\"/>\r\n";
  return text;
}

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

// What a command prints on standard output, run by bash.
std::string Bash(const std::string& script) {
  return OutputOnTemporaryFile("/bin/bash", script).value_or("<failed>");
}

bool PythonAvailable() { return std::system("python3 -c pass > /dev/null 2>&1") == 0; }

// The members of the JSON object in file, each as Python writes its value
// back ("completed" with its quotes, 12, null, ["a"]); empty when the file
// is no JSON object.
std::map<std::string, std::string> Account(const std::string& file) {
  const std::string out = Bash(
      "python3 -c 'import json,sys\n"
      "d = json.load(open(sys.argv[1], encoding=\"utf-8\"))\n"
      "assert isinstance(d, dict)\n"
      "for k, v in d.items(): print(k + \"=\" + json.dumps(v, ensure_ascii=False))' " + file + "\n");
  std::map<std::string, std::string> members;
  if (out == "<failed>") return members;
  size_t start = 0;
  while (start < out.size()) {
    const size_t end = out.find('\n', start);
    const std::string line = out.substr(start, end - start);
    const size_t equals = line.find('=');
    if (equals != std::string::npos) members[line.substr(0, equals)] = line.substr(equals + 1);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return members;
}

// A key as a JSON string, for the keys of these tests.
std::string JsonText(const std::string& key) {
  std::string out = "\"";
  for (char c : key) out += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
  return out + "\"";
}

// The first line of text that starts with prefix, without it; empty when none.
std::string LineAfter(const std::string& text, const std::string& prefix) {
  const size_t at = text.find(prefix);
  if (at == std::string::npos) return {};
  const size_t end = text.find('\n', at);
  return text.substr(at + prefix.size(), end == std::string::npos ? std::string::npos : end - at - prefix.size());
}

class ResumeBinaryTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { db_ = std::make_unique<TestDatabase>(GetParam()); }

  void CreateTable(const std::string& key_type, const std::vector<std::string>& keys) {
    db_->ExecDirect("create table t (k " + key_type + " primary key, v blob)");
    for (const std::string& key : keys)
      db_->ExecDirect("insert into t values (" + Quoted(key) + ", " + HexLiteral(ValueFor(key)) + ")");
  }
  RunResult Run(const std::vector<std::string>& args) const {
    return RunTersify(std::vector<std::string>{"/GUI=0", "/TABLE=t", "/FIELD=v", "/KEY=k"} + ConnectionArgs(*db_) +
                      args);
  }
  std::map<std::string, std::string> Stored() const { return AllValues(db_->FilePath(), "select k, v from t"); }

  std::unique_ptr<TestDatabase> db_;
  TempDir dir_;
};

TEST_P(ResumeBinaryTest, BadValuesEndTheRunWithExitCodeOneBeforeAnyRowIsWritten) {
  CreateTable("integer", {"1", "2", "3"});
  const std::string before = ReadWhole(db_->FilePath());
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/MINUTES=x", "Invalid value for /MINUTES=: 'x'"},
      {"/minutes=0", "Invalid value for /MINUTES=: '0'"},
      {"/UNTIL=25:00", "Invalid value for /UNTIL=: '25:00'"},
      {"/FROM=abc", "Invalid value for /FROM=: 'abc' is not a whole number"},
      {"/FROM=1.5", "Invalid value for /FROM=: '1.5' is not a whole number"},
  };
  for (const auto& [argument, error] : cases) {
    const RunResult r = Run({"/c", argument});
    EXPECT_EQ(r.exit_code, 1) << argument;
    EXPECT_EQ(r.out, "") << argument;
    EXPECT_NE(r.err.find(error), std::string::npos) << argument << ": " << r.err;
    EXPECT_EQ(r.err.find("Resume with"), std::string::npos) << r.err;
  }
  EXPECT_EQ(ReadWhole(db_->FilePath()), before);
}

TEST_P(ResumeBinaryTest, ACompletedPassFromAKeyAndItsAccount) {
  CreateTable("nvarchar(40)", {"a", "b b", "c'c", "d", "Ø e"});
  const std::string report = dir_.File("account.json");
  const RunResult r = Run({"/c", "/FROM=b b", "/REPORT=" + report});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "Command completed successfully, 3 records processed, 0 records skipped\n");
  const std::map<std::string, std::string> stored = Stored();
  EXPECT_FALSE(HasEnvelopeHeader(stored.at("a")));
  EXPECT_FALSE(HasEnvelopeHeader(stored.at("b b")));
  for (const char* key : {"c'c", "d", "Ø e"}) EXPECT_TRUE(HasEnvelopeHeader(stored.at(key))) << key;

  if (!PythonAvailable()) GTEST_SKIP() << "no python3 to read the account with";
  EXPECT_FALSE(std::ifstream(report + ".tmp").good());
  std::map<std::string, std::string> account = Account(report);
  ASSERT_FALSE(account.empty()) << ReadWhole(report);
  EXPECT_EQ(account["command"], "\"compress\"");
  EXPECT_EQ(account["table"], "\"t\"");
  EXPECT_EQ(account["field"], "\"v\"");
  EXPECT_EQ(account["key"], "\"k\"");
  EXPECT_EQ(account["end"], "\"completed\"");
  EXPECT_EQ(account["records_processed"], "3");
  EXPECT_EQ(account["records_skipped"], "0");
  EXPECT_EQ(account["first_key"], "\"c'c\"");
  EXPECT_EQ(account["last_key"], "\"Ø e\"");
  EXPECT_EQ(account["error"], "null");
  EXPECT_EQ(account["unidentified_keys"], "[]");
  EXPECT_EQ(account["bytes_read"], std::to_string(ValueFor("c'c").size() + ValueFor("d").size() + ValueFor("Ø e").size()));
  EXPECT_GT(std::stoll(account["bytes_written"]), 0);
  EXPECT_LT(std::stoll(account["bytes_written"]), std::stoll(account["bytes_read"]));
  EXPECT_EQ(account["start_time"].size(), std::string("\"2026-12-10T14:03:16+00:00\"").size()) << account["start_time"];
  EXPECT_EQ(account.count("seconds"), 1u);
  // Never a password.
  if (!db_->Settings().password.empty()) {
    EXPECT_EQ(ReadWhole(report).find(db_->Settings().password), std::string::npos);
  }
}

TEST_P(ResumeBinaryTest, ATimeLimitThatIsUpStopsWithExitCodeTwo) {
  CreateTable("nvarchar(40)", {"a", "b"});
  const std::string report = dir_.File("stopped.json");
  // Up before the first row: connecting takes longer than 60 microseconds.
  const RunResult r = Run({"/c", "/MINUTES=0.000001", "/REPORT=" + report});
  EXPECT_EQ(r.exit_code, 2) << r.err;
  EXPECT_EQ(r.out, "Stopped at the time limit, 0 records processed, 0 records skipped\n");
  // No row was handled: nothing to resume after.
  EXPECT_EQ(r.err.find("Resume with"), std::string::npos) << r.err;
  if (!PythonAvailable()) GTEST_SKIP() << "no python3 to read the account with";
  std::map<std::string, std::string> account = Account(report);
  EXPECT_EQ(account["end"], "\"stopped\"");
  EXPECT_EQ(account["records_processed"], "0");
  EXPECT_EQ(account["last_key"], "null");
}

TEST_P(ResumeBinaryTest, AFailedPassPrintsTheKeyToResumeWithAndTheShellHandsItBack) {
  const std::vector<std::string> keys = {"a", "it's here", "say \"hi\"", "Zürich", "zz"};
  CreateTable("nvarchar(40)", keys);
  // A value that names an algorithm this tool does not read ends the pass there.
  const std::string bzip = std::string("PKZ#900B") + std::string(8, '\0') + std::string(300, 'x');
  db_->ExecDirect("update t set v = " + HexLiteral(bzip) + " where k = 'zz'");
  const std::string report = dir_.File("failed.json");
  const RunResult failed = Run({"/c", "/REPORT=" + report});
  ASSERT_EQ(failed.exit_code, 1) << failed.out << failed.err;
  EXPECT_NE(failed.out.find("BZIP compression not defined"), std::string::npos) << failed.out;
  const std::string argument = LineAfter(failed.err, "Resume with ");
  ASSERT_NE(argument, "") << failed.err;
  EXPECT_NE(failed.err.find("4 records processed, 0 records skipped before the error"), std::string::npos)
      << failed.err;
  // Pasted into a shell, the line gives /FROM= one of the keys rewritten: the
  // last in the server's order, before the damaged one.
  const std::string from = Bash("printf %s " + argument + "\n");
  ASSERT_EQ(from.rfind("/FROM=", 0), 0u) << from;
  const std::string last = from.substr(6);
  EXPECT_NE(std::find(keys.begin(), keys.end() - 1, last), keys.end() - 1) << last;
  for (const auto& [key, value] : Stored()) EXPECT_EQ(HasEnvelopeHeader(value), key != "zz") << key;
  if (PythonAvailable()) {
    std::map<std::string, std::string> account = Account(report);
    EXPECT_EQ(account["end"], "\"failed\"");
    EXPECT_NE(account["error"].find("BZIP compression not defined"), std::string::npos) << account["error"];
    EXPECT_EQ(account["records_processed"], "4");
    EXPECT_EQ(account["last_key"], JsonText(last));
  }

  // The damaged row set right, the run resumed with that argument rewrites it
  // alone, and reads no row before it.
  db_->ExecDirect("update t set v = " + HexLiteral(ValueFor("zz")) + " where k = 'zz'");
  const RunResult resumed = Run({"/c", from});
  EXPECT_EQ(resumed.exit_code, 0) << resumed.err;
  EXPECT_EQ(resumed.out, "Command completed successfully, 1 records processed, 0 records skipped\n");
  for (const auto& [key, value] : Stored()) EXPECT_EQ(PlainOf(value), ValueFor(key)) << key;
  for (const auto& [key, value] : Stored()) EXPECT_TRUE(HasEnvelopeHeader(value)) << key;
}

TEST_P(ResumeBinaryTest, VerifyAndEstimateWriteTheirAccountToo) {
  CreateTable("integer", {"1", "2", "3", "4"});
  if (!PythonAvailable()) GTEST_SKIP() << "no python3 to read the account with";
  const std::string verify_report = dir_.File("verify.json");
  const RunResult verify = Run({"/verify", "/FROM=2", "/REPORT=" + verify_report});
  EXPECT_EQ(verify.exit_code, 0) << verify.err;
  EXPECT_EQ(verify.out, "Verified 2 records: 0 compressed, 2 plain, 0 damaged\n");
  std::map<std::string, std::string> account = Account(verify_report);
  EXPECT_EQ(account["command"], "\"verify\"");
  EXPECT_EQ(account["end"], "\"completed\"");
  EXPECT_EQ(account["records_processed"], "2");
  EXPECT_EQ(account["plain_records"], "2");
  EXPECT_EQ(account["damaged_records"], "0");

  const std::string estimate_report = dir_.File("estimate.json");
  const RunResult estimate = Run({"/estimate", "/REPORT=" + estimate_report});
  EXPECT_EQ(estimate.exit_code, 0) << estimate.err;
  account = Account(estimate_report);
  EXPECT_EQ(account["command"], "\"estimate\"");
  EXPECT_EQ(account["records"], "4");
  EXPECT_EQ(account["stored_bytes"], std::to_string(4 * ValueFor("1").size()));
}

INSTANTIATE_TEST_SUITE_P(Providers, ResumeBinaryTest, ::testing::ValuesIn(AvailableProviders()), ProviderName());

}  // namespace
}  // namespace tersify::testing
