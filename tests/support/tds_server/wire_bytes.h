#pragma once
// Building and reading the little-endian byte strings that TDS messages are
// made of. A reader never reads past its end: a short message raises
// ProtocolError instead.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tersify::testing::tds {

// A client message the server cannot make sense of; the connection is dropped.
class ProtocolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ByteWriter {
 public:
  void U8(uint8_t v) { bytes_.push_back(static_cast<char>(v)); }
  void U16(uint16_t v);
  void U16BE(uint16_t v);
  void U32(uint32_t v);
  void U32BE(uint32_t v);
  void U64(uint64_t v);
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void I64(int64_t v) { U64(static_cast<uint64_t>(v)); }
  void F64(double v);
  void Raw(std::string_view data) { bytes_.append(data); }
  // UTF-8 text as UTF-16LE, without a length.
  void Utf16(std::string_view utf8);
  // Text preceded by its length in UTF-16 units: one byte (B_VARCHAR) or two (US_VARCHAR).
  void BVarchar(std::string_view utf8);
  void UsVarchar(std::string_view utf8);

  // Writes a u16 at an earlier position (a length known only afterwards).
  void PatchU16(size_t at, uint16_t v);
  size_t Size() const { return bytes_.size(); }
  const std::string& Bytes() const { return bytes_; }
  std::string Take() { return std::move(bytes_); }
  void Clear() { bytes_.clear(); }

 private:
  std::string bytes_;
};

class ByteReader {
 public:
  explicit ByteReader(std::string_view data) : data_(data) {}

  uint8_t U8();
  uint16_t U16();
  uint16_t U16BE();
  uint32_t U32();
  uint64_t U64();
  int32_t I32() { return static_cast<int32_t>(U32()); }
  int64_t I64() { return static_cast<int64_t>(U64()); }
  double F64();
  float F32();
  std::string_view Raw(size_t n);
  void Skip(size_t n) { Raw(n); }
  // `chars` UTF-16 units read and returned as UTF-8.
  std::string Utf16(size_t chars);
  std::string BVarchar() { return Utf16(U8()); }
  std::string UsVarchar() { return Utf16(U16()); }

  size_t Position() const { return pos_; }
  size_t Remaining() const { return data_.size() - pos_; }
  bool AtEnd() const { return pos_ == data_.size(); }

 private:
  void Need(size_t n) const;
  std::string_view data_;
  size_t pos_ = 0;
};

// UTF-8 <-> UTF-16LE. Bytes that are no valid UTF-8 are taken as Latin-1
// characters, so no text is ever refused; unpaired surrogates become U+FFFD.
std::string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::string_view utf16le);

}  // namespace tersify::testing::tds
