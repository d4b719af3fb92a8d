// Passwords kept off the command line, through the real program: /P=- on
// standard input, TERSIFY_PASSWORD, and the prompt on a terminal, against
// the TDS test server (whose login checks the password).

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/provider_matrix.h"
#include "tests/tool/program_runner.h"

namespace tersify::testing {
namespace {

using ::testing::HasSubstr;

const std::string kSummary = "Command completed successfully, 1 records processed, 0 records skipped";

std::unique_ptr<TestDatabase> FilledDatabase(const std::string& provider) {
  auto db = std::make_unique<TestDatabase>(provider);
  db->ExecDirect("create table tqz_reports (acReport varchar(20) primary key, acReportData blob)");
  db->ExecDirect("insert into tqz_reports values ('R1', zeroblob(5000))");
  return db;
}

// Every provider: a /P=- that finds standard input ended stops the run before
// it connects, and changes nothing.
class PasswordOnInput : public ::testing::TestWithParam<std::string> {};

TEST_P(PasswordOnInput, AnEndedInputStopsTheRunBeforeConnecting) {
  const std::unique_ptr<TestDatabase> db = FilledDatabase(GetParam());
  const RunResult r = RunTersifyWithInput({"/GUI=0", "/c", "/P=-"}, {});
  // The connection arguments come first: /P=- wins as the later one.
  const RunResult given = RunTersifyWithInput(ConnectionArgs(*db) + std::vector<std::string>{"/GUI=0", "/c", "/P=-"}, {});
  for (const RunResult* run : {&r, &given}) {
    EXPECT_EQ(run->exit_code, 1);
    EXPECT_EQ(run->out, "");
    EXPECT_THAT(run->err, HasSubstr("/P=- expects the password on a line of standard input"));
  }
  EXPECT_EQ(db->StoredBytes("select length(acReportData) from tqz_reports"), "5000");
}

INSTANTIATE_TEST_SUITE_P(Providers, PasswordOnInput, ::testing::ValuesIn(AvailableProviders()), ProviderName());

class PasswordSources : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ProviderAvailable("odbc"))
      GTEST_SKIP() << "FreeTDS's ODBC driver is not installed";
    db_ = FilledDatabase("odbc");
  }
  // The connection arguments without /P=.
  std::vector<std::string> Args() const {
    const providers::ConnectionSettings& s = db_->Settings();
    return {"/GUI=0", "/c", "/IP=" + s.server + "," + std::to_string(s.port), "/U=" + s.username,
            "/DB=" + s.database};
  }
  const std::string& Password() const { return db_->Settings().password; }
  bool Compressed() const {
    return db_->StoredBytes("select substr(acReportData, 1, 8) from tqz_reports") == "PKZ#900Z";
  }
  void ExpectLoginFailed(const RunResult& r) const {
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_THAT(r.err, HasSubstr("login failed for user '" + db_->Settings().username + "'"));
    EXPECT_FALSE(Compressed());
  }

  std::unique_ptr<TestDatabase> db_;
};

TEST_F(PasswordSources, TheEnvironmentGivesAPasswordLeftOut) {
  ExpectLoginFailed(RunTersifyWithEnv(Args(), {"TERSIFY_PASSWORD=wrong" + Password()}));
  // A password on the command line wins over the environment.
  ExpectLoginFailed(RunTersifyWithEnv(Args() + std::vector<std::string>{"/P=wrong"}, {"TERSIFY_PASSWORD=" + Password()}));
  const RunResult r = RunTersifyWithEnv(Args(), {"TERSIFY_PASSWORD=" + Password()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, kSummary + "\n");
  EXPECT_TRUE(Compressed());
}

TEST_F(PasswordSources, ADashReadsItFromStandardInput) {
  ExpectLoginFailed(RunTersifyWithInput(Args() + std::vector<std::string>{"/P=-"}, ProgramInput{"wrong\n", "", ""}));
  // One line, with a CR LF end as a Windows editor writes it; what follows is not read.
  const RunResult r = RunTersifyWithInput(Args() + std::vector<std::string>{"/P=-"}, ProgramInput{Password() + "\r\nmore\n", "", ""});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, kSummary + "\n");
  EXPECT_TRUE(Compressed());
}

TEST_F(PasswordSources, WithoutATerminalNobodyIsAsked) {
  const RunResult r = RunTersifyWithEnv(Args());
  ExpectLoginFailed(r);
  EXPECT_THAT(r.err, ::testing::Not(HasSubstr("Password for")));
}

// On a terminal the console asks, and what is typed is not shown.
TEST_F(PasswordSources, OnATerminalTheConsoleAsksWithoutEcho) {
  if (!PseudoTerminalAvailable()) GTEST_SKIP() << "no pseudo-terminal";
  const std::string prompt = "Password for " + db_->Settings().username + ": ";
  const RunResult r = RunTersifyWithInput(Args(), ProgramInput{"", prompt, Password() + "\n"}, Terminal::Both);
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_THAT(r.out, HasSubstr(prompt));
  EXPECT_THAT(r.out, HasSubstr(kSummary));
  EXPECT_THAT(r.out, ::testing::Not(HasSubstr(Password()))) << "the password was echoed";
  EXPECT_TRUE(Compressed());
}

}  // namespace
}  // namespace tersify::testing
