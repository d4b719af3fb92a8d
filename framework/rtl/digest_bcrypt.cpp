#include "framework/rtl/windows_api.h"

#include <bcrypt.h>

#include <memory>

#include "framework/rtl/digest.h"
#include "framework/rtl/exception.h"

namespace tersify {
namespace {

const wchar_t* AlgorithmId(TDigestAlgorithm algorithm) {
  switch (algorithm) {
    case TDigestAlgorithm::Md5: return BCRYPT_MD5_ALGORITHM;
    case TDigestAlgorithm::Sha1: return BCRYPT_SHA1_ALGORITHM;
    case TDigestAlgorithm::Sha256: return BCRYPT_SHA256_ALGORITHM;
    case TDigestAlgorithm::Sha512: return BCRYPT_SHA512_ALGORITHM;
  }
  return nullptr;
}

struct ProviderClose {
  void operator()(void* p) const noexcept { BCryptCloseAlgorithmProvider(static_cast<BCRYPT_ALG_HANDLE>(p), 0); }
};
struct HashDestroy {
  void operator()(void* h) const noexcept { BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(h)); }
};

[[noreturn]] void Fail() { throw Exception("The digest of a value could not be computed"); }

bool Ok(NTSTATUS status) { return status >= 0; }

}  // namespace

std::string ComputeDigest(TDigestAlgorithm algorithm, const void* data, size_t size) {
  BCRYPT_ALG_HANDLE raw_provider = nullptr;
  if (!Ok(BCryptOpenAlgorithmProvider(&raw_provider, AlgorithmId(algorithm), nullptr, 0))) Fail();
  const std::unique_ptr<void, ProviderClose> provider(raw_provider);

  DWORD digest_size = 0, written = 0;
  if (!Ok(BCryptGetProperty(raw_provider, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&digest_size),
                            sizeof digest_size, &written, 0)))
    Fail();

  BCRYPT_HASH_HANDLE raw_hash = nullptr;
  if (!Ok(BCryptCreateHash(raw_provider, &raw_hash, nullptr, 0, nullptr, 0, 0))) Fail();
  const std::unique_ptr<void, HashDestroy> hash(raw_hash);

  // BCryptHashData takes at most 4 GiB - 1 per call.
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
    if (!Ok(BCryptHashData(raw_hash, const_cast<PUCHAR>(bytes), piece, 0))) Fail();
    bytes += piece;
    size -= piece;
  }
  std::string digest(digest_size, '\0');
  if (!Ok(BCryptFinishHash(raw_hash, reinterpret_cast<PUCHAR>(digest.data()), digest_size, 0))) Fail();
  return digest;
}

}  // namespace tersify
