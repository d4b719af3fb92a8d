// How the odbc provider finds the reason of a failed connect: the PRELOGIN
// probe against the TDS test server in each encryption mode and against
// sockets that are no server, freetds.conf entries, and which encryption a
// connection asks for.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "client/providers/odbc/connect_failure.h"
#include "client/providers/odbc/connection_string.h"
#include "tests/support/provider_matrix.h"
#include "tests/support/tds_server/tds_test_server.h"

namespace tersify::providers::odbc {
namespace {

using testing::TdsTestServer;
using testing::TdsTlsOptions;
using testing::TestDatabase;
namespace tds = testing::tds;

// A listening socket on 127.0.0.1 that never accepts; its port, while it lives.
class Listener {
 public:
  Listener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 4) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length) != 0)
      throw std::runtime_error("cannot listen");
    port_ = ntohs(a.sin_port);
  }
  ~Listener() { ::close(fd_); }
  int Port() const { return port_; }

 private:
  int fd_;
  int port_ = 0;
};

class PreloginProbeTest : public ::testing::TestWithParam<std::pair<tds::Encryption, int>> {};

TEST_P(PreloginProbeTest, ReadsTheServersEncryptionAnswer) {
  TestDatabase file("sqlite");
  TdsTlsOptions tls;
  tls.encryption = GetParam().first;
  TdsTestServer server(file.FilePath(), "db", "u", "p", 0, nullptr, tls);
  const PreloginProbe probe = ProbePrelogin("127.0.0.1", server.Port(), 3);
  EXPECT_EQ(probe.outcome, PreloginProbe::Answered);
  EXPECT_EQ(probe.encryption, GetParam().second);
}

// The probe asks for the login only: "off" is not supported, "on" agrees, "required" insists.
INSTANTIATE_TEST_SUITE_P(Modes, PreloginProbeTest,
                         ::testing::Values(std::make_pair(tds::Encryption::Off, 0x02),
                                           std::make_pair(tds::Encryption::On, 0x00),
                                           std::make_pair(tds::Encryption::Required, 0x03)));

TEST(PreloginProbe, TellsSilenceFromNoServerAtAll) {
  int closed_port;
  {
    Listener silent;
    EXPECT_EQ(ProbePrelogin("127.0.0.1", silent.Port(), 1).outcome, PreloginProbe::NoAnswer);
    EXPECT_EQ(ProbeTcp("127.0.0.1", silent.Port(), 1), TcpProbe::Accepted);
    closed_port = silent.Port();
  }
  EXPECT_EQ(ProbePrelogin("127.0.0.1", closed_port, 1).outcome, PreloginProbe::NoConnection);
  EXPECT_EQ(ProbeTcp("127.0.0.1", closed_port, 1), TcpProbe::Refused);
  EXPECT_EQ(ProbeTcp("no-such-host.invalid", 1433, 1), TcpProbe::UnknownHost);
}

TEST(ExplainConnectFailure, LeavesAnErrorItCannotNameAsItWas) {
  const EMSError driver("[FreeTDS][SQL Server]Something unheard of", "HY000", 12345);
  const EMSError explained = ExplainConnectFailure(driver, ConnectTarget{});
  EXPECT_EQ(explained.Message(), driver.Message());
  EXPECT_EQ(explained.SQLState(), "HY000");
  EXPECT_EQ(explained.NativeError(), 12345);
}

TEST(ExplainConnectFailure, PutsTheReasonAboveTheDriversWordsAndKeepsStateAndNumber) {
  ConnectTarget t;
  t.user = "maint";
  const EMSError driver("[FreeTDS][SQL Server]Login failed for user 'maint'.", "42000", 18456);
  const EMSError explained = ExplainConnectFailure(driver, t);
  EXPECT_EQ(explained.Message(), "login failed for user 'maint'\n" + driver.Message());
  EXPECT_EQ(explained.SQLState(), "42000");
  EXPECT_EQ(explained.NativeError(), 18456);
}

TEST(FreeTdsConf, ASectionsEntryWinsOverGlobalAndNamesIgnoreCase) {
  const std::string file = std::filesystem::temp_directory_path() / ("freetds-" + std::to_string(::getpid()) + ".conf");
  std::ofstream(file) << "; a comment\n[global]\n\tca file = /etc/global.pem\n\ttds version = 7.4\n"
                      << "[Sql1]\n  Host = sql1.example.com\n  CA File = /etc/sql1.pem  \n[sql2]\n\tport = 1500\n";
  ::setenv("FREETDSCONF", file.c_str(), 1);
  EXPECT_EQ(FreeTdsConfEntry("sql1", "host"), "sql1.example.com");
  EXPECT_EQ(FreeTdsConfEntry("sql1", "ca file"), "/etc/sql1.pem");
  EXPECT_EQ(FreeTdsConfEntry("sql2", "ca file"), "/etc/global.pem");
  EXPECT_EQ(FreeTdsConfEntry("sql2", "host"), "");
  ::unsetenv("FREETDSCONF");
  std::filesystem::remove(file);
}

// ---- Which encryption a connection asks for ---------------------------------

TEST(ConnectionEncryption, TheLastPlaceThatSaysItWins) {
  ConnectionSettings s;
  s.server = "dsn:Accounts";
  ConnectionStringOptions o;
  std::map<std::string, std::string> dsn;
  o.data_source = [&dsn](const std::string&, const std::string& key) {
    auto it = dsn.find(key);
    return it == dsn.end() ? std::string() : it->second;
  };
  EXPECT_EQ(ConnectionEncryption(s, o), EncryptionDemand::DriverDefault);
  dsn["Encryption"] = "require";
  EXPECT_EQ(ConnectionEncryption(s, o), EncryptionDemand::Require);
  o.encrypt = "no";
  EXPECT_EQ(ConnectionEncryption(s, o), EncryptionDemand::Off);
  o.extra_attributes = "APP=x;Encrypt=strict";
  EXPECT_EQ(ConnectionEncryption(s, o), EncryptionDemand::Strict);
  s.specific_options = {"Encryption=request"};
  EXPECT_EQ(ConnectionEncryption(s, o), EncryptionDemand::Request);
}

}  // namespace
}  // namespace tersify::providers::odbc
