// Writes a small seed corpus for tersify_fuzz_blob into a directory: valid
// envelopes of several sizes and levels (made by TCBlobStream itself), their
// plain values, and their zlib payloads with right and wrong size estimates.
//   tersify_fuzz_seeds <directory>

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "blob/cblob_stream.h"

using namespace tersify;

namespace {

int written = 0;

void Seed(const std::string& dir, char mode, const std::string& body) {
  std::ofstream out(dir + "/seed-" + std::to_string(written++), std::ios::binary);
  out.put(mode);
  out << body;
}

std::string Le32(int32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xff);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  mkdir(dir.c_str(), 0755);

  const std::string values[] = {
      std::string(100, 'a'),
      "Invoice 2024-0001\r\nCustomer: ACME\r\nTotal: 12.50 EUR\r\n" + std::string(200, ' '),
      std::string(3000, '\0'),
      "abcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabc",
  };
  for (const std::string& plain : values) {
    for (TvrCompressionLevel level : {clFastest, clNormal, clMax}) {
      TMemoryStream stored;
      {
        TCBlobStream writer(stored, true);
        writer.SetCompressionLevel(level);
        writer.SetCompressed(true);
        writer.WriteString(plain);
        writer.Close();
      }
      const std::string& envelope = stored.Bytes();
      Seed(dir, '\0', envelope);
      if (envelope.size() > kEnvelopeHeaderSize && envelope.compare(0, 7, kEnvelopeSignature) == 0) {
        const std::string payload = envelope.substr(kEnvelopeHeaderSize);
        Seed(dir, '\1', Le32(static_cast<int32_t>(plain.size())) + payload);
        Seed(dir, '\1', Le32(0) + payload);
        Seed(dir, '\1', Le32(INT32_MAX) + payload);
      }
    }
    Seed(dir, '\0', plain);
  }
  std::printf("%d seeds in %s\n", written, dir.c_str());
  return 0;
}
