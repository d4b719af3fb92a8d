// The TDS test server's encryption pieces on their own: the PRELOGIN
// ENCRYPTION option read from a client, the answer for each server setting,
// and certificates given as files.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/provider_matrix.h"
#include "tests/support/tds_server/login.h"
#include "tests/support/tds_server/session.h"
#include "tests/support/tds_server/tds_test_server.h"
#include "tests/support/tds_server/tls.h"
#include "tests/support/tds_server/wire_bytes.h"

namespace tersify::testing::tds {
namespace {

// A client's PRELOGIN payload: VERSION, then ENCRYPTION with the given byte
// (left out when negative), then the terminator.
std::string ClientPrelogin(int encryption) {
  ByteWriter w;
  const bool with_encryption = encryption >= 0;
  const uint16_t header = static_cast<uint16_t>(5 * (with_encryption ? 2 : 1) + 1);
  w.U8(0x00);
  w.U16BE(header);
  w.U16BE(6);
  if (with_encryption) {
    w.U8(0x01);
    w.U16BE(header + 6);
    w.U16BE(1);
  }
  w.U8(0xFF);
  w.Raw(std::string(6, '\0'));
  if (with_encryption) w.U8(static_cast<uint8_t>(encryption));
  return w.Take();
}

TEST(ClientEncryption, IsReadFromItsOption) {
  for (int value : {kEncryptOff, kEncryptOn, kEncryptNotSupported, kEncryptRequired})
    EXPECT_EQ(ClientEncryption(ClientPrelogin(value)), value);
  EXPECT_EQ(ClientEncryption(ClientPrelogin(-1)), kEncryptOff);  // no option: the default
}

TEST(ClientEncryption, AMalformedOptionListIsAProtocolError) {
  std::string cut = ClientPrelogin(kEncryptOn);
  EXPECT_THROW(ClientEncryption(cut.substr(0, 7)), ProtocolError);  // no terminator
  cut[8] = 0x7F;  // ENCRYPTION's offset far outside the payload
  EXPECT_THROW(ClientEncryption(cut), ProtocolError);
}

struct AnswerCase {
  Encryption server;
  uint8_t client, answer;
};

class EncryptionAnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(EncryptionAnswerTest, FollowsTheServerSetting) {
  EXPECT_EQ(EncryptionAnswer(GetParam().server, GetParam().client), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EncryptionAnswerTest,
    ::testing::Values(AnswerCase{Encryption::Off, kEncryptOff, kEncryptNotSupported},
                      AnswerCase{Encryption::Off, kEncryptOn, kEncryptNotSupported},
                      AnswerCase{Encryption::On, kEncryptNotSupported, kEncryptNotSupported},
                      AnswerCase{Encryption::On, kEncryptOff, kEncryptOff},
                      AnswerCase{Encryption::On, kEncryptOn, kEncryptOn},
                      AnswerCase{Encryption::On, kEncryptRequired, kEncryptOn},
                      AnswerCase{Encryption::Required, kEncryptOff, kEncryptRequired},
                      AnswerCase{Encryption::Required, kEncryptNotSupported, kEncryptRequired}));

TEST(ParseEncryption, KnowsTheThreeWords) {
  EXPECT_EQ(ParseEncryption("off"), Encryption::Off);
  EXPECT_EQ(ParseEncryption("on"), Encryption::On);
  EXPECT_EQ(ParseEncryption("required"), Encryption::Required);
  EXPECT_THROW(ParseEncryption("yes"), std::invalid_argument);
}

class CertificateFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("tds-tls-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& text) const {
    const std::string path = (dir_ / name).string();
    std::ofstream(path) << text;
    return path;
  }
  std::filesystem::path dir_;
};

// A key and a self-signed certificate made by the openssl program; false
// when it is not installed.
bool MakePair(const std::string& key, const std::string& certificate) {
  const std::string command = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 "
                              "-subj /CN=localhost -keyout '" + key + "' -out '" + certificate + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

TEST_F(CertificateFiles, APairIsUsedAndCrossedPairsAreRefused) {
  const std::string key_a = (dir_ / "a.key").string(), certificate_a = (dir_ / "a.pem").string();
  const std::string key_b = (dir_ / "b.key").string(), certificate_b = (dir_ / "b.pem").string();
  if (!MakePair(key_a, certificate_a) || !MakePair(key_b, certificate_b))
    GTEST_SKIP() << "the openssl program is not installed";
  std::ifstream in(certificate_a);
  const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(TlsCredentials::FromFiles(certificate_a, key_a)->CertificatePem(), pem);
  EXPECT_THROW(TlsCredentials::FromFiles(certificate_a, key_b), std::runtime_error);
  EXPECT_THROW(TlsCredentials::FromFiles(certificate_a, Write("bad.key", "not a key")), std::runtime_error);
  EXPECT_THROW(TlsCredentials::FromFiles(Write("bad.pem", "garbage"), key_a), std::runtime_error);
}

TEST_F(CertificateFiles, AServerStartedWithoutEncryptionHasNoCertificate) {
  TestDatabase file("sqlite");
  TdsTestServer plain(file.FilePath(), "db", "u", "p");
  EXPECT_EQ(plain.CertificatePem(), "");
  TdsTlsOptions tls;
  tls.encryption = Encryption::On;
  TdsTestServer encrypted(file.FilePath(), "db", "u", "p", 0, nullptr, tls);
  EXPECT_EQ(encrypted.CertificatePem().rfind("-----BEGIN CERTIFICATE-----", 0), 0u);
}

}  // namespace
}  // namespace tersify::testing::tds
