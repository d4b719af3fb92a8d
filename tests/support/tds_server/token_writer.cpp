#include "tests/support/tds_server/token_writer.h"

namespace tersify::testing::tds {
namespace {

enum Token : uint8_t {
  kReturnStatus = 0x79,
  kColMetadata = 0x81,
  kError = 0xAA,
  kInfo = 0xAB,
  kReturnValue = 0xAC,
  kLoginAck = 0xAD,
  kRow = 0xD1,
  kEnvChange = 0xE3,
};

constexpr uint16_t kFlagNullable = 0x0001;
constexpr uint16_t kFlagUpdatable = 0x0008;

// Starts a token whose u16 length follows its type; returns where the length goes.
size_t BeginSized(ByteWriter& token, uint8_t type) {
  token.U8(type);
  size_t at = token.Size();
  token.U16(0);
  return at;
}

void EndSized(ByteWriter& token, size_t at) {
  token.PatchU16(at, static_cast<uint16_t>(token.Size() - at - 2));
}

}  // namespace

void TokenWriter::LoginAck(uint32_t tds_version, const std::string& program,
                           uint32_t program_version) {
  ByteWriter token;
  size_t at = BeginSized(token, kLoginAck);
  token.U8(1);  // interface: SQL
  token.U32BE(tds_version);
  token.BVarchar(program);
  token.U32BE(program_version);
  EndSized(token, at);
  Emit(token);
}

void TokenWriter::EnvChange(EnvChangeType type, const std::string& new_value,
                            const std::string& old_value) {
  ByteWriter token;
  size_t at = BeginSized(token, kEnvChange);
  token.U8(type);
  token.BVarchar(new_value);
  token.BVarchar(old_value);
  EndSized(token, at);
  Emit(token);
}

void TokenWriter::EnvChangeBytes(EnvChangeType type, const std::string& new_value,
                                 const std::string& old_value) {
  ByteWriter token;
  size_t at = BeginSized(token, kEnvChange);
  token.U8(type);
  token.U8(static_cast<uint8_t>(new_value.size()));
  token.Raw(new_value);
  token.U8(static_cast<uint8_t>(old_value.size()));
  token.Raw(old_value);
  EndSized(token, at);
  Emit(token);
}

void TokenWriter::Message(uint8_t type, int32_t number, uint8_t state, uint8_t severity,
                          const std::string& text) {
  ByteWriter token;
  size_t at = BeginSized(token, type);
  token.I32(number);
  token.U8(state);
  token.U8(severity);
  // A message longer than a token can hold is cut (messages are short in practice).
  token.UsVarchar(text.size() > 16000 ? text.substr(0, 16000) : text);
  token.BVarchar(server_name_);
  token.BVarchar("");
  token.U32(1);  // line
  EndSized(token, at);
  Emit(token);
}

void TokenWriter::Error(int32_t number, uint8_t severity, const std::string& message,
                        uint8_t state) {
  Message(kError, number, state, severity, message);
}

void TokenWriter::Info(int32_t number, const std::string& message, uint8_t state) {
  Message(kInfo, number, state, 0, message);
}

void TokenWriter::ColMetadata(const std::vector<ResultColumn>& columns) {
  ByteWriter token;
  token.U8(kColMetadata);
  token.U16(static_cast<uint16_t>(columns.size()));
  for (const ResultColumn& column : columns) {
    token.U32(0);  // user type
    token.U16(kFlagUpdatable | (column.nullable ? kFlagNullable : 0));
    WriteColumnTypeInfo(token, column.type);
    token.BVarchar(column.name);
  }
  Emit(token);
}

void TokenWriter::Row(const std::vector<ResultColumn>& columns, const std::vector<Variant>& values) {
  ByteWriter token;
  token.U8(kRow);
  for (size_t i = 0; i < columns.size(); ++i) {
    const TypeInfo& type = columns[i].type;
    const bool large_binary = (type.type == kBigVarBinary && type.IsPlp()) || type.type == kImage;
    const Variant& value = values[i];
    if (large_binary && !value.IsNull() && static_cast<int64_t>(value.RawString().size()) > text_size_) {
      WriteColumnValue(token, type, Variant(TBytes{value.RawString().substr(0, static_cast<size_t>(text_size_))}));
      continue;
    }
    WriteColumnValue(token, type, value);
  }
  Emit(token);
}

void TokenWriter::ReturnStatus(int32_t status) {
  ByteWriter token;
  token.U8(kReturnStatus);
  token.I32(status);
  Emit(token);
}

void TokenWriter::ReturnValue(uint16_t ordinal, const std::string& name, const TypeInfo& type,
                              const Variant& value) {
  ByteWriter token;
  token.U8(kReturnValue);
  token.U16(ordinal);
  token.BVarchar(name);
  token.U8(0x01);  // output parameter
  token.U32(0);    // user type
  token.U16(kFlagNullable);
  WriteTypeInfo(token, type);
  WriteValue(token, type, value);
  Emit(token);
}

void TokenWriter::DoneToken(uint8_t type, uint16_t status, uint64_t rows) {
  ByteWriter token;
  token.U8(type);
  token.U16(status);
  token.U16(0);  // current command (informational only)
  token.U64(rows);
  Emit(token);
}

bool TokenWriter::AttentionSincePacket() {
  if (!attention_check_ || out_.PacketsSent() == checked_at_packet_) return false;
  checked_at_packet_ = out_.PacketsSent();
  return attention_check_();
}

}  // namespace tersify::testing::tds
