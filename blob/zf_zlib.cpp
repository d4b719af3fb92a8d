#include "blob/zf_zlib.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <limits>
#include <memory>

#include "framework/rtl/thread_slot.h"

namespace tersify {
namespace {

constexpr int64_t kMaxBytes = std::numeric_limits<int32_t>::max();

// Deflate never expands better than about 1,032 to 1 (a 258-byte match costs
// at least two bits); with the zlib header and trailer and a block's end this
// bounds the plain length that InBytes bytes of zlib stream can describe.
constexpr int64_t kMaxInflateRatio = 1032;

int64_t RoundUp256(int64_t n) { return (n + 255) / 256 * 256; }

// Owns an initialised deflate or inflate stream and ends it in every case.
// End() ends it explicitly and hands back zlib's result.
class ZStream {
 public:
  explicit ZStream(bool deflating) : deflating_(deflating) {}
  ZStream(const ZStream&) = delete;
  ZStream& operator=(const ZStream&) = delete;
  ~ZStream() {
    if (initialised_) deflating_ ? deflateEnd(&z) : inflateEnd(&z);
  }
  void MarkInitialised() { initialised_ = true; }
  int End() {
    initialised_ = false;
    return deflating_ ? deflateEnd(&z) : inflateEnd(&z);
  }

  z_stream z{};

 private:
  bool deflating_;
  bool initialised_ = false;
};

// libdeflate makes the same standard zlib stream as zlib, faster and a little
// smaller at levels 1 to 6, and decodes a stream of known plain length much
// faster at every level (bench_codec). Level 0 (stored blocks) and 7 to 9,
// where zlib is the faster, stay with zlib.
constexpr int kLibdeflateLowest = 1;
constexpr int kLibdeflateHighest = 6;

struct CompressorFree {
  void operator()(libdeflate_compressor* c) const noexcept { libdeflate_free_compressor(c); }
};
struct DecompressorFree {
  void operator()(libdeflate_decompressor* d) const noexcept { libdeflate_free_decompressor(d); }
};

// One compressor per level and one decompressor per thread, made on first use
// (they are not shared between threads, and making one costs more than a small
// value's compression), freed when the thread ends.
struct TCoders {
  std::array<std::unique_ptr<libdeflate_compressor, CompressorFree>, kLibdeflateHighest + 1> compressors;
  std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor;
};

TCoders& ThreadCoders() {
  static TThreadSlot<TCoders> slot;
  return slot.Get([] { return std::make_unique<TCoders>(); });
}

libdeflate_compressor* Compressor(int level) {
  auto& compressor = ThreadCoders().compressors[static_cast<size_t>(level)];
  if (!compressor) compressor.reset(libdeflate_alloc_compressor(level));
  if (!compressor) throw std::bad_alloc();
  return compressor.get();
}

libdeflate_decompressor* Decompressor() {
  auto& decompressor = ThreadCoders().decompressor;
  if (!decompressor) decompressor.reset(libdeflate_alloc_decompressor());
  if (!decompressor) throw std::bad_alloc();
  return decompressor.get();
}

void DeflateWithLibdeflate(const void* InBuf, int32_t InBytes, std::string& OutBuf,
                           int32_t& OutBytes, int Level) {
  libdeflate_compressor* compressor = Compressor(Level);
  // The bound is about the input's size, the stream mostly far less: a buffer
  // left uninitialised is only paged in as far as the stream reaches, and the
  // stream is copied out at its exact length.
  const size_t bound = libdeflate_zlib_compress_bound(compressor, static_cast<size_t>(InBytes));
  const std::unique_ptr<char[]> room = std::make_unique_for_overwrite<char[]>(bound);
  const size_t total =
      libdeflate_zlib_compress(compressor, InBuf, static_cast<size_t>(InBytes), room.get(), bound);
  if (total == 0 || total > static_cast<size_t>(kMaxBytes)) throw ECompressionError("error");
  OutBuf.assign(room.get(), total);
  OutBytes = static_cast<int32_t>(total);
}

enum class FastInflate { Done, Failed, NoRoom };

// Decodes into a buffer of the estimated size in one call. NoRoom when the
// plain value is longer than that (the growing zlib path then takes over).
FastInflate InflateWithLibdeflate(const void* InBuf, int32_t InBytes, int64_t capacity,
                                  std::string& OutBuf, int32_t& OutBytes, int32_t& UsedInBytes) {
  std::string out(static_cast<size_t>(capacity), '\0');
  size_t used_in = 0, produced = 0;
  // The _ex form reports the input it used, so bytes after the stream are allowed.
  const libdeflate_result result = libdeflate_zlib_decompress_ex(
      Decompressor(), InBuf, static_cast<size_t>(InBytes), out.data(), out.size(), &used_in, &produced);
  if (result == LIBDEFLATE_INSUFFICIENT_SPACE) return FastInflate::NoRoom;
  if (result != LIBDEFLATE_SUCCESS || produced > static_cast<size_t>(kMaxBytes)) return FastInflate::Failed;
  out.resize(produced);
  out.shrink_to_fit();
  OutBuf = std::move(out);
  OutBytes = static_cast<int32_t>(produced);
  UsedInBytes = static_cast<int32_t>(used_in);
  return FastInflate::Done;
}

}  // namespace

int CheckZlibResult(int Code) {
  if (Code < 0) throw ECompressionError("error");
  return Code;
}

void DeflateBuffer(const void* InBuf, int32_t InBytes, std::string& OutBuf, int32_t& OutBytes,
                   int Level) {
  OutBuf.clear();
  OutBytes = 0;
  if (InBytes < 0) throw ECompressionError("error");
  if (Level >= kLibdeflateLowest && Level <= kLibdeflateHighest) {
    DeflateWithLibdeflate(InBuf, InBytes, OutBuf, OutBytes, Level);
    return;
  }

  std::string out(static_cast<size_t>(RoundUp256(int64_t{InBytes} + InBytes / 10 + 12)), '\0');
  ZStream stream(true);
  z_stream& z = stream.z;
  z.next_in = static_cast<Bytef*>(const_cast<void*>(InBuf));
  z.avail_in = static_cast<uInt>(InBytes);
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  // deflateInit2 passes the interface version of the zlib we are built against.
  CheckZlibResult(deflateInit2(&z, Level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY));
  stream.MarkInitialised();

  while (CheckZlibResult(deflate(&z, Z_FINISH)) != Z_STREAM_END) {
    // Out of room: grow, keeping what was produced, and go on where it stopped.
    const size_t produced = out.size() - z.avail_out;
    const size_t grow = std::max<size_t>(256, RoundUp256(static_cast<int64_t>(out.size() / 2)));
    out.resize(out.size() + grow);
    z.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    z.avail_out = static_cast<uInt>(out.size() - produced);
  }
  const int64_t total = static_cast<int64_t>(z.total_out);
  CheckZlibResult(stream.End());
  if (total > kMaxBytes) throw ECompressionError("error");

  out.resize(static_cast<size_t>(total));
  out.shrink_to_fit();
  OutBuf = std::move(out);
  OutBytes = static_cast<int32_t>(total);
}

int64_t InflateFirstCapacity(int32_t InBytes, int32_t OutEstimate) {
  const int64_t step = RoundUp256(std::max<int32_t>(InBytes, 0));
  if (OutEstimate <= 0) return step;
  // A damaged estimate must not ask for more than the input can possibly give.
  const int64_t bound = std::min(kMaxBytes, RoundUp256(kMaxInflateRatio * std::max<int32_t>(InBytes, 0) + 256));
  return std::min<int64_t>(OutEstimate, bound);
}

int64_t InflateGrownCapacity(int64_t capacity, int32_t InBytes) {
  const int64_t step = std::max<int64_t>(RoundUp256(std::max<int32_t>(InBytes, 0)), 256);
  return std::min(kMaxBytes, capacity + std::max(step, capacity));
}

void InflateBuffer(const void* InBuf, int32_t InBytes, int32_t OutEstimate, std::string& OutBuf,
                   int32_t& OutBytes, int32_t* UsedInBytes) {
  OutBuf.clear();
  OutBytes = 0;
  if (UsedInBytes) *UsedInBytes = 0;
  if (InBytes < 0) return;
  int32_t used_in = 0;
  // With an estimate (an envelope's plain length) one call usually does it all.
  if (OutEstimate > 0) {
    switch (InflateWithLibdeflate(InBuf, InBytes, InflateFirstCapacity(InBytes, OutEstimate), OutBuf,
                                  OutBytes, used_in)) {
      case FastInflate::Done:
        if (UsedInBytes) *UsedInBytes = used_in;
        return;
      case FastInflate::Failed: return;  // data error, truncated input, dictionary wanted: empty result
      case FastInflate::NoRoom: break;  // a short estimate: grow as zlib goes
    }
  }

  std::string out(static_cast<size_t>(std::max<int64_t>(InflateFirstCapacity(InBytes, OutEstimate), 1)),
                  '\0');
  ZStream stream(false);
  z_stream& z = stream.z;
  z.next_in = static_cast<Bytef*>(const_cast<void*>(InBuf));
  z.avail_in = static_cast<uInt>(InBytes);
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  // inflateInit passes the interface version of the zlib we are built against.
  if (inflateInit(&z) < 0) return;
  stream.MarkInitialised();

  for (;;) {
    const int result = inflate(&z, Z_NO_FLUSH);
    if (result == Z_STREAM_END) break;
    if (result != Z_OK) return;  // data error, truncated input, dictionary wanted: empty result
    if (z.avail_out != 0) continue;  // input used up: the next call tells whether it was complete
    // Out of room: grow geometrically (at least one step), but never beyond the
    // largest length the format can describe.
    const int64_t produced = static_cast<int64_t>(out.size()) - z.avail_out;
    if (produced >= kMaxBytes) return;
    const int64_t capacity = InflateGrownCapacity(static_cast<int64_t>(out.size()), InBytes);
    out.resize(static_cast<size_t>(capacity));
    z.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    z.avail_out = static_cast<uInt>(capacity - produced);
  }
  const int64_t total = static_cast<int64_t>(z.total_out);
  const int32_t stream_bytes = InBytes - static_cast<int32_t>(z.avail_in);
  if (stream.End() < 0) return;
  out.resize(static_cast<size_t>(total));
  out.shrink_to_fit();
  OutBuf = std::move(out);
  OutBytes = static_cast<int32_t>(total);
  if (UsedInBytes) *UsedInBytes = stream_bytes;
}

}  // namespace tersify
