// Connection details from an ODBC data source (/IP=dsn:<name>, odbc.ini named
// by ODBCINI) and extra driver attributes (TERSIFY_ODBC_OPTIONS), through the
// real program against the TDS test server.

#include <algorithm>
#include <filesystem>
#include <fstream>
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

const std::string kSummary = "Command completed successfully, ";

class OdbcDataSource : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ProviderAvailable("odbc"))
      GTEST_SKIP() << "FreeTDS's ODBC driver is not installed";
    db_ = std::make_unique<TestDatabase>("odbc");
    db_->ExecDirect("create table tqz_reports (acReport varchar(20) primary key, acReportData blob)");
    db_->ExecDirect("insert into tqz_reports values ('R1', zeroblob(5000)), ('R2', x'0102')");
    odbc_ini_ = db_->FilePath() + ".odbc.ini";
  }
  void TearDown() override {
    if (!odbc_ini_.empty()) std::filesystem::remove(odbc_ini_);
  }
  // A data source "TersifyTest" for the test server, on the given port, with
  // the given lines besides.
  void WriteDataSource(int port, const std::string& more = "") const {
    std::ofstream(odbc_ini_) << "[TersifyTest]\n"
                             << "Driver = FreeTDS\n"
                             << "Server = 127.0.0.1\n"
                             << "Port = " << port << "\n"
                             << "Database = " << db_->Settings().database << "\n"
                             << "TDS_Version = 7.4\n"
                             << more;
  }
  std::string Credentials(const std::string& password) const {
    return "UID = " + db_->Settings().username + "\nPWD = " + password + "\n";
  }
  RunResult Run(std::vector<std::string> args, std::vector<std::string> env = {}) const {
    env.push_back("ODBCINI=" + odbc_ini_);
    return RunTersifyWithEnv(args, env);
  }
  std::string User() const { return "/U=" + db_->Settings().username; }
  std::string Password() const { return "/P=" + db_->Settings().password; }

  std::unique_ptr<TestDatabase> db_;
  std::string odbc_ini_;
};

TEST_F(OdbcDataSource, ServerPortAndDatabaseComeFromTheDataSource) {
  WriteDataSource(db_->Settings().port);
  const RunResult r = Run({"/GUI=0", "/c", "/IP=dsn:TersifyTest", User(), Password()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, kSummary + "1 records processed, 1 records skipped\n");
  EXPECT_EQ(db_->StoredBytes("select substr(acReportData, 1, 8) from tqz_reports where acReport = 'R1'"),
            "PKZ#900Z");
}

// The driver reads neither UID nor PWD from odbc.ini; left out of the command
// line, the data source's own are used.
TEST_F(OdbcDataSource, AUserAndPasswordLeftOutComeFromTheDataSource) {
  WriteDataSource(db_->Settings().port, Credentials("wrong" + db_->Settings().password));
  const RunResult refused = Run({"/GUI=0", "/c", "/IP=dsn:TersifyTest"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_THAT(refused.err, HasSubstr("login failed for user '" + db_->Settings().username + "'"));
  // A password given on the command line wins over the data source's.
  const RunResult given = Run({"/GUI=0", "/c", "/IP=dsn:TersifyTest", Password()});
  EXPECT_EQ(given.exit_code, 0) << given.err;

  WriteDataSource(db_->Settings().port, Credentials(db_->Settings().password));
  const RunResult r = Run({"/GUI=0", "/d", "/IP=dsn:TersifyTest"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, kSummary + "1 records processed, 1 records skipped\n");
  EXPECT_EQ(db_->StoredBytes("select length(acReportData) from tqz_reports where acReport = 'R1'"), "5000");
}

TEST_F(OdbcDataSource, AGivenDatabaseWinsOverTheDataSourcesOwn) {
  WriteDataSource(db_->Settings().port);
  const RunResult r = Run({"/GUI=0", "/c", "/IP=dsn:TersifyTest", "/DB=other_db", User(), Password()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_THAT(r.err, HasSubstr("the database 'other_db' does not exist"));
}

TEST_F(OdbcDataSource, AnUnknownDataSourceIsReported) {
  WriteDataSource(db_->Settings().port);
  const RunResult r = Run({"/GUI=0", "/c", "/IP=dsn:NoSuchSource", User(), Password()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_THAT(r.err, HasSubstr("Connection failed: "));
  EXPECT_THAT(r.err, HasSubstr("NoSuchSource"));
}

// Extra attributes reach the driver and win over the data source: its port
// here is wrong, the one given in TERSIFY_ODBC_OPTIONS right.
TEST_F(OdbcDataSource, ExtraAttributesReachTheDriverAndWin) {
  WriteDataSource(1);
  const std::string port = std::to_string(db_->Settings().port);
  const RunResult refused = Run({"/GUI=0", "/c", "/IP=dsn:TersifyTest", User(), Password()},
                                {"TERSIFY_LOGIN_TIMEOUT=3"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_THAT(refused.err, HasSubstr("nothing listens on 127.0.0.1:1"));
  const RunResult r = Run({"/GUI=0", "/c", "/IP=dsn:TersifyTest", User(), Password()},
                          {"TERSIFY_ODBC_OPTIONS=Port=" + port + ";APP={tersify; test}"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, kSummary + "1 records processed, 1 records skipped\n");
}

}  // namespace
}  // namespace tersify::testing
