#pragma once
// The zlib buffer codec: a whole memory buffer to one zlib stream (RFC 1950
// around RFC 1951) and back, in one call each. Compression raises on failure;
// decompression reports failure as an empty result, so that a blob that cannot
// be decoded can still be read as its raw bytes.

#include <cstdint>
#include <string>

#include "framework/rtl/exception.h"

namespace tersify {

class EZlibError : public Exception {
 public:
  using Exception::Exception;
};

// Raised by compression with the message "error".
class ECompressionError : public EZlibError {
 public:
  using EZlibError::EZlibError;
};

// Returns Code when it is 0 or more; raises ECompressionError("error") when negative.
int CheckZlibResult(int Code);

// Compresses InBytes bytes at InBuf at zlib level Level (0-9) into one zlib
// stream (deflate, 15-bit window, memory level 8, default strategy). On return
// OutBuf holds exactly OutBytes bytes. Raises ECompressionError on any zlib
// failure (also for a negative InBytes); OutBuf and OutBytes are then left empty.
void DeflateBuffer(const void* InBuf, int32_t InBytes, std::string& OutBuf, int32_t& OutBytes,
                   int Level);

// Decodes the zlib stream of InBytes bytes at InBuf. OutEstimate is the expected
// plain length and only sizes the first output buffer: an estimate of 0 or less
// starts with the input length rounded up to 256; an estimate larger than what
// deflate can produce from InBytes bytes (about 1,032 times the input) is
// bounded by that. On success OutBuf holds exactly OutBytes plain bytes; on any
// failure (bad header, data error, bad Adler-32, truncated input, a preset
// dictionary asked for, a plain value of 2 GiB or more) OutBuf is empty and
// OutBytes is 0. Bytes after the end of the zlib stream are ignored; on
// success UsedInBytes, when given, receives the length of the stream itself.
// Only an allocation failure propagates.
void InflateBuffer(const void* InBuf, int32_t InBytes, int32_t OutEstimate, std::string& OutBuf,
                   int32_t& OutBytes, int32_t* UsedInBytes = nullptr);

// The size of InflateBuffer's first output buffer for the given input length and
// estimate (exposed so that the bound on a damaged estimate can be checked).
int64_t InflateFirstCapacity(int32_t InBytes, int32_t OutEstimate);
// The output capacity after InflateBuffer runs out of room at capacity: at
// least one step (the input length rounded up to 256) more, and at least
// double, so that the output is copied a bounded number of times; never beyond
// the largest signed 32-bit length.
int64_t InflateGrownCapacity(int64_t capacity, int32_t InBytes);

}  // namespace tersify
