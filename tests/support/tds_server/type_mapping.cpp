#include "tests/support/tds_server/type_mapping.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <utility>

#include "framework/rtl/exception.h"
#include "tests/support/tds_server/date_text.h"

namespace tersify::testing::tds {

const char kCollation[5] = {0x09, 0x04, static_cast<char>(0xD0), 0x00, 0x34};

namespace {

constexpr uint64_t kPlpNull = 0xFFFFFFFFFFFFFFFFull;
constexpr uint64_t kPlpUnknownLength = 0xFFFFFFFFFFFFFFFEull;
constexpr size_t kPlpChunk = 32 * 1024;
constexpr int64_t kDaysTo1899 = 693593;  // 0001-01-01 .. 1899-12-30
constexpr int64_t kDaysTo1900 = 693595;  // 0001-01-01 .. 1900-01-01
constexpr double kSecondsPerDay = 86400.0;

using Int128 = __int128;

enum class Length { Fixed, Byte, Short, Long, None };

// How a type carries its length in TYPE_INFO and in its values.
Length LengthKind(uint8_t type) {
  switch (type) {
    case kNull: case kInt1: case kBit: case kInt2: case kInt4: case kDateTim4: case kFlt4:
    case kMoney: case kDateTime: case kFlt8: case kMoney4: case kInt8:
      return Length::Fixed;
    case kGuid: case kIntN: case kBitN: case kDecimalN: case kNumericN: case kFltN:
    case kMoneyN: case kDateTimeN:
      return Length::Byte;
    case kDateN: case kTimeN: case kDateTime2N: case kDateTimeOffsetN:
      return Length::None;  // no length in TYPE_INFO, a length byte in values
    case kBigVarBinary: case kBigVarChar: case kBigBinary: case kBigChar: case kNVarChar:
    case kNChar:
      return Length::Short;
    case kImage: case kText: case kNText:
      return Length::Long;
    default:
      throw ProtocolError("unsupported data type 0x" + std::to_string(type));
  }
}

uint32_t FixedSize(uint8_t type) {
  switch (type) {
    case kNull: return 0;
    case kInt1: case kBit: return 1;
    case kInt2: return 2;
    case kInt4: case kDateTim4: case kFlt4: case kMoney4: return 4;
    default: return 8;
  }
}

bool HasCollation(uint8_t type) {
  return type == kBigVarChar || type == kBigChar || type == kNVarChar || type == kNChar ||
         type == kText || type == kNText;
}

bool IsWide(uint8_t type) { return type == kNVarChar || type == kNChar || type == kNText; }
bool IsNarrowText(uint8_t type) {
  return type == kBigVarChar || type == kBigChar || type == kText;
}

// Bytes of a time value with the given fractional-second scale.
uint32_t TimeBytes(uint8_t scale) { return scale <= 2 ? 3 : scale <= 4 ? 4 : 5; }

uint32_t DecimalBytes(uint8_t precision) {
  return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
}

Int128 Pow10(int n) {
  Int128 p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

uint64_t LittleEndian(std::string_view bytes) {
  uint64_t v = 0;
  for (size_t i = bytes.size(); i-- > 0;) v = (v << 8) | static_cast<uint8_t>(bytes[i]);
  return v;
}

void PutLittleEndian(ByteWriter& out, uint64_t v, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i, v >>= 8) out.U8(static_cast<uint8_t>(v));
}

// ---- date and time: TDateTime counts days from 1899-12-30; before that the
// fraction still counts forwards from midnight of the (negative) day.

void SplitDateTime(TDateTime t, int64_t& day, double& seconds) {
  double whole = std::trunc(t.value);
  day = static_cast<int64_t>(whole);
  seconds = std::fabs(t.value - whole) * kSecondsPerDay;
}

TDateTime JoinDateTime(int64_t day, double seconds) {
  double fraction = seconds / kSecondsPerDay;
  return TDateTime{day >= 0 ? static_cast<double>(day) + fraction
                            : static_cast<double>(day) - fraction};
}

// Narrow text travels in the collation's code page, Windows-1252: Latin-1
// except for 0x80..0x9F.
const uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string wide;
  wide.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    uint16_t unit = c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c;
    wide.push_back(static_cast<char>(unit & 0xFF));
    wide.push_back(static_cast<char>(unit >> 8));
  }
  return Utf16ToUtf8(wide);
}

std::string Utf8ToCp1252(std::string_view utf8) {
  std::string wide = Utf8ToUtf16(utf8), out;
  for (size_t i = 0; i + 1 < wide.size(); i += 2) {
    unsigned unit = static_cast<uint8_t>(wide[i]) | (static_cast<uint8_t>(wide[i + 1]) << 8);
    char narrow = '?';
    if (unit < 0x80 || (unit >= 0xA0 && unit < 0x100)) {
      narrow = static_cast<char>(unit);
    } else {
      for (int k = 0; k < 32; ++k)
        if (kCp1252High[k] == unit) narrow = static_cast<char>(0x80 + k);
    }
    out.push_back(narrow);
  }
  return out;
}

std::string GuidText(std::string_view b) {
  auto u = [&](size_t i) { return static_cast<unsigned>(static_cast<uint8_t>(b[i])); };
  char text[40];
  std::snprintf(text, sizeof text,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", u(3),
                u(2), u(1), u(0), u(5), u(4), u(7), u(6), u(8), u(9), u(10), u(11), u(12),
                u(13), u(14), u(15));
  return text;
}

// "6F9619FF-8B86-D011-B42D-00C04FC964FF" as SQL Server stores it: the first
// three groups little-endian, the rest as written.
std::string GuidBytes(const std::string& text) {
  std::string hex;
  for (char c : text)
    if (c != '-' && c != '{' && c != '}') hex += c;
  if (hex.size() != 32)
    throw std::invalid_argument(
        "Conversion failed when converting from a character string to uniqueidentifier.");
  auto byte = [&](size_t i) {
    return static_cast<char>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  };
  std::string out;
  for (size_t i : {3, 2, 1, 0, 5, 4, 7, 6}) out += byte(i);
  for (size_t i = 8; i < 16; ++i) out += byte(i);
  return out;
}

Variant DecodeText(uint8_t type, std::string_view bytes) {
  if (IsWide(type)) return Variant(Utf16ToUtf8(bytes));
  if (IsNarrowText(type)) return Variant(Cp1252ToUtf8(bytes));
  return Variant(TBytes{std::string(bytes)});
}

std::string ReadPlp(ByteReader& in, bool& is_null) {
  uint64_t total = in.U64();
  is_null = total == kPlpNull;
  std::string data;
  if (is_null) return data;
  if (total != kPlpUnknownLength && total <= in.Remaining()) data.reserve(total);
  for (;;) {
    uint32_t chunk = in.U32();
    if (chunk == 0) break;
    data.append(in.Raw(chunk));
  }
  return data;
}

Variant ReadDecimal(std::string_view bytes, uint8_t scale) {
  if (bytes.size() < 2 || bytes.size() > 17) throw ProtocolError("bad decimal length");
  bool positive = bytes[0] != 0;
  Int128 magnitude = 0;
  for (size_t i = bytes.size(); i-- > 1;)
    magnitude = (magnitude << 8) | static_cast<uint8_t>(bytes[i]);
  Int128 value = positive ? magnitude : -magnitude;
  if (scale == 0 && value >= INT64_MIN && value <= INT64_MAX)
    return Variant(static_cast<long long>(value));
  return Variant(static_cast<double>(value) / std::pow(10.0, scale));
}

// Decimal text ("-12.345") scaled to an integer with `scale` digits after the point.
Int128 ScaledDecimal(const std::string& text, uint8_t scale) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  Int128 value = 0;
  int fraction_digits = -1;
  bool any = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.' && fraction_digits < 0) {
      fraction_digits = 0;
    } else if (c >= '0' && c <= '9') {
      if (fraction_digits >= scale) continue;  // digits beyond the scale are cut
      if (fraction_digits >= 0) ++fraction_digits;
      value = value * 10 + (c - '0');
      any = true;
    } else {
      break;
    }
  }
  if (!any) throw std::invalid_argument("not a number: " + text);
  value *= Pow10(scale - std::max(fraction_digits, 0));
  return negative ? -value : value;
}

std::string DecimalText(const Variant& value, uint8_t scale) {
  if (value.Type() == TVarType::Float) {
    char text[400];
    std::snprintf(text, sizeof text, "%.*f", scale, value.AsFloat());
    return text;
  }
  if (value.Type() == TVarType::Integer || value.Type() == TVarType::Boolean)
    return std::to_string(value.AsInt64());
  return value.AsString();
}

// A provider value as the bytes of a binary or text column.
std::string BinaryOf(const Variant& value) { return value.AsString(); }

std::string TextBytesOf(uint8_t type, const Variant& value) {
  std::string text = value.AsString();
  if (value.Type() == TVarType::DateTime) text = DateTimeToStr(value.AsDateTime());
  return IsWide(type) ? Utf8ToUtf16(text) : Utf8ToCp1252(text);
}

void WritePlp(ByteWriter& out, const std::string& data) {
  out.U64(data.size());
  for (size_t at = 0; at < data.size(); at += kPlpChunk) {
    size_t n = std::min(kPlpChunk, data.size() - at);
    out.U32(static_cast<uint32_t>(n));
    out.Raw(std::string_view(data).substr(at, n));
  }
  out.U32(0);
}

// A date-time given as text goes exactly, without a floating-point day.
bool WriteExactDateParts(ByteWriter& out, uint8_t type, uint8_t scale, const Variant& value) {
  if (value.Type() != TVarType::String) return false;
  std::optional<ExactDateTime> t = ParseDateTimeText(value.RawString());
  if (!t) return false;
  int64_t day = t->day;
  if (type == kDateTimeN || type == kDateTime) {
    int64_t ticks = UnitsToTicks(t->units);
    if (ticks >= 300LL * 86400) ++day, ticks = 0;
    out.I32(static_cast<int32_t>(day - kDaysTo1900));
    out.U32(static_cast<uint32_t>(ticks));
    return true;
  }
  if (type != kDateN) {
    const int64_t step = static_cast<int64_t>(Pow10(7 - scale));
    int64_t units = (t->units + step / 2) / step;
    if (units >= 86400LL * static_cast<int64_t>(Pow10(scale))) ++day, units = 0;
    PutLittleEndian(out, static_cast<uint64_t>(units), TimeBytes(scale));
  }
  if (type != kTimeN) PutLittleEndian(out, static_cast<uint64_t>(day), 3);
  if (type == kDateTimeOffsetN) out.U16(0);
  return true;
}

void WriteDateParts(ByteWriter& out, uint8_t type, uint8_t scale, const Variant& value) {
  if (WriteExactDateParts(out, type, scale, value)) return;
  int64_t day;
  double seconds;
  SplitDateTime(value.AsDateTime(), day, seconds);
  if (type == kDateTimeN || type == kDateTime) {
    int64_t ticks = std::llround(seconds * 300.0);
    if (ticks >= 300LL * 86400) ++day, ticks = 0;
    out.I32(static_cast<int32_t>(day - 2));
    out.U32(static_cast<uint32_t>(ticks));
    return;
  }
  if (type != kDateN) {
    int64_t units = std::llround(seconds * std::pow(10.0, scale));
    int64_t per_day = 86400LL * static_cast<int64_t>(Pow10(scale));
    if (units >= per_day) ++day, units = 0;
    PutLittleEndian(out, static_cast<uint64_t>(units), TimeBytes(scale));
  }
  if (type != kTimeN) PutLittleEndian(out, static_cast<uint64_t>(day + kDaysTo1899), 3);
  if (type == kDateTimeOffsetN) out.U16(0);
}

}  // namespace

bool TypeInfo::IsPlp() const {
  return max_length == kMaxLength &&
         (type == kBigVarBinary || type == kBigVarChar || type == kNVarChar);
}

std::string TypeInfo::SqlName() const {
  auto sized = [&](const char* name, uint32_t units) {
    return std::string(name) + "(" + (IsPlp() ? std::string("max") : std::to_string(units)) + ")";
  };
  switch (type) {
    case kIntN: case kInt4: case kInt1: case kInt2: case kInt8: {
      uint32_t n = type == kIntN ? max_length : FixedSize(type);
      return n == 1 ? "tinyint" : n == 2 ? "smallint" : n == 8 ? "bigint" : "int";
    }
    case kBit: case kBitN: return "bit";
    case kFlt4: return "real";
    case kFlt8: return "float";
    case kFltN: return max_length == 4 ? "real" : "float";
    case kMoney: return "money";
    case kMoney4: return "smallmoney";
    case kMoneyN: return max_length == 4 ? "smallmoney" : "money";
    case kDateTime: case kDateTimeN: return "datetime";
    case kDateTim4: return "smalldatetime";
    case kDateN: return "date";
    case kTimeN: return "time";
    case kDateTime2N: return "datetime2";
    case kDateTimeOffsetN: return "datetimeoffset";
    case kDecimalN: case kNumericN:
      return std::string(type == kDecimalN ? "decimal(" : "numeric(") +
             std::to_string(precision) + "," + std::to_string(scale) + ")";
    case kGuid: return "uniqueidentifier";
    case kNVarChar: return sized("nvarchar", max_length / 2);
    case kNChar: return sized("nchar", max_length / 2);
    case kBigVarChar: return sized("varchar", max_length);
    case kBigChar: return sized("char", max_length);
    case kBigVarBinary: return sized("varbinary", max_length);
    case kBigBinary: return sized("binary", max_length);
    case kText: return "text";
    case kNText: return "ntext";
    case kImage: return "image";
    default: return "sql_variant";
  }
}

TypeInfo ReadTypeInfo(ByteReader& in) {
  TypeInfo info;
  info.type = in.U8();
  switch (LengthKind(info.type)) {
    case Length::Fixed: info.max_length = FixedSize(info.type); break;
    case Length::Byte: info.max_length = in.U8(); break;
    case Length::Short: info.max_length = in.U16(); break;
    case Length::Long: info.max_length = in.U32(); break;
    case Length::None: break;
  }
  if (info.type == kDecimalN || info.type == kNumericN) {
    info.precision = in.U8();
    info.scale = in.U8();
  }
  if (info.type == kTimeN || info.type == kDateTime2N || info.type == kDateTimeOffsetN)
    info.scale = in.U8();
  if (HasCollation(info.type)) info.collation = std::string(in.Raw(5));
  return info;
}

void WriteTypeInfo(ByteWriter& out, const TypeInfo& info) {
  out.U8(info.type);
  switch (LengthKind(info.type)) {
    case Length::Fixed: case Length::None: break;
    case Length::Byte: out.U8(static_cast<uint8_t>(info.max_length)); break;
    case Length::Short: out.U16(static_cast<uint16_t>(info.max_length)); break;
    case Length::Long: out.U32(info.max_length); break;
  }
  if (info.type == kDecimalN || info.type == kNumericN) {
    out.U8(info.precision);
    out.U8(info.scale);
  }
  if (info.type == kTimeN || info.type == kDateTime2N || info.type == kDateTimeOffsetN)
    out.U8(info.scale);
  if (HasCollation(info.type))
    out.Raw(info.collation.size() == 5 ? std::string_view(info.collation)
                                       : std::string_view(kCollation, 5));
}

Variant ReadValue(ByteReader& in, const TypeInfo& info) {
  uint8_t type = info.type;
  std::string_view bytes;
  switch (LengthKind(type)) {
    case Length::Fixed:
      bytes = in.Raw(FixedSize(type));
      if (type == kNull) return Variant();
      break;
    case Length::Byte: case Length::None: {
      uint8_t n = in.U8();
      if (n == 0) return Variant();
      bytes = in.Raw(n);
      break;
    }
    case Length::Short: {
      if (info.IsPlp()) {
        bool is_null;
        std::string data = ReadPlp(in, is_null);
        return is_null ? Variant() : DecodeText(type, data);
      }
      uint16_t n = in.U16();
      if (n == 0xFFFF) return Variant();
      return DecodeText(type, in.Raw(n));
    }
    case Length::Long: {
      uint32_t n = in.U32();
      if (n == 0xFFFFFFFF) return Variant();
      return DecodeText(type, in.Raw(n));
    }
  }
  auto integer = [&]() -> int64_t {
    uint64_t raw = LittleEndian(bytes);
    if (bytes.size() == 1) return static_cast<uint8_t>(raw);  // tinyint is unsigned
    if (bytes.size() == 2) return static_cast<int16_t>(raw);
    if (bytes.size() == 4) return static_cast<int32_t>(raw);
    return static_cast<int64_t>(raw);
  };
  switch (type) {
    case kInt1: case kInt2: case kInt4: case kInt8: case kIntN:
      return Variant(static_cast<long long>(integer()));
    case kBit: case kBitN:
      return Variant(bytes[0] != 0);
    case kFlt4: case kFlt8: case kFltN: {
      ByteReader r(bytes);
      return Variant(bytes.size() == 4 ? static_cast<double>(r.F32()) : r.F64());
    }
    case kMoney4: case kMoney: case kMoneyN: {
      int64_t units;
      if (bytes.size() == 4) {
        units = static_cast<int32_t>(LittleEndian(bytes));
      } else {
        uint64_t high = LittleEndian(bytes.substr(0, 4)), low = LittleEndian(bytes.substr(4, 4));
        units = static_cast<int64_t>((high << 32) | low);
      }
      return Variant(static_cast<double>(units) / 10000.0);
    }
    case kDateTime: case kDateTimeN: case kDateTim4: {
      if (bytes.size() == 4) {  // smalldatetime: days, minutes
        int64_t days = LittleEndian(bytes.substr(0, 2));
        return Variant(JoinDateTime(days + 2, LittleEndian(bytes.substr(2, 2)) * 60.0));
      }
      // As the text SQL Server shows for it (.003 for one tick), which the
      // datetime columns' collation takes as that tick again.
      int64_t days = static_cast<int32_t>(LittleEndian(bytes.substr(0, 4)));
      const int64_t ticks = static_cast<int64_t>(LittleEndian(bytes.substr(4, 4)));
      return Variant(DateTimeText(days + kDaysTo1900, (ticks * 1000 + 150) / 300 * 10000, 3));
    }
    case kDateN: case kDateTime2N: {
      // Exactly, as text: a datetime2 always with seven digits, so that a
      // datetime column's collation never takes it for a datetime.
      const size_t time_bytes = type == kDateN ? 0 : TimeBytes(info.scale);
      if (bytes.size() != time_bytes + 3) throw ProtocolError("bad date length");
      const int64_t day = static_cast<int64_t>(LittleEndian(bytes.substr(time_bytes, 3)));
      const int64_t units = static_cast<int64_t>(LittleEndian(bytes.substr(0, time_bytes))) *
                            static_cast<int64_t>(Pow10(7 - info.scale));
      return Variant(DateTimeText(day, units, 7, type != kDateN));
    }
    case kTimeN: case kDateTimeOffsetN: {
      double seconds = 0;
      size_t at = 0;
      if (type != kDateN) {
        uint32_t n = TimeBytes(info.scale);
        if (bytes.size() < n) throw ProtocolError("bad time length");
        seconds = static_cast<double>(LittleEndian(bytes.substr(0, n))) /
                  std::pow(10.0, info.scale);
        at = n;
      }
      int64_t day = 0;
      if (type != kTimeN) {
        if (bytes.size() < at + 3) throw ProtocolError("bad date length");
        day = static_cast<int64_t>(LittleEndian(bytes.substr(at, 3))) - kDaysTo1899;
      }
      return Variant(JoinDateTime(day, seconds));
    }
    case kDecimalN: case kNumericN:
      return ReadDecimal(bytes, info.scale);
    case kGuid:
      if (bytes.size() != 16) throw ProtocolError("bad uniqueidentifier length");
      return Variant(GuidText(bytes));
    default:
      throw ProtocolError("unsupported data type");
  }
}

void WriteValue(ByteWriter& out, const TypeInfo& info, const Variant& value) {
  uint8_t type = info.type;
  Length kind = LengthKind(type);
  if (value.IsNull()) {
    if (info.IsPlp()) out.U64(kPlpNull);
    else if (kind == Length::Short) out.U16(0xFFFF);
    else if (kind == Length::Long) out.U32(0xFFFFFFFF);
    else if (kind == Length::Byte || kind == Length::None) out.U8(0);
    else throw std::invalid_argument("null value for a type that has no null");
    return;
  }
  if (kind == Length::Short || kind == Length::Long) {
    std::string data = (type == kBigVarBinary || type == kBigBinary || type == kImage)
                           ? BinaryOf(value)
                           : TextBytesOf(type, value);
    if (info.IsPlp()) {
      WritePlp(out, data);
    } else if (kind == Length::Short) {
      // The client keeps only what the announced size allows, silently; a
      // longer value (SQLite does not enforce declared sizes) is an error instead.
      if (data.size() > info.max_length)
        throw std::invalid_argument("String or binary data would be truncated: a value of " +
                                    std::to_string(IsWide(type) ? data.size() / 2 : data.size()) +
                                    " units does not fit " + info.SqlName() + ".");
      // Fixed-length types come padded to their length, as SQL Server stores
      // them: blanks for char and nchar, zeros for binary.
      if (type == kBigBinary) data.resize(info.max_length, '\0');
      if (type == kBigChar) data.resize(info.max_length, ' ');
      while (type == kNChar && data.size() + 1 < info.max_length) data += std::string(" \0", 2);
      out.U16(static_cast<uint16_t>(data.size()));
      out.Raw(data);
    } else {
      out.U32(static_cast<uint32_t>(data.size()));
      out.Raw(data);
    }
    return;
  }
  uint32_t size = kind == Length::Fixed ? FixedSize(type) : info.max_length;
  auto length = [&](uint32_t n) {
    if (kind != Length::Fixed) out.U8(static_cast<uint8_t>(n));
  };
  switch (type) {
    case kInt1: case kInt2: case kInt4: case kInt8: case kIntN: {
      int64_t v = value.Type() == TVarType::Boolean ? (value.AsBoolean() ? 1 : 0) : value.AsInt64();
      const bool fits = size == 1   ? v >= 0 && v <= 255
                        : size == 2 ? v >= INT16_MIN && v <= INT16_MAX
                        : size == 4 ? v >= INT32_MIN && v <= INT32_MAX
                                    : true;
      if (!fits)
        throw std::invalid_argument("Arithmetic overflow error converting expression to data type " +
                                    info.SqlName() + ".");
      length(size);
      PutLittleEndian(out, static_cast<uint64_t>(v), size);
      return;
    }
    case kBit: case kBitN:
      length(1);
      out.U8(value.AsBoolean() ? 1 : 0);
      return;
    case kFlt4: case kFlt8: case kFltN: {
      length(size);
      if (size == 4) {
        float f = static_cast<float>(value.AsFloat());
        uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        out.U32(bits);
      } else {
        out.F64(value.AsFloat());
      }
      return;
    }
    case kMoney4: case kMoney: case kMoneyN: {
      int64_t units = static_cast<int64_t>(ScaledDecimal(DecimalText(value, 4), 4));
      length(size);
      if (size == 4) {
        out.I32(static_cast<int32_t>(units));
      } else {
        out.U32(static_cast<uint32_t>(static_cast<uint64_t>(units) >> 32));
        out.U32(static_cast<uint32_t>(units));
      }
      return;
    }
    case kDateTime: case kDateTimeN:
      length(8);
      WriteDateParts(out, kDateTimeN, 0, value);
      return;
    case kDateN: case kTimeN: case kDateTime2N: case kDateTimeOffsetN: {
      uint32_t n = (type == kDateN ? 0 : TimeBytes(info.scale)) + (type == kTimeN ? 0 : 3) +
                   (type == kDateTimeOffsetN ? 2 : 0);
      length(n);
      WriteDateParts(out, type, info.scale, value);
      return;
    }
    case kDecimalN: case kNumericN: {
      Int128 v = ScaledDecimal(DecimalText(value, info.scale), info.scale);
      if (v >= Pow10(info.precision) || -v >= Pow10(info.precision))
        throw std::invalid_argument("value out of range for " + info.SqlName());
      uint32_t n = DecimalBytes(info.precision);
      length(n);
      out.U8(v >= 0 ? 1 : 0);
      unsigned __int128 magnitude = static_cast<unsigned __int128>(v >= 0 ? v : -v);
      for (uint32_t i = 1; i < n; ++i, magnitude >>= 8) out.U8(static_cast<uint8_t>(magnitude));
      return;
    }
    case kGuid:
      length(16);
      out.Raw(GuidBytes(value.AsString()));
      return;
    default:
      throw std::invalid_argument("cannot send values of type " + info.SqlName());
  }
}

void WriteColumnValue(ByteWriter& out, const TypeInfo& info, const Variant& value) {
  if (LengthKind(info.type) != Length::Long) return WriteValue(out, info, value);
  // text, ntext and image in a row: a text pointer and a timestamp before the
  // data; no pointer at all for NULL.
  if (value.IsNull()) {
    out.U8(0);
    return;
  }
  out.U8(16);
  out.Raw(std::string(16, '\0'));
  out.Raw(std::string(8, '\0'));
  WriteValue(out, info, value);
}

void WriteColumnTypeInfo(ByteWriter& out, const TypeInfo& info) {
  WriteTypeInfo(out, info);
  if (LengthKind(info.type) != Length::Long) return;
  // The table's name, in one part: a cursor does not tell which table a
  // column comes from, and clients only keep the name for text pointers.
  out.U8(1);
  out.UsVarchar("dbo");
}

TypeInfo IntType(uint32_t bytes) {
  TypeInfo info;
  info.type = kIntN;
  info.max_length = bytes;
  return info;
}

TypeInfo NVarCharType(uint32_t chars) {
  TypeInfo info;
  info.type = kNVarChar;
  info.max_length = chars == 0 || chars > 4000 ? kMaxLength : chars * 2;
  info.collation.assign(kCollation, 5);
  return info;
}

namespace {

TypeInfo Simple(uint8_t type, uint32_t max_length = 0) {
  TypeInfo info;
  info.type = type;
  info.max_length = max_length;
  return info;
}

// Precision and scale from a declared type such as "decimal(18,4)".
void DecimalDigits(const std::string& declared, uint8_t& precision, uint8_t& scale) {
  int p = 18, s = 0;
  size_t open = declared.find('(');
  if (open != std::string::npos) {
    if (std::sscanf(declared.c_str() + open, "(%d,%d", &p, &s) < 1) p = 18;
  }
  p = std::clamp(p, 1, 38);
  s = std::clamp(s, 0, p);
  precision = static_cast<uint8_t>(p);
  scale = static_cast<uint8_t>(s);
}

// The (n) of "varchar(30)": 30; kMaxLength for "(max)"; `none` without one.
uint32_t DeclaredLength(const std::string& args, uint32_t none) {
  if (args.empty()) return none;
  if (args == "max") return kMaxLength;
  int n = std::atoi(args.c_str());
  return n > 0 ? static_cast<uint32_t>(n) : none;
}

// The type SQL Server gives a column of a declared type ("varchar(20)",
// "datetime2(3)"); false for a name SQL Server does not have, or one whose
// column then follows what the provider reads.
bool TypeForDeclared(const std::string& declared, TypeInfo& info) {
  const size_t open = declared.find('(');
  std::string base = declared.substr(0, open);
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (const char* suffix : {" identity", " not null", " null"})
    if (base.size() > std::strlen(suffix) && base.ends_with(suffix))
      base.resize(base.size() - std::strlen(suffix));
  std::string args;
  if (open != std::string::npos) {
    const size_t close = declared.find(')', open);
    args = declared.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
  }
  auto text = [&](uint8_t type, uint32_t max_length) {
    info = Simple(type, max_length);
    info.collation.assign(kCollation, 5);
    return true;
  };
  // A string or binary type with its length in bytes; (max) or no length for
  // the variable types: SQLite bounds neither.
  auto sized = [&](uint8_t fixed, uint8_t variable, uint32_t unit, bool is_fixed) {
    uint32_t n = DeclaredLength(args, kMaxLength);
    const uint32_t inline_limit = 8000 / unit;
    if (n == kMaxLength || n > inline_limit) return std::pair<uint8_t, uint32_t>{variable, kMaxLength};
    return std::pair<uint8_t, uint32_t>{is_fixed ? fixed : variable, n * unit};
  };
  if (base == "int" || base == "integer") info = IntType(4);
  else if (base == "bigint") info = IntType(8);
  else if (base == "smallint") info = IntType(2);
  else if (base == "tinyint") info = IntType(1);
  else if (base == "bit") info = Simple(kBitN, 1);
  else if (base == "real") info = Simple(kFltN, 4);
  else if (base == "float") info = Simple(kFltN, DeclaredLength(args, 53) <= 24 ? 4 : 8);
  else if (base == "money") info = Simple(kMoneyN, 8);
  else if (base == "smallmoney") info = Simple(kMoneyN, 4);
  else if (base == "decimal" || base == "numeric" || base == "dec") {
    info = Simple(base == "numeric" ? kNumericN : kDecimalN);
    DecimalDigits(declared, info.precision, info.scale);
    info.max_length = DecimalBytes(info.precision);
  } else if (base == "datetime") info = Simple(kDateTimeN, 8);
  else if (base == "datetime2" || base == "time") {
    info = Simple(base == "time" ? kTimeN : kDateTime2N);
    info.scale = static_cast<uint8_t>(std::min<uint32_t>(DeclaredLength(args, 7), 7));
  } else if (base == "date") info = Simple(kDateN);
  else if (base == "uniqueidentifier") info = Simple(kGuid, 16);
  else if (base == "char" || base == "varchar" || base == "character") {
    auto [type, length] = sized(kBigChar, kBigVarChar, 1, base != "varchar");
    return text(type, length);
  } else if (base == "nchar" || base == "nvarchar") {
    auto [type, length] = sized(kNChar, kNVarChar, 2, base == "nchar");
    return text(type, length);
  } else if (base == "sysname") return text(kNVarChar, 256);
  else if (base == "binary" || base == "varbinary") {
    auto [type, length] = sized(kBigBinary, kBigVarBinary, 1, base == "binary");
    info = Simple(type, length);
  } else if (base == "image") info = Simple(kImage, 0x7FFFFFFF);
  else if (base == "text") return text(kText, 0x7FFFFFFF);
  else if (base == "ntext") return text(kNText, 0x7FFFFFFE);
  else return false;
  return true;
}

TypeInfo TypeForValue(const Variant& sample) {
  switch (sample.Type()) {
    case TVarType::Boolean: return Simple(kBitN, 1);
    case TVarType::Integer: return IntType(8);
    case TVarType::Float: return Simple(kFltN, 8);
    case TVarType::DateTime: return Simple(kDateTimeN, 8);
    case TVarType::Bytes: return Simple(kBigVarBinary, kMaxLength);
    default: return NVarCharType(0);
  }
}

}  // namespace

TypeInfo TypeForColumn(const providers::ColumnInfo& column, const Variant& sample) {
  TypeInfo declared;
  if (TypeForDeclared(column.declared_type, declared)) return declared;
  switch (column.type) {
    case ftSmallint: case ftWord: return IntType(2);
    case ftInteger: case ftAutoInc: return IntType(4);
    case ftLargeint: return IntType(8);
    case ftBoolean: return Simple(kBitN, 1);
    case ftFloat: return Simple(kFltN, 8);
    case ftCurrency: return Simple(kMoneyN, 8);
    case ftBCD: case ftFMTBcd: {
      TypeInfo info = Simple(kDecimalN);
      DecimalDigits(column.declared_type, info.precision, info.scale);
      info.max_length = DecimalBytes(info.precision);
      return info;
    }
    case ftDate: return Simple(kDateN);
    case ftTime: {
      TypeInfo info = Simple(kTimeN);
      info.scale = 7;
      return info;
    }
    case ftDateTime: case ftTimeStamp: return Simple(kDateTimeN, 8);
    case ftString: case ftFixedChar: case ftWideString: case ftFixedWideChar:
    case ftGuid:
      return NVarCharType(column.size > 0 ? static_cast<uint32_t>(column.size) : 0);
    case ftMemo: case ftWideMemo: case ftFmtMemo: case ftOraClob:
      return NVarCharType(0);
    case ftBlob: case ftBytes: case ftVarBytes: case ftGraphic: case ftTypedBinary:
    case ftOraBlob: case ftParadoxOle: case ftDBaseOle:
      return Simple(kBigVarBinary, kMaxLength);
    default:
      return TypeForValue(sample);
  }
}

}  // namespace tersify::testing::tds
