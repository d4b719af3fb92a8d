#include "tests/support/tds_server/wire_bytes.h"

#include <cstring>

namespace tersify::testing::tds {

void ByteWriter::U16(uint16_t v) {
  U8(static_cast<uint8_t>(v));
  U8(static_cast<uint8_t>(v >> 8));
}

void ByteWriter::U16BE(uint16_t v) {
  U8(static_cast<uint8_t>(v >> 8));
  U8(static_cast<uint8_t>(v));
}

void ByteWriter::U32(uint32_t v) {
  U16(static_cast<uint16_t>(v));
  U16(static_cast<uint16_t>(v >> 16));
}

void ByteWriter::U32BE(uint32_t v) {
  U16BE(static_cast<uint16_t>(v >> 16));
  U16BE(static_cast<uint16_t>(v));
}

void ByteWriter::U64(uint64_t v) {
  U32(static_cast<uint32_t>(v));
  U32(static_cast<uint32_t>(v >> 32));
}

void ByteWriter::F64(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  U64(bits);
}

void ByteWriter::Utf16(std::string_view utf8) { bytes_ += Utf8ToUtf16(utf8); }

void ByteWriter::BVarchar(std::string_view utf8) {
  std::string wide = Utf8ToUtf16(utf8);
  if (wide.size() / 2 > 255) wide.resize(255 * 2);
  U8(static_cast<uint8_t>(wide.size() / 2));
  bytes_ += wide;
}

void ByteWriter::UsVarchar(std::string_view utf8) {
  std::string wide = Utf8ToUtf16(utf8);
  if (wide.size() / 2 > 65535) wide.resize(65535 * 2);
  U16(static_cast<uint16_t>(wide.size() / 2));
  bytes_ += wide;
}

void ByteWriter::PatchU16(size_t at, uint16_t v) {
  bytes_[at] = static_cast<char>(v);
  bytes_[at + 1] = static_cast<char>(v >> 8);
}

void ByteReader::Need(size_t n) const {
  if (n > Remaining()) throw ProtocolError("message ends early");
}

uint8_t ByteReader::U8() {
  Need(1);
  return static_cast<uint8_t>(data_[pos_++]);
}

uint16_t ByteReader::U16() {
  uint16_t lo = U8();
  return static_cast<uint16_t>(lo | (U8() << 8));
}

uint16_t ByteReader::U16BE() {
  uint16_t hi = U8();
  return static_cast<uint16_t>((hi << 8) | U8());
}

uint32_t ByteReader::U32() {
  uint32_t lo = U16();
  return lo | (static_cast<uint32_t>(U16()) << 16);
}

uint64_t ByteReader::U64() {
  uint64_t lo = U32();
  return lo | (static_cast<uint64_t>(U32()) << 32);
}

double ByteReader::F64() {
  uint64_t bits = U64();
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

float ByteReader::F32() {
  uint32_t bits = U32();
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

std::string_view ByteReader::Raw(size_t n) {
  Need(n);
  std::string_view out = data_.substr(pos_, n);
  pos_ += n;
  return out;
}

std::string ByteReader::Utf16(size_t chars) { return Utf16ToUtf8(Raw(chars * 2)); }

namespace {

void PutUnit(std::string& out, uint32_t unit) {
  out.push_back(static_cast<char>(unit & 0xFF));
  out.push_back(static_cast<char>(unit >> 8));
}

void PutCodePoint16(std::string& out, uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    PutUnit(out, 0xD800 + (cp >> 10));
    PutUnit(out, 0xDC00 + (cp & 0x3FF));
  } else {
    PutUnit(out, cp);
  }
}

void PutCodePoint8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Length of the valid UTF-8 sequence at s[i], 0 when there is none.
size_t Utf8Sequence(std::string_view s, size_t i, uint32_t& cp) {
  auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  uint8_t b = byte(i);
  size_t n;
  uint32_t min;
  if (b < 0x80) {
    cp = b;
    return 1;
  } else if ((b & 0xE0) == 0xC0) {
    n = 2, cp = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    n = 3, cp = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    n = 4, cp = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string Utf8ToUtf16(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() * 2);
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp;
    size_t n = Utf8Sequence(utf8, i, cp);
    if (n == 0) {
      cp = static_cast<uint8_t>(utf8[i]);
      n = 1;
    }
    PutCodePoint16(out, cp);
    i += n;
  }
  return out;
}

std::string Utf16ToUtf8(std::string_view utf16le) {
  std::string out;
  out.reserve(utf16le.size() / 2);
  auto unit = [&](size_t k) {
    return static_cast<uint32_t>(static_cast<uint8_t>(utf16le[2 * k]) |
                                 (static_cast<uint8_t>(utf16le[2 * k + 1]) << 8));
  };
  size_t units = utf16le.size() / 2;
  for (size_t k = 0; k < units; ++k) {
    uint32_t u = unit(k);
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units && unit(k + 1) >= 0xDC00 &&
        unit(k + 1) <= 0xDFFF) {
      PutCodePoint8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(k + 1) - 0xDC00));
      ++k;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      PutCodePoint8(out, 0xFFFD);
    } else {
      PutCodePoint8(out, u);
    }
  }
  return out;
}

}  // namespace tersify::testing::tds
