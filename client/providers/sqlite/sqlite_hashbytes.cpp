#include "client/providers/sqlite/sqlite_hashbytes.h"

#include <cctype>
#include <optional>
#include <string>

#include "client/providers/sqlite/sqlite_handles.h"
#include "framework/rtl/digest.h"

namespace tersify::providers {
namespace {

std::optional<TDigestAlgorithm> DigestNamed(std::string name) {
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (name == "SHA2_256") return TDigestAlgorithm::Sha256;
  if (name == "SHA2_512") return TDigestAlgorithm::Sha512;
  if (name == "SHA1" || name == "SHA") return TDigestAlgorithm::Sha1;
  if (name == "MD5") return TDigestAlgorithm::Md5;
  return std::nullopt;
}

void HashBytes(sqlite3_context* context, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  const auto* name = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  const std::optional<TDigestAlgorithm> algorithm = name ? DigestNamed(name) : std::nullopt;
  if (!algorithm) {
    sqlite3_result_null(context);
    return;
  }
  // A blob is hashed as its bytes, anything else as its text.
  const void* data = sqlite3_value_type(argv[1]) == SQLITE_BLOB ? sqlite3_value_blob(argv[1])
                                                                : static_cast<const void*>(sqlite3_value_text(argv[1]));
  const int size = sqlite3_value_bytes(argv[1]);
  std::string digest;
  try {
    digest = ComputeDigest(*algorithm, data, static_cast<size_t>(size));
  } catch (const std::exception&) {
    sqlite3_result_error(context, "HASHBYTES: the digest could not be computed", -1);
    return;
  }
  sqlite3_result_blob(context, digest.data(), static_cast<int>(digest.size()), SQLITE_TRANSIENT);
}

}  // namespace

void InstallHashBytes(sqlite3* db) {
  const int rc = sqlite3_create_function_v2(db, "hashbytes", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                            nullptr, HashBytes, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) RaiseSqliteError(db, rc);
}

}  // namespace tersify::providers
