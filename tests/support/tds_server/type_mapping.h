#pragma once
// TDS data types: reading a TYPE_INFO and a value the client sends (RPC
// parameters), writing a TYPE_INFO and a value the server sends (columns,
// output parameters), and the TDS type the server announces for a column the
// provider describes.

#include <cstdint>
#include <string>

#include "client/providers/provider.h"
#include "framework/rtl/variant.h"
#include "tests/support/tds_server/wire_bytes.h"

namespace tersify::testing::tds {

enum TdsType : uint8_t {
  kNull = 0x1F,
  kImage = 0x22,
  kText = 0x23,
  kGuid = 0x24,
  kIntN = 0x26,
  kDateN = 0x28,
  kTimeN = 0x29,
  kDateTime2N = 0x2A,
  kDateTimeOffsetN = 0x2B,
  kInt1 = 0x30,
  kBit = 0x32,
  kInt2 = 0x34,
  kInt4 = 0x38,
  kDateTim4 = 0x3A,
  kFlt4 = 0x3B,
  kMoney = 0x3C,
  kDateTime = 0x3D,
  kFlt8 = 0x3E,
  kNText = 0x63,
  kBitN = 0x68,
  kDecimalN = 0x6A,
  kNumericN = 0x6C,
  kFltN = 0x6D,
  kMoneyN = 0x6E,
  kDateTimeN = 0x6F,
  kMoney4 = 0x7A,
  kInt8 = 0x7F,
  kBigVarBinary = 0xA5,
  kBigVarChar = 0xA7,
  kBigBinary = 0xAD,
  kBigChar = 0xAF,
  kNVarChar = 0xE7,
  kNChar = 0xEF,
};

// SQL_Latin1_General_CP1_CI_AS, the collation announced at login and on every string.
extern const char kCollation[5];

// The "(max)" length of variable types, sent as partially length-prefixed (PLP) data.
constexpr uint32_t kMaxLength = 0xFFFF;

struct TypeInfo {
  uint8_t type = kNull;
  uint32_t max_length = 0;  // bytes; kMaxLength for the (max) types
  uint8_t precision = 0;
  uint8_t scale = 0;
  std::string collation;    // string types only

  bool IsPlp() const;
  // The type as T-SQL names it ("int", "nvarchar(max)").
  std::string SqlName() const;
};

TypeInfo ReadTypeInfo(ByteReader& in);
void WriteTypeInfo(ByteWriter& out, const TypeInfo& info);

// Raises ProtocolError for malformed data, std::invalid_argument for a value
// that cannot be given the type (text that is no number sent as an int).
Variant ReadValue(ByteReader& in, const TypeInfo& info);
void WriteValue(ByteWriter& out, const TypeInfo& info, const Variant& value);
// The same for a column of a result: text, ntext and image carry a table
// name in the metadata and a text pointer before each value.
void WriteColumnTypeInfo(ByteWriter& out, const TypeInfo& info);
void WriteColumnValue(ByteWriter& out, const TypeInfo& info, const Variant& value);

// The type announced for a provider's column: the type SQL Server gives its
// declared type ("int", "varchar(20)", "datetime2(3)", "image"); for a type
// name SQL Server does not have, the provider's field type; a column of
// unknown type takes the type of its first value (`sample`).
TypeInfo TypeForColumn(const providers::ColumnInfo& column, const Variant& sample);

// Named constructors for the server's own result sets.
TypeInfo IntType(uint32_t bytes);  // 2, 4 or 8
TypeInfo NVarCharType(uint32_t chars);

}  // namespace tersify::testing::tds
