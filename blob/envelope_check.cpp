#include "blob/envelope_check.h"

#include <zlib.h>

#include <array>
#include <cstring>
#include <limits>

#include "blob/cblob_stream.h"

namespace tersify {
namespace {

const char* AlgorithmName(char letter) {
  switch (letter) {
    case 'B': return "BZIP";
    case 'P': return "PPM";
    case 'M': return "LZMA";
    default: return nullptr;
  }
}

// zlib's inflate state, ended in every case.
class Inflater {
 public:
  Inflater() { ok_ = inflateInit(&z_) == Z_OK; }
  ~Inflater() {
    if (ok_) inflateEnd(&z_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  bool ok() const { return ok_; }
  z_stream& z() { return z_; }

 private:
  z_stream z_{};
  bool ok_ = false;
};

EnvelopeCheck Damaged(EnvelopeCheck check, std::string reason) {
  check.form = StoredForm::Damaged;
  check.reason = std::move(reason);
  return check;
}

EnvelopeCheck CheckZlibPayload(EnvelopeCheck check, std::string_view payload) {
  if (payload.empty()) return Damaged(check, "the envelope has no payload");
  Inflater inflater;
  if (!inflater.ok()) return Damaged(check, "zlib could not be initialised");
  z_stream& z = inflater.z();
  // zlib counts its input in 32-bit pieces; feed larger payloads in slices.
  constexpr size_t kSlice = size_t{1} << 30;
  size_t fed = 0;
  std::array<unsigned char, 64 * 1024> out{};
  int result = Z_OK;
  while (result == Z_OK) {
    if (z.avail_in == 0 && fed < payload.size()) {
      const size_t slice = std::min(kSlice, payload.size() - fed);
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(payload.data() + fed));
      z.avail_in = static_cast<uInt>(slice);
      fed += slice;
    }
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    result = inflate(&z, Z_NO_FLUSH);
    check.plain_length += static_cast<int64_t>(out.size() - z.avail_out);
    if (result == Z_BUF_ERROR && z.avail_in == 0 && fed == payload.size()) break;
    if (result == Z_BUF_ERROR) result = Z_OK;  // no progress possible this round only
  }
  if (result == Z_NEED_DICT) return Damaged(check, "the payload asks for a preset dictionary");
  if (result == Z_DATA_ERROR) {
    const std::string what = z.msg ? z.msg : "invalid data";
    return Damaged(check, "the payload is not a valid zlib stream (" + what + ") after " +
                              std::to_string(check.plain_length) + " decoded bytes");
  }
  if (result == Z_MEM_ERROR) return Damaged(check, "zlib ran out of memory decoding the payload");
  if (result != Z_STREAM_END)
    return Damaged(check, "the payload is cut short after " + std::to_string(check.plain_length) +
                              " of " + std::to_string(check.header_length) + " bytes");
  const size_t trailing = z.avail_in + (payload.size() - fed);
  if (trailing != 0)
    return Damaged(check, std::to_string(trailing) + " bytes follow the end of the zlib stream");
  if (check.plain_length == 0) return Damaged(check, "the payload decodes to no bytes");
  // The header keeps the plain length's low 32 bits as a signed number.
  if (static_cast<uint32_t>(check.plain_length) != static_cast<uint32_t>(check.header_length) ||
      check.plain_length > std::numeric_limits<int32_t>::max())
    return Damaged(check, "the payload decodes to " + std::to_string(check.plain_length) +
                              " bytes, the header says " + std::to_string(check.header_length));
  check.form = StoredForm::Compressed;
  return check;
}

}  // namespace

EnvelopeCheck CheckStoredValue(std::string_view stored) {
  EnvelopeCheck check;
  if (stored.size() < static_cast<size_t>(kEnvelopeHeaderSize) ||
      stored.compare(0, 7, kEnvelopeSignature) != 0)
    return check;
  const char letter = stored[7];
  if (letter != 'Z' && AlgorithmName(letter) == nullptr) return check;

  uint32_t length = 0;
  for (int i = 0; i < 4; ++i)
    length |= uint32_t{static_cast<unsigned char>(stored[8 + i])} << (8 * i);
  check.header_length = static_cast<int32_t>(length);
  if (letter != 'Z')
    return Damaged(check, std::string("the algorithm ") + letter + " (" + AlgorithmName(letter) +
                              ") is not one this tool reads");
  return CheckZlibPayload(check, stored.substr(kEnvelopeHeaderSize));
}

}  // namespace tersify
