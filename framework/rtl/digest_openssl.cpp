#include <openssl/evp.h>

#include "framework/rtl/digest.h"
#include "framework/rtl/exception.h"

namespace tersify {
namespace {

const EVP_MD* Md(TDigestAlgorithm algorithm) {
  switch (algorithm) {
    case TDigestAlgorithm::Md5: return EVP_md5();
    case TDigestAlgorithm::Sha1: return EVP_sha1();
    case TDigestAlgorithm::Sha256: return EVP_sha256();
    case TDigestAlgorithm::Sha512: return EVP_sha512();
  }
  return nullptr;
}

}  // namespace

std::string ComputeDigest(TDigestAlgorithm algorithm, const void* data, size_t size) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_size = 0;
  const EVP_MD* md = Md(algorithm);
  if (md == nullptr || EVP_Digest(data, size, digest, &digest_size, md, nullptr) != 1)
    throw Exception("The digest of a value could not be computed");
  return std::string(reinterpret_cast<const char*>(digest), digest_size);
}

}  // namespace tersify
