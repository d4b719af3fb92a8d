#pragma once
// The rules the baseline loops share with the tool: values of 100 bytes or
// less, and values already in the wanted form, are left alone; compressing
// takes zlib's compress2 at level 6 behind the 16-byte envelope header, and an
// envelope is stored only when it is smaller than the plain value.

#include <cstddef>
#include <string>

namespace tersify::bench {

inline constexpr size_t kEnvelopeHeader = 16;
inline constexpr size_t kSmallestRewritten = 100;  // values this long or shorter stay as they are

// The value begins with the envelope's signature and is at least a header long.
bool IsEnvelope(const char* data, size_t size);

// The envelope of a plain value in out; false (out unspecified) when it would
// not be smaller.
bool Compress(const char* data, size_t size, std::string& out);

// The plain value of an envelope in out; throws std::runtime_error when the
// stream does not decode to the length its header gives.
void Decompress(const char* data, size_t size, std::string& out);

// The new form of a stored value in out for a compress or a decompress pass;
// false when the value stays as it is.
bool Rewrite(bool compress, const char* data, size_t size, std::string& out);

}  // namespace tersify::bench
