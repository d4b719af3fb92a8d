#pragma once
// Decoding the client's requests: SQL batches, remote procedure calls and
// transaction-manager requests, each behind the ALL_HEADERS block.

#include <cstdint>
#include <string>
#include <vector>

#include "framework/rtl/variant.h"
#include "tests/support/tds_server/type_mapping.h"

namespace tersify::testing::tds {

// Well-known procedures a client may call by number instead of by name.
enum ProcId : uint16_t {
  kSpExecuteSql = 10,
  kSpPrepare = 11,
  kSpExecute = 12,
  kSpPrepExec = 13,
  kSpUnprepare = 15,
};

struct RpcParam {
  std::string name;  // with its '@', empty for a positional parameter
  uint8_t status = 0;
  TypeInfo type;
  Variant value;
  bool IsOutput() const { return (status & 0x01) != 0; }
};

struct RpcRequest {
  std::string procedure;  // lower-case name of a well-known procedure called by number
  std::vector<RpcParam> params;
  // The parameter of that name (case-insensitive, '@' optional); nullptr when absent.
  const RpcParam* Named(const std::string& name) const;
  RpcParam* Named(const std::string& name) {
    return const_cast<RpcParam*>(static_cast<const RpcRequest*>(this)->Named(name));
  }
};

enum class TmKind { Begin, Commit, Rollback, Other };

struct TmRequest {
  TmKind kind = TmKind::Other;
  uint16_t code = 0;
  bool begin_next = false;  // a commit or rollback that starts a new transaction
};

std::string DecodeBatch(const std::string& payload);
RpcRequest DecodeRpc(const std::string& payload);
TmRequest DecodeTm(const std::string& payload);

}  // namespace tersify::testing::tds
