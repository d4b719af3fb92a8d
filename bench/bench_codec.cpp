// zlib and libdeflate side by side on the report-like values of bench_pass, in
// one run: each value compressed at one level into a zlib stream (RFC 1950)
// and decompressed knowing its plain length, as an envelope allows.
//
//   bench_codec [--rows N] [--size BYTES] [--level L] [--seed S]
//
// Prints MB/s of each direction, the compressed share of each library and the
// speed ratios. Exits with 1 when a value does not come back unchanged, or
// when a libdeflate stream does not decode with zlib's own uncompress.

#include <libdeflate.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/report_data.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct Totals {
  double compress_s = 0, decompress_s = 0;
  size_t packed = 0;
};

}  // namespace

int main(int argc, char** argv) {
  int rows = 2000, level = 6;
  size_t size = 40 * 1024;
  uint64_t seed = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--rows") rows = std::stoi(argv[i + 1]);
    else if (arg == "--size") size = std::stoul(argv[i + 1]);
    else if (arg == "--level") level = std::stoi(argv[i + 1]);
    else if (arg == "--seed") seed = std::stoull(argv[i + 1]);
  }
  try {
    tersify::bench::ReportGenerator generator(seed);
    std::vector<std::string> values;
    values.reserve(static_cast<size_t>(rows));
    for (int i = 1; i <= rows; ++i) values.push_back(tersify::bench::RowValue(generator, i, size));
    const double megabytes = static_cast<double>(size) * rows / (1024.0 * 1024.0);

    std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> compressor(
        libdeflate_alloc_compressor(level), libdeflate_free_compressor);
    std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> decompressor(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    if (!compressor || !decompressor) throw std::runtime_error("libdeflate cannot start");

    Totals zlib, deflate;
    std::string packed, plain;
    bool ok = true;
    for (const std::string& value : values) {
      // zlib
      uLongf length = compressBound(static_cast<uLong>(value.size()));
      packed.resize(length);
      auto start = Clock::now();
      if (compress2(reinterpret_cast<Bytef*>(packed.data()), &length,
                    reinterpret_cast<const Bytef*>(value.data()), static_cast<uLong>(value.size()),
                    level) != Z_OK)
        throw std::runtime_error("compress2 failed");
      zlib.compress_s += Seconds(Clock::now() - start);
      zlib.packed += length;
      plain.resize(value.size());
      uLongf plain_length = static_cast<uLongf>(plain.size());
      start = Clock::now();
      const int rc = uncompress(reinterpret_cast<Bytef*>(plain.data()), &plain_length,
                                reinterpret_cast<const Bytef*>(packed.data()), length);
      zlib.decompress_s += Seconds(Clock::now() - start);
      ok = ok && rc == Z_OK && plain == value;

      // libdeflate
      packed.resize(libdeflate_zlib_compress_bound(compressor.get(), value.size()));
      start = Clock::now();
      const size_t n = libdeflate_zlib_compress(compressor.get(), value.data(), value.size(),
                                                packed.data(), packed.size());
      deflate.compress_s += Seconds(Clock::now() - start);
      if (n == 0) throw std::runtime_error("libdeflate_zlib_compress failed");
      deflate.packed += n;
      size_t actual = 0;
      start = Clock::now();
      const libdeflate_result r = libdeflate_zlib_decompress(decompressor.get(), packed.data(), n,
                                                             plain.data(), plain.size(), &actual);
      deflate.decompress_s += Seconds(Clock::now() - start);
      ok = ok && r == LIBDEFLATE_SUCCESS && actual == value.size() && plain == value;
      // A libdeflate stream is a standard one: zlib decodes it.
      plain_length = static_cast<uLongf>(plain.size());
      ok = ok && uncompress(reinterpret_cast<Bytef*>(plain.data()), &plain_length,
                            reinterpret_cast<const Bytef*>(packed.data()), n) == Z_OK &&
           plain == value;
    }

    const double total = static_cast<double>(size) * rows;
    std::printf("%d values of %zu bytes (%.1f MB), level %d\n", rows, size, megabytes, level);
    std::printf("  %-11s %12s %14s %12s\n", "", "compress", "decompress", "size");
    std::printf("  %-11s %7.1f MB/s %9.1f MB/s %11.2f%%\n", "zlib", megabytes / zlib.compress_s,
                megabytes / zlib.decompress_s, 100.0 * static_cast<double>(zlib.packed) / total);
    std::printf("  %-11s %7.1f MB/s %9.1f MB/s %11.2f%%\n", "libdeflate", megabytes / deflate.compress_s,
                megabytes / deflate.decompress_s, 100.0 * static_cast<double>(deflate.packed) / total);
    std::printf("  libdeflate / zlib: compress %.2fx as fast, decompress %.2fx as fast, size %.3f\n",
                zlib.compress_s / deflate.compress_s, zlib.decompress_s / deflate.decompress_s,
                static_cast<double>(deflate.packed) / static_cast<double>(zlib.packed));
    if (!ok) {
      std::printf("  a value did not come back unchanged\n");
      return 1;
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_codec: %s\n", e.what());
    return 2;
  }
}
