// Why a connection failed, as the program tells it: standard output keeps the
// fixed message and the usage text, standard error names the reason. Each case
// runs the real program as a child process, against a SQLite file or the TDS
// test server (or a socket that plays a broken server).

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/provider_matrix.h"
#include "tests/tool/program_runner.h"
#include "tool/console/command_line.h"

namespace tersify::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string kUnableToConnect = "Unable to connect - Missing or incorrect database params";
// Never to be seen in any output, whatever fails.
const std::string kSecret = "Sec;ret}Pw0rd";

std::string UsageWith(const std::string& message) { return message + "\r\n\r\n" + UsageText + "\n"; }

// A listening socket on 127.0.0.1 that accepts nothing: the kernel completes
// the TCP handshake, and no byte ever comes back.
class SilentListener {
 public:
  SilentListener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 8) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length) != 0)
      throw std::runtime_error("cannot listen on 127.0.0.1");
    port_ = ntohs(a.sin_port);
  }
  ~SilentListener() { ::close(fd_); }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  int Port() const { return port_; }
  int Fd() const { return fd_; }

 private:
  int fd_;
  int port_ = 0;
};

// A peer that answers every connection with a web server's reply and hangs up.
class WrongProtocolPeer {
 public:
  WrongProtocolPeer()
      : thread_([this] {
          while (!stop_) {
            const int client = ::accept4(listener_.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            char request[512];
            (void)!::recv(client, request, sizeof request, 0);
            const char reply[] = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
            (void)!::send(client, reply, sizeof reply - 1, MSG_NOSIGNAL);
            ::close(client);
          }
        }) {}
  ~WrongProtocolPeer() {
    stop_ = true;
    ::shutdown(listener_.Fd(), SHUT_RDWR);  // ends the blocked accept
    thread_.join();
  }
  int Port() const { return listener_.Port(); }

 private:
  SilentListener listener_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

int ClosedPort() {
  SilentListener taken;
  return taken.Port();  // free again once the listener is gone
}

void ExpectFailedConnect(const RunResult& r, const std::string& reason) {
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, UsageWith(kUnableToConnect));
  EXPECT_THAT(r.err, HasSubstr("Connection failed: "));
  EXPECT_THAT(r.err, HasSubstr(reason));
  EXPECT_THAT(r.out + r.err, Not(HasSubstr(kSecret)));
}

// ---- SQLite -----------------------------------------------------------------

class SqliteConnectFailure : public ::testing::Test {
 protected:
  void SetUp() override { db_ = std::make_unique<TestDatabase>("sqlite"); }
  std::unique_ptr<TestDatabase> db_;
};

TEST_F(SqliteConnectFailure, AMissingFileIsNamed) {
  const std::string missing = db_->FilePath() + ".missing";
  ExpectFailedConnect(RunTersifyWithEnv({"/GUI=0", "/c", "/IP=sqlite", "/DB=" + missing}),
                      "Cannot open SQLite database '" + missing + "': the file does not exist");
  EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(SqliteConnectFailure, AFileThatIsNoDatabaseIsNamed) {
  std::ofstream(db_->FilePath(), std::ios::binary | std::ios::trunc) << std::string(4096, 'x');
  ExpectFailedConnect(RunTersifyWithEnv({"/GUI=0", "/c", "/IP=sqlite", "/DB=" + db_->FilePath()}),
                      "Cannot open SQLite database '" + db_->FilePath() + "': the file is not a database");
}

TEST_F(SqliteConnectFailure, ALockHeldLongerThanTheTimeoutIsNamedWithTheWait) {
  db_->ExecDirect("create table tqz_reports (acReport varchar(20) primary key, acReportData blob)");
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(db_->FilePath().c_str(), &holder), SQLITE_OK);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> guard(holder, sqlite3_close);
  ASSERT_EQ(sqlite3_exec(holder, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
  const RunResult r =
      RunTersifyWithEnv({"/GUI=0", "/c", "/IP=sqlite", "/DB=" + db_->FilePath()}, {"TERSIFY_LOGIN_TIMEOUT=1"});
  ExpectFailedConnect(r, "the database file is locked by another process; gave up after waiting 1 s");
  EXPECT_GE(r.took, std::chrono::milliseconds(900));
}

// ---- SQL Server through the odbc provider ---------------------------------

bool OdbcAvailable() {
  const std::vector<std::string> list = AvailableProviders();
  return std::find(list.begin(), list.end(), "odbc") != list.end();
}

class OdbcConnectFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OdbcAvailable()) GTEST_SKIP() << "FreeTDS's ODBC driver is not installed";
    db_ = std::make_unique<TestDatabase>("odbc");
  }
  std::string Address(int port) const { return "/IP=127.0.0.1," + std::to_string(port); }
  // The test server's connection values with the changes asked for.
  std::vector<std::string> Args(const std::string& address, const std::string& user, const std::string& password,
                                const std::string& database) const {
    return {"/GUI=0", "/c", address, "/U=" + user, "/P=" + password, "/DB=" + database};
  }
  std::vector<std::string> Args() const {
    const providers::ConnectionSettings& s = db_->Settings();
    return Args(Address(s.port), s.username, s.password, s.database);
  }
  std::unique_ptr<TestDatabase> db_;
};

TEST_F(OdbcConnectFailure, AWrongPasswordIsALoginFailureForTheUser) {
  const providers::ConnectionSettings& s = db_->Settings();
  ExpectFailedConnect(RunTersifyWithEnv(Args(Address(s.port), s.username, kSecret, s.database)),
                      "login failed for user '" + s.username + "'");
}

TEST_F(OdbcConnectFailure, AnUnknownDatabaseIsNamed) {
  const providers::ConnectionSettings& s = db_->Settings();
  ExpectFailedConnect(RunTersifyWithEnv(Args(Address(s.port), s.username, s.password, "no_such_db")),
                      "the database 'no_such_db' does not exist");
}

TEST_F(OdbcConnectFailure, NothingListeningIsNamedWithHostAndPort) {
  const int port = ClosedPort();
  ExpectFailedConnect(RunTersifyWithEnv(Args(Address(port), "sa", kSecret, "db"), {"TERSIFY_LOGIN_TIMEOUT=3"}),
                      "nothing listens on 127.0.0.1:" + std::to_string(port));
}

// FreeTDS says "Unknown host machine name." without naming it (.invalid never resolves).
TEST_F(OdbcConnectFailure, AnUnknownHostIsNamed) {
  ExpectFailedConnect(RunTersifyWithEnv(Args("/IP=no-such-host.invalid,1433", "sa", kSecret, "db"),
                                        {"TERSIFY_LOGIN_TIMEOUT=3"}),
                      "the host 'no-such-host.invalid' is not known");
}

TEST_F(OdbcConnectFailure, AServerThatNeverAnswersTimesOutAfterTheLoginTimeout) {
  SilentListener silent;
  const RunResult r = RunTersifyWithEnv(Args(Address(silent.Port()), "sa", kSecret, "db"), {"TERSIFY_LOGIN_TIMEOUT=2"});
  ExpectFailedConnect(r, "the server did not answer within 2 s");
  EXPECT_LT(r.took, std::chrono::seconds(20));
}

TEST_F(OdbcConnectFailure, APeerOfAnotherProtocolIsNamed) {
  WrongProtocolPeer web;
  ExpectFailedConnect(RunTersifyWithEnv(Args(Address(web.Port()), "sa", kSecret, "db"), {"TERSIFY_LOGIN_TIMEOUT=3"}),
                      "does not speak the server's protocol");
}

// The password stays out of every message, the driver trace included.
TEST_F(OdbcConnectFailure, ThePasswordAppearsInNoMessageOrTrace) {
  const providers::ConnectionSettings& s = db_->Settings();
  ASSERT_FALSE(s.password.empty());
  for (const std::string& database : {s.database, std::string("no_such_db")}) {
    const RunResult r = RunTersifyWithEnv(Args(Address(s.port), s.username, kSecret, database),
                                   {"TERSIFY_ODBC_TRACE=1", "TERSIFY_ODBC_OPTIONS=APP=tersify-test"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_THAT(r.err, HasSubstr("odbc: SQLDriverConnect"));  // the trace was on
    EXPECT_THAT(r.out + r.err, Not(HasSubstr(kSecret)));
    EXPECT_THAT(r.out + r.err, Not(HasSubstr("Sec;ret")));
  }
  // A connection that succeeds traces no password either.
  db_->ExecDirect("create table tqz_reports (acReport varchar(20) primary key, acReportData blob)");
  const RunResult ok = RunTersifyWithEnv(Args(), {"TERSIFY_ODBC_TRACE=1"});
  EXPECT_EQ(ok.exit_code, 0) << ok.err;
  EXPECT_THAT(ok.err, HasSubstr("odbc: SQLDriverConnect -> SQL_SUCCESS"));
  EXPECT_THAT(ok.out + ok.err, Not(HasSubstr(s.password)));
}

}  // namespace
}  // namespace tersify::testing
