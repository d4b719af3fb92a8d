// Encrypted connections through the real program. The console cases of
// startup_test run once more over TLS (provider "odbc-tls"); here: what
// travels the wire, encrypting the login only, certificate checks, and what
// each side refusing the other's wish looks like.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/provider_matrix.h"
#include "tests/support/tds_server/login.h"
#include "tests/support/tds_server/tds_test_server.h"
#include "tests/support/tds_server/tls.h"
#include "tests/tool/program_runner.h"

namespace tersify::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string kSummary = "Command completed successfully, ";
const std::string kUnableToConnect = "Unable to connect - Missing or incorrect database params";
// A value that must never be readable on the wire of an encrypted connection.
const std::string kSecretText = "CONFIDENTIAL-QUARTERLY-FIGURES ";

bool OdbcAvailable() {
  const std::vector<std::string> list = AvailableProviders();
  return std::find(list.begin(), list.end(), "odbc") != list.end();
}

// ASCII text as UTF-16LE, the way statement texts and login names travel.
std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

class TlsConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OdbcAvailable()) GTEST_SKIP() << "FreeTDS's ODBC driver is not installed";
  }
  // tqz_reports with three values of 3 KB holding the secret text.
  static void Fill(const TestDatabase& db) {
    db.ExecDirect("create table tqz_reports (acReport varchar(20) primary key, acReportData blob)");
    std::string value;
    while (value.size() < 3000) value += kSecretText;
    for (int i = 1; i <= 3; ++i)
      db.ExecDirect("insert into tqz_reports values ('R" + std::to_string(i) + "', cast('" + value + "' as blob))");
  }
  static std::vector<std::string> Args(const TestDatabase& db, std::vector<std::string> args) {
    const providers::ConnectionSettings& s = db.Settings();
    args.insert(args.end(), {"/IP=" + s.server + "," + std::to_string(s.port), "/U=" + s.username,
                             "/P=" + s.password, "/DB=" + s.database});
    return args;
  }
  // A compress pass, then a decompress pass that sends every plain value back.
  static void RoundTrip(const TestDatabase& db, const std::vector<std::string>& env = {}) {
    const RunResult c = RunTersifyWithEnv(Args(db, {"/GUI=0", "/c"}), env);
    ASSERT_EQ(c.exit_code, 0) << c.out << c.err;
    EXPECT_EQ(c.out, kSummary + "3 records processed, 0 records skipped\n");
    const RunResult d = RunTersifyWithEnv(Args(db, {"/GUI=0", "/d"}), env);
    ASSERT_EQ(d.exit_code, 0) << d.out << d.err;
    EXPECT_EQ(d.out, kSummary + "3 records processed, 0 records skipped\n");
  }
  static void ExpectFailedConnect(const RunResult& r, const std::string& reason) {
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out.substr(0, kUnableToConnect.size()), kUnableToConnect);
    EXPECT_THAT(r.err, HasSubstr("Connection failed: " + reason));
  }
};

// Statement texts, names and values all pass the socket encrypted; the plain
// server, watched the same way, shows them (so the watching itself works).
TEST_F(TlsConnection, NoStatementOrValueTravelsInPlainText) {
  for (const char* provider : {"odbc", "odbc-tls"}) {
    SCOPED_TRACE(provider);
    TestDatabase db(provider, /*record_wire=*/true);
    Fill(db);
    RoundTrip(db);
    const std::string wire = db.WireBytes();
    const bool encrypted = std::string(provider) == "odbc-tls";
    EXPECT_GT(wire.size(), 9000u);  // the three plain values went back
    EXPECT_EQ(Contains(wire, Utf16("tqz_reports")), !encrypted);
    EXPECT_EQ(Contains(wire, Utf16("acReportData")), !encrypted);
    EXPECT_EQ(Contains(wire, Utf16(db.Settings().username)), !encrypted);
    EXPECT_EQ(Contains(wire, kSecretText), !encrypted);
  }
}

// A server that encrypts only when asked: FreeTDS's default asks for the
// login alone, so the user's name is hidden and the statements are not.
TEST_F(TlsConnection, ALoginOnlyEncryptionHidesTheLoginOnly) {
  TestDatabase file("sqlite");
  Fill(file);
  std::mutex mutex;
  std::string wire;
  TdsTlsOptions tls;
  tls.encryption = tds::Encryption::On;
  tls.wire_tap = [&](std::string_view bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    wire.append(bytes);
  };
  TdsTestServer server(file.FilePath(), "tls_db", "tls_user", "Tls;pw}1", 0, nullptr, tls);
  const RunResult r = RunTersifyWithEnv({"/GUI=0", "/c", "/IP=127.0.0.1," + std::to_string(server.Port()),
                                  "/U=tls_user", "/P=Tls;pw}1", "/DB=tls_db"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, kSummary + "3 records processed, 0 records skipped\n");
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_FALSE(Contains(wire, Utf16("tls_user")));
  EXPECT_FALSE(Contains(wire, Utf16("tls_db")));
  EXPECT_TRUE(Contains(wire, Utf16("tqz_reports")));
}

TEST_F(TlsConnection, DemandingEncryptionOfAServerWithoutItFailsClearly) {
  TestDatabase db("odbc");
  const RunResult r = RunTersifyWithEnv(Args(db, {"/GUI=0", "/c"}), {"TERSIFY_ODBC_ENCRYPT=require"});
  ExpectFailedConnect(r, "encryption was demanded but the server at 127.0.0.1:" +
                             std::to_string(db.Settings().port) + " offers none");
}

TEST_F(TlsConnection, RefusingEncryptionToAServerThatRequiresItFailsClearly) {
  TestDatabase db("odbc-tls");
  const RunResult r = RunTersifyWithEnv(Args(db, {"/GUI=0", "/c"}), {"TERSIFY_ODBC_OPTIONS=Encryption=off"});
  ExpectFailedConnect(r, "the server at 127.0.0.1:" + std::to_string(db.Settings().port) +
                             " requires encryption and the connection refuses it");
}

// FreeTDS checks the server's certificate when its freetds.conf section names
// a CA file; a data source reaches that section through Servername.
TEST_F(TlsConnection, TheCertificateIsCheckedAgainstTheCaFileOfTheDataSource) {
  TestDatabase db("odbc-tls");
  Fill(db);
  const std::string dir = db.FilePath() + ".tls";
  std::filesystem::create_directories(dir);
  struct RemoveDir {
    std::string path;
    ~RemoveDir() { std::filesystem::remove_all(path); }
  } remove_dir{dir};

  // The server's own certificate, and one it does not hold.
  TdsTlsOptions tls;
  tls.encryption = tds::Encryption::Required;
  TdsTestServer server(db.FilePath(), "tls_db", "tls_user", "Tls;pw}1", 0, nullptr, tls);
  std::ofstream(dir + "/trusted.pem") << server.CertificatePem();
  std::ofstream(dir + "/untrusted.pem") << tds::TlsCredentials::Generate()->CertificatePem();
  std::ofstream(dir + "/freetds.conf") << "[trusted]\n\thost = 127.0.0.1\n\tport = " << server.Port()
                                       << "\n\ttds version = 7.4\n\tca file = " << dir << "/trusted.pem\n"
                                       << "[untrusted]\n\thost = 127.0.0.1\n\tport = " << server.Port()
                                       << "\n\ttds version = 7.4\n\tca file = " << dir << "/untrusted.pem\n";
  std::ofstream(dir + "/odbc.ini") << "[Trusted]\nDriver = FreeTDS\nServername = trusted\nDatabase = tls_db\n"
                                   << "[Untrusted]\nDriver = FreeTDS\nServername = untrusted\nDatabase = tls_db\n";
  const std::vector<std::string> env = {"FREETDSCONF=" + dir + "/freetds.conf", "ODBCINI=" + dir + "/odbc.ini"};

  const RunResult trusted = RunTersifyWithEnv({"/GUI=0", "/c", "/IP=dsn:Trusted", "/U=tls_user", "/P=Tls;pw}1"}, env);
  EXPECT_EQ(trusted.exit_code, 0) << trusted.err;
  EXPECT_EQ(trusted.out, kSummary + "3 records processed, 0 records skipped\n");

  const RunResult untrusted = RunTersifyWithEnv({"/GUI=0", "/d", "/IP=dsn:Untrusted", "/U=tls_user", "/P=Tls;pw}1"}, env);
  ExpectFailedConnect(untrusted, "the TLS handshake with 127.0.0.1:" + std::to_string(server.Port()) +
                                     " failed: the server's certificate is not trusted by the ca file '" + dir +
                                     "/untrusted.pem'");
}

// A certificate the CA file trusts but that is issued for another name than
// the host the connection uses is named as such, not as an untrusted one.
TEST_F(TlsConnection, ACertificateForAnotherNameIsNamed) {
  TestDatabase db("sqlite");
  const std::string dir = db.FilePath() + ".tls";
  std::filesystem::create_directories(dir);
  struct RemoveDir {
    std::string path;
    ~RemoveDir() { std::filesystem::remove_all(path); }
  } remove_dir{dir};
  const std::string certificate = dir + "/other.pem", key = dir + "/other.key";
  const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=other.example"
                           " -addext subjectAltName=DNS:other.example -keyout " + key + " -out " + certificate +
                           " >/dev/null 2>&1";
  if (std::system(make.c_str()) != 0) GTEST_SKIP() << "the openssl program cannot make a certificate";
  TdsTlsOptions tls;
  tls.encryption = tds::Encryption::Required;
  tls.certificate_file = certificate;
  tls.key_file = key;
  TdsTestServer server(db.FilePath(), "tls_db", "tls_user", "Tls;pw}1", 0, nullptr, tls);
  std::ofstream(dir + "/freetds.conf") << "[other]\n\thost = 127.0.0.1\n\tport = " << server.Port()
                                       << "\n\ttds version = 7.4\n\tca file = " << certificate << "\n";
  std::ofstream(dir + "/odbc.ini") << "[Other]\nDriver = FreeTDS\nServername = other\nDatabase = tls_db\n";
  const RunResult r = RunTersifyWithEnv({"/GUI=0", "/c", "/IP=dsn:Other", "/U=tls_user", "/P=Tls;pw}1"},
                                        {"FREETDSCONF=" + dir + "/freetds.conf", "ODBCINI=" + dir + "/odbc.ini"});
  ExpectFailedConnect(r, "the TLS handshake with 127.0.0.1:" + std::to_string(server.Port()) +
                             " failed: the server's certificate is issued for other.example, not for '127.0.0.1'");
}

// A peer that offers encryption in its PRELOGIN answer and then hangs up
// instead of completing the handshake.
class BrokenTlsPeer {
 public:
  BrokenTlsPeer() : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener_, 8) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length) != 0)
      throw std::runtime_error("cannot listen on 127.0.0.1");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~BrokenTlsPeer() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  int Port() const { return port_; }

 private:
  void Serve() {
    while (!stop_) {
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      char request[4096];
      if (::recv(client, request, sizeof request, 0) > 0) {
        const std::string payload = tds::PreloginReply(tds::kEncryptRequired);
        std::string packet = {0x04, 0x01, 0, 0, 0, 0, 1, 0};
        packet[2] = static_cast<char>((payload.size() + 8) >> 8);
        packet[3] = static_cast<char>(payload.size() + 8);
        packet += payload;
        (void)!::send(client, packet.data(), packet.size(), MSG_NOSIGNAL);
        (void)!::recv(client, request, sizeof request, 0);  // the first handshake packet, left unanswered
      }
      ::close(client);
    }
  }
  int listener_;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(TlsConnection, AFailedHandshakeIsNamed) {
  BrokenTlsPeer peer;
  const RunResult r = RunTersifyWithEnv({"/GUI=0", "/c", "/IP=127.0.0.1," + std::to_string(peer.Port()), "/U=sa",
                                  "/P=secret", "/DB=db"},
                                 {"TERSIFY_LOGIN_TIMEOUT=3"});
  ExpectFailedConnect(r, "the TLS handshake with 127.0.0.1:" + std::to_string(peer.Port()) + " failed");
}

}  // namespace
}  // namespace tersify::testing
