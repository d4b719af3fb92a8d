#pragma once
// The first two exchanges of a connection: PRELOGIN (version and whether the
// connection is encrypted) and LOGIN7 (who logs in to which database).

#include <cstdint>
#include <string>

namespace tersify::testing::tds {

// The ENCRYPTION option of PRELOGIN, one byte each way.
enum PreloginEncryption : uint8_t {
  kEncryptOff = 0x00,           // the login only
  kEncryptOn = 0x01,            // the whole session
  kEncryptNotSupported = 0x02,  // nothing
  kEncryptRequired = 0x03,      // the whole session, or no session
};

// The ENCRYPTION value of a client's PRELOGIN payload; kEncryptOff when the
// option is missing. Raises ProtocolError when the payload is malformed.
uint8_t ClientEncryption(const std::string& payload);

// The server's program version as LOGINACK carries it: 16.0.1000 (SQL Server 2022).
constexpr uint32_t kProgramVersion = (16u << 24) | (0u << 16) | 1000u;

// The reply to a client's PRELOGIN: the server's version (major, minor and
// build, big-endian) and the encryption answer.
std::string PreloginReply(uint8_t encryption = kEncryptNotSupported,
                          uint32_t version = kProgramVersion);

struct LoginRequest {
  uint32_t tds_version = 0;  // as sent, e.g. 0x74000004 for 7.4
  uint32_t packet_size = 0;
  std::string host_name;
  std::string user_name;
  std::string password;
  std::string app_name;
  std::string database;
};

// Raises ProtocolError when the record is malformed.
LoginRequest DecodeLogin7(const std::string& payload);

}  // namespace tersify::testing::tds
