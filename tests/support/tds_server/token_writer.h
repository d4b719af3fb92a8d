#pragma once
// The tokens of a server reply (LOGINACK, ENVCHANGE, COLMETADATA, ROW, DONE,
// ERROR, RETURNSTATUS, RETURNVALUE...), each encoded whole and then handed to
// the message writer, so an error met while encoding a row never leaves half
// a token on the wire.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/rtl/variant.h"
#include "tests/support/tds_server/packet_io.h"
#include "tests/support/tds_server/type_mapping.h"

namespace tersify::testing::tds {

enum DoneStatus : uint16_t {
  kDoneFinal = 0x00,
  kDoneMore = 0x01,
  kDoneError = 0x02,
  kDoneInTransaction = 0x04,
  kDoneCount = 0x10,
  kDoneAttention = 0x20,
};

enum EnvChangeType : uint8_t {
  kEnvDatabase = 1,
  kEnvLanguage = 2,
  kEnvPacketSize = 4,
  kEnvCollation = 7,
  kEnvBeginTransaction = 8,
  kEnvCommitTransaction = 9,
  kEnvRollbackTransaction = 10,
};

struct ResultColumn {
  std::string name;
  TypeInfo type;
  bool nullable = true;
};

class TokenWriter {
 public:
  TokenWriter(MessageWriter& out, std::string server_name)
      : out_(out), server_name_(std::move(server_name)) {}

  void LoginAck(uint32_t tds_version, const std::string& program, uint32_t program_version);
  void EnvChange(EnvChangeType type, const std::string& new_value, const std::string& old_value);
  // Binary ENVCHANGE values (collation, transaction descriptors).
  void EnvChangeBytes(EnvChangeType type, const std::string& new_value,
                      const std::string& old_value);
  void Error(int32_t number, uint8_t severity, const std::string& message, uint8_t state = 1);
  void Info(int32_t number, const std::string& message, uint8_t state = 1);

  void ColMetadata(const std::vector<ResultColumn>& columns);
  void Row(const std::vector<ResultColumn>& columns, const std::vector<Variant>& values);
  void ReturnStatus(int32_t status);
  void ReturnValue(uint16_t ordinal, const std::string& name, const TypeInfo& type,
                   const Variant& value);

  void Done(uint16_t status, uint64_t rows = 0) { DoneToken(0xFD, status, rows); }
  void DoneProc(uint16_t status, uint64_t rows = 0) { DoneToken(0xFE, status, rows); }
  void DoneInProc(uint16_t status, uint64_t rows = 0) { DoneToken(0xFF, status, rows); }

  // Ends the reply message (its last packet leaves).
  void EndMessage() { out_.EndMessage(); }

  // How a long reply learns that the client sent an attention (none: never).
  void SetAttentionCheck(std::function<bool()> check) { attention_check_ = std::move(check); }
  // Whether an attention has arrived, asked only when a packet has left
  // since the last time: once per packet rather than once per row.
  bool AttentionSincePacket();

  // The session's SET TEXTSIZE: rows carry at most this many bytes of a
  // varbinary(max) or image value, as SQL Server cuts them (0 or less: its
  // default of 4,096 bytes, which a session has until a client sets it).
  void SetTextSize(int64_t bytes) { text_size_ = bytes > 0 ? bytes : kDefaultTextSize; }
  static constexpr int64_t kDefaultTextSize = 4096;

 private:
  void DoneToken(uint8_t token, uint16_t status, uint64_t rows);
  void Message(uint8_t token, int32_t number, uint8_t state, uint8_t severity,
               const std::string& text);
  void Emit(ByteWriter& token) { out_.Write(token.Bytes()); }

  MessageWriter& out_;
  std::string server_name_;
  std::function<bool()> attention_check_;
  uint64_t checked_at_packet_ = 0;
  int64_t text_size_ = kDefaultTextSize;
};

}  // namespace tersify::testing::tds
