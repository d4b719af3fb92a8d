// libFuzzer target for the blob envelope. The first byte chooses what the rest is:
//   even: a stored value, read through TCBlobStream in read mode; a value read
//         as plain must come back byte for byte, and a (small) plain value is
//         written back with compression and must read back the same;
//   odd:  four bytes of size estimate (little-endian) and a zlib stream for
//         InflateBuffer, whose result is checked against zlib's own decoding.
// Any other error than the documented ones aborts, as does a wrong result.

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "blob/cblob_stream.h"
#include "blob/zf_zlib.h"
#include "framework/rtl/exception.h"

namespace {

using namespace tersify;

void Check(bool ok) {
  if (!ok) std::abort();
}

// zlib's own reading of a stream: the plain bytes, or false when it is no
// complete stream.
bool ZlibDecode(const uint8_t* data, size_t size, std::string& out) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  char chunk[16384];
  int result;
  do {
    z.next_out = reinterpret_cast<Bytef*>(chunk);
    z.avail_out = sizeof chunk;
    result = inflate(&z, Z_NO_FLUSH);
    out.append(chunk, sizeof chunk - z.avail_out);
  } while (result == Z_OK && out.size() < (64u << 20));
  inflateEnd(&z);
  return result == Z_STREAM_END;
}

void FuzzInflate(const uint8_t* data, size_t size) {
  uint32_t raw = 0;
  if (size >= 4) {
    std::memcpy(&raw, data, 4);
    data += 4;
    size -= 4;
  }
  std::string out;
  int32_t bytes = -1;
  InflateBuffer(data, static_cast<int32_t>(size), static_cast<int32_t>(raw), out, bytes);
  Check(bytes == static_cast<int32_t>(out.size()));
  std::string expected;
  if (ZlibDecode(data, size, expected))
    Check(out == expected);
  else
    Check(bytes == 0);
}

void FuzzEnvelope(const uint8_t* data, size_t size) {
  const std::string stored(reinterpret_cast<const char*>(data), size);
  std::string plain;
  try {
    TCBlobStream reader(std::make_unique<TMemoryStream>(stored), false);
    Check(reader.Position() == 0);
    plain = reader.ReadAll();
    Check(reader.Size() == static_cast<int64_t>(plain.size()));
    if (!reader.Compressed()) Check(plain == stored);
    if (!plain.empty()) {
      Check(reader.Seek32(-1, TSeekOrigin::soEnd) == static_cast<int32_t>(plain.size() - 1));
      char last = 0;
      Check(reader.Read(&last, 1) == 1 && last == plain.back());
    }
  } catch (const Exception& e) {
    const std::string& m = e.Message();
    Check(m == "BZIP compression not defined" || m == "PPM compression not defined" ||
          m == "LZMA compression not defined");
    return;
  }

  // Write it back compressed and read it again. A value that itself begins
  // with the signature is stored as it stands and would be decoded on reading.
  if (plain.size() > 65536 || plain.compare(0, 7, kEnvelopeSignature) == 0) return;
  for (TvrCompressionLevel level : {clFastest, clNormal}) {
    TMemoryStream again;
    TCBlobStream writer(again, true);
    writer.SetCompressionLevel(level);
    writer.SetCompressed(true);
    writer.WriteString(plain);
    writer.Close();
    Check(again.Size() <= static_cast<int64_t>(plain.size()) + kEnvelopeHeaderSize - 1);
    TCBlobStream check(again, false);
    Check(check.ReadAll() == plain);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1)
    FuzzInflate(data + 1, size - 1);
  else
    FuzzEnvelope(data + 1, size - 1);
  return 0;
}
