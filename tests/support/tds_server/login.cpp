#include "tests/support/tds_server/login.h"

#include "tests/support/tds_server/wire_bytes.h"

namespace tersify::testing::tds {
namespace {

enum PreloginOption : uint8_t { kVersion = 0x00, kEncryption = 0x01, kTerminator = 0xFF };

// Byte offsets of the (offset, length) pairs inside the LOGIN7 record.
enum LoginField : size_t {
  kHostName = 36,
  kUserName = 40,
  kPassword = 44,
  kAppName = 48,
  kDatabase = 68,
};
constexpr size_t kFixedPart = 94;

// A password travels with each byte's nibbles swapped and XORed with 0xA5.
std::string Unscramble(std::string_view bytes) {
  std::string plain(bytes);
  for (char& c : plain) {
    uint8_t b = static_cast<uint8_t>(c) ^ 0xA5;
    c = static_cast<char>(((b & 0x0F) << 4) | (b >> 4));
  }
  return plain;
}

std::string Field(std::string_view record, size_t field, bool scrambled = false) {
  ByteReader pair(record.substr(field, 4));
  uint16_t offset = pair.U16();
  uint16_t chars = pair.U16();
  if (static_cast<size_t>(offset) + chars * 2u > record.size())
    throw ProtocolError("login field outside the record");
  std::string_view bytes = record.substr(offset, chars * 2u);
  return Utf16ToUtf8(scrambled ? Unscramble(bytes) : std::string(bytes));
}

}  // namespace

uint8_t ClientEncryption(const std::string& payload) {
  // Entries of token(1) offset(2 BE) length(2 BE), ended by 0xFF; offsets
  // count from the start of the payload.
  for (size_t at = 0; at < payload.size(); at += 5) {
    const uint8_t token = static_cast<uint8_t>(payload[at]);
    if (token == kTerminator) return kEncryptOff;
    if (at + 5 > payload.size()) throw ProtocolError("PRELOGIN option list cut short");
    ByteReader entry(std::string_view(payload).substr(at + 1, 4));
    const uint16_t offset = entry.U16BE();
    const uint16_t length = entry.U16BE();
    if (static_cast<size_t>(offset) + length > payload.size()) throw ProtocolError("PRELOGIN option outside the payload");
    if (token == kEncryption && length >= 1) return static_cast<uint8_t>(payload[offset]);
  }
  throw ProtocolError("PRELOGIN option list without its terminator");
}

std::string PreloginReply(uint8_t encryption, uint32_t version) {
  ByteWriter reply;
  const uint16_t header = 2 * 5 + 1;
  reply.U8(kVersion);
  reply.U16BE(header);
  reply.U16BE(6);
  reply.U8(kEncryption);
  reply.U16BE(header + 6);
  reply.U16BE(1);
  reply.U8(kTerminator);
  reply.U32BE(version);
  reply.U16BE(0);  // sub-build
  reply.U8(encryption);
  return reply.Take();
}

LoginRequest DecodeLogin7(const std::string& payload) {
  if (payload.size() < kFixedPart) throw ProtocolError("LOGIN7 record too short");
  ByteReader in(payload);
  uint32_t length = in.U32();
  if (length > payload.size() || length < kFixedPart) throw ProtocolError("bad LOGIN7 length");
  std::string_view record(payload.data(), length);
  LoginRequest login;
  login.tds_version = in.U32();
  login.packet_size = in.U32();
  login.host_name = Field(record, kHostName);
  login.user_name = Field(record, kUserName);
  login.password = Field(record, kPassword, true);
  login.app_name = Field(record, kAppName);
  login.database = Field(record, kDatabase);
  return login;
}

}  // namespace tersify::testing::tds
