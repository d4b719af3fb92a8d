#pragma once
// The first two exchanges of a connection: PRELOGIN (the server refuses
// encryption, so the rest stays plain TCP) and LOGIN7 (who logs in to which
// database).

#include <cstdint>
#include <string>

namespace tersify::testing::tds {

// The reply to a client's PRELOGIN: version 16.0.1000, encryption not supported.
std::string PreloginReply();

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

// The server's program version as LOGINACK carries it: 16.0.1000 (SQL Server 2022).
constexpr uint32_t kProgramVersion = (16u << 24) | (0u << 16) | 1000u;

}  // namespace tersify::testing::tds
