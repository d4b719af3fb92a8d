#include "bench/envelope_rules.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace tersify::bench {
namespace {

const char kSignature[] = "PKZ#900Z";

}  // namespace

bool IsEnvelope(const char* data, size_t size) {
  return size >= kEnvelopeHeader && std::memcmp(data, kSignature, 8) == 0;
}

bool Compress(const char* data, size_t size, std::string& out) {
  uLongf length = compressBound(static_cast<uLong>(size));
  out.resize(kEnvelopeHeader + length);
  if (compress2(reinterpret_cast<Bytef*>(out.data() + kEnvelopeHeader), &length,
                reinterpret_cast<const Bytef*>(data), static_cast<uLong>(size), 6) != Z_OK)
    throw std::runtime_error("compress2 failed");
  if (kEnvelopeHeader + length >= size) return false;
  out.resize(kEnvelopeHeader + length);
  std::memcpy(out.data(), kSignature, 8);
  const uint32_t plain = static_cast<uint32_t>(size);
  for (int i = 0; i < 4; ++i) out[8 + i] = static_cast<char>(plain >> (8 * i));
  std::memset(out.data() + 12, 0, 4);
  return true;
}

void Decompress(const char* data, size_t size, std::string& out) {
  uint32_t plain = 0;
  for (int i = 0; i < 4; ++i) plain |= static_cast<uint32_t>(static_cast<unsigned char>(data[8 + i])) << (8 * i);
  out.resize(plain);
  uLongf length = plain;
  if (uncompress(reinterpret_cast<Bytef*>(out.data()), &length,
                 reinterpret_cast<const Bytef*>(data + kEnvelopeHeader),
                 static_cast<uLong>(size - kEnvelopeHeader)) != Z_OK ||
      length != plain)
    throw std::runtime_error("a damaged envelope");
}

bool Rewrite(bool compress, const char* data, size_t size, std::string& out) {
  if (!data || size <= kSmallestRewritten) return false;
  const bool envelope = IsEnvelope(data, size);
  if (compress) return !envelope && Compress(data, size, out);
  if (!envelope) return false;
  Decompress(data, size, out);
  return true;
}

}  // namespace tersify::bench
