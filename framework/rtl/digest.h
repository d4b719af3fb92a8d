#pragma once
// Message digests of byte strings: OpenSSL on Linux, Windows' CNG (bcrypt)
// on Windows.

#include <cstddef>
#include <string>

namespace tersify {

enum class TDigestAlgorithm { Md5, Sha1, Sha256, Sha512 };

// The digest's bytes (16, 20, 32 or 64 of them). Raises Exception when the
// platform cannot compute it.
std::string ComputeDigest(TDigestAlgorithm algorithm, const void* data, size_t size);

inline std::string ComputeDigest(TDigestAlgorithm algorithm, const std::string& bytes) {
  return ComputeDigest(algorithm, bytes.data(), bytes.size());
}

}  // namespace tersify
