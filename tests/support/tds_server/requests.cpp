#include "tests/support/tds_server/requests.h"

#include <strings.h>

#include "tests/support/tds_server/wire_bytes.h"

namespace tersify::testing::tds {
namespace {

// Skips the ALL_HEADERS block (transaction descriptor, outstanding requests);
// the server keeps its own view of the transaction.
void SkipAllHeaders(ByteReader& in) {
  if (in.Remaining() < 4) return;
  uint32_t total = in.U32();
  if (total < 4) throw ProtocolError("bad ALL_HEADERS length");
  in.Skip(total - 4);
}

std::string NameOfProcId(uint16_t id) {
  switch (id) {
    case kSpExecuteSql: return "sp_executesql";
    case kSpPrepare: return "sp_prepare";
    case kSpExecute: return "sp_execute";
    case kSpPrepExec: return "sp_prepexec";
    case kSpUnprepare: return "sp_unprepare";
    case 1: return "sp_cursor";
    case 2: return "sp_cursoropen";
    case 4: return "sp_cursorfetch";
    case 9: return "sp_cursorclose";
    default: return "procedure #" + std::to_string(id);
  }
}

}  // namespace

const RpcParam* RpcRequest::Named(const std::string& name) const {
  std::string wanted = name.empty() || name[0] == '@' ? name : "@" + name;
  for (const RpcParam& param : params)
    if (strcasecmp(param.name.c_str(), wanted.c_str()) == 0) return &param;
  return nullptr;
}

std::string DecodeBatch(const std::string& payload) {
  ByteReader in(payload);
  SkipAllHeaders(in);
  if (in.Remaining() % 2) throw ProtocolError("odd length of a UTF-16 batch");
  return in.Utf16(in.Remaining() / 2);
}

RpcRequest DecodeRpc(const std::string& payload) {
  ByteReader in(payload);
  SkipAllHeaders(in);
  RpcRequest request;
  uint16_t name_length = in.U16();
  request.procedure = name_length == 0xFFFF ? NameOfProcId(in.U16()) : in.Utf16(name_length);
  in.U16();  // option flags (recompile, no metadata) change nothing here
  while (!in.AtEnd()) {
    RpcParam param;
    param.name = in.BVarchar();
    param.status = in.U8();
    param.type = ReadTypeInfo(in);
    param.value = ReadValue(in, param.type);
    request.params.push_back(std::move(param));
  }
  return request;
}

TmRequest DecodeTm(const std::string& payload) {
  ByteReader in(payload);
  SkipAllHeaders(in);
  TmRequest request;
  request.code = in.U16();
  switch (request.code) {
    case 5:
      request.kind = TmKind::Begin;
      break;
    case 7: case 8:
      request.kind = request.code == 7 ? TmKind::Commit : TmKind::Rollback;
      in.BVarchar();  // transaction name
      request.begin_next = in.Remaining() > 0 && in.U8() != 0;
      break;
    default:
      break;
  }
  return request;
}

}  // namespace tersify::testing::tds
