#pragma once
// Test data for the codec and envelope suites, and an independent reading and
// writing of the envelope that uses zlib directly (never the code under test).

#include <zlib.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace tersify::test {

enum class DataKind { Empty, OneByte, Zeros, ReportText, Random, MixedRecords };

inline const char* DataKindName(DataKind kind) {
  switch (kind) {
    case DataKind::Empty: return "Empty";
    case DataKind::OneByte: return "OneByte";
    case DataKind::Zeros: return "Zeros";
    case DataKind::ReportText: return "ReportText";
    case DataKind::Random: return "Random";
    case DataKind::MixedRecords: return "MixedRecords";
  }
  return "Unknown";
}

// Deterministic data of a kind; size is ignored by Empty and OneByte.
inline std::string MakeData(DataKind kind, size_t size) {
  std::mt19937 rng(12345);
  std::string s;
  switch (kind) {
    case DataKind::Empty: return s;
    case DataKind::OneByte: return std::string(1, '\x7f');
    case DataKind::Zeros: return std::string(size, '\0');
    case DataKind::ReportText: {
      const char* words[] = {"Invoice", "total", "EUR", "customer", "12.50", "VAT", "line", "\r\n"};
      while (s.size() < size) {
        s += words[rng() % 8];
        s += ' ';
      }
      break;
    }
    case DataKind::Random:
      s.resize(size);
      for (char& c : s) c = static_cast<char>(rng());
      break;
    case DataKind::MixedRecords:
      // Fixed-layout records: a counter, a random amount, and padding.
      while (s.size() < size) {
        uint32_t n = static_cast<uint32_t>(s.size() / 16), amount = rng() % 1000;
        s.append(reinterpret_cast<const char*>(&n), 4);
        s.append(reinterpret_cast<const char*>(&amount), 4);
        s.append(8, ' ');
      }
      break;
  }
  s.resize(size);
  return s;
}

// One zlib stream of plain at level, made by zlib itself.
inline std::string ZlibCompress(const std::string& plain, int level) {
  uLongf length = compressBound(plain.size());
  std::string out(length, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &length,
                reinterpret_cast<const Bytef*>(plain.data()), plain.size(), level) != Z_OK)
    throw std::runtime_error("compress2 failed");
  out.resize(length);
  return out;
}

// Decodes one complete zlib stream that must fill all of stream; throws otherwise.
inline std::string ZlibDecompress(const std::string& stream) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw std::runtime_error("inflateInit failed");
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  z.avail_in = static_cast<uInt>(stream.size());
  std::string out;
  char chunk[65536];
  int result;
  do {
    z.next_out = reinterpret_cast<Bytef*>(chunk);
    z.avail_out = sizeof chunk;
    result = inflate(&z, Z_NO_FLUSH);
    out.append(chunk, sizeof chunk - z.avail_out);
  } while (result == Z_OK);
  const uInt left = z.avail_in;
  inflateEnd(&z);
  if (result != Z_STREAM_END) throw std::runtime_error("not a zlib stream");
  if (left != 0) throw std::runtime_error("bytes after the zlib stream");
  return out;
}

// The 16-byte header, built by hand: signature, letter, length, zeros.
inline std::string EnvelopeHeader(char letter, int32_t length) {
  std::string h = "PKZ#900";
  h += letter;
  uint32_t u = static_cast<uint32_t>(length);
  for (int i = 0; i < 4; ++i) h += static_cast<char>((u >> (8 * i)) & 0xff);
  h.append(4, '\0');
  return h;
}

struct ParsedEnvelope {
  char letter = 0;
  int32_t length = 0;
  std::string reserved;  // bytes 12-15
  std::string payload;
};

// Splits an envelope by hand; throws when bytes do not form one.
inline ParsedEnvelope ParseEnvelope(const std::string& stored) {
  if (stored.size() < 16 || stored.compare(0, 7, "PKZ#900") != 0)
    throw std::runtime_error("not an envelope");
  ParsedEnvelope e;
  e.letter = stored[7];
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= uint32_t{static_cast<unsigned char>(stored[8 + i])} << (8 * i);
  e.length = static_cast<int32_t>(u);
  e.reserved = stored.substr(12, 4);
  e.payload = stored.substr(16);
  return e;
}

}  // namespace tersify::test
