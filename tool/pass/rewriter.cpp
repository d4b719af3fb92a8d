#include "tool/pass/rewriter.h"

#include <cstring>
#include <memory>

#include "blob/cblob_stream.h"
#include "blob/envelope_check.h"
#include "framework/rtl/digest.h"
#include "framework/rtl/exception.h"
#include "tool/recompress.h"

namespace tersify {
namespace {

bool CarriesEnvelopeSignature(const std::string& stored) {
  return stored.size() >= static_cast<size_t>(kEnvelopeHeaderSize) &&
         std::memcmp(stored.data(), kEnvelopeSignature, 7) == 0;
}

// The new stored form of a plain value with compression wanted: an envelope
// when that is smaller, else the plain bytes (the envelope stream's rules).
// plain comes back unchanged, without having been copied.
std::string CompressedForm(std::string& plain) {
  TMemoryStream target;
  TCBlobStream writer(target, true);
  writer.SetCompressed(true);
  writer.SetCompressionAlg(caZLIB);
  writer.SetCompressionLevel(clNormal);
  writer.WriteValue(std::move(plain));
  writer.Close();
  plain = writer.TakeBytes();
  return target.TakeBytes();
}

// What a reader forgave in an envelope it decoded, in the words a
// verification uses; empty for a sound one.
std::string DecodedEnvelopeDamage(const TCBlobStream& reader, int64_t plain_size) {
  if (const int64_t trailing = reader.TrailingBytes(); trailing > 0)
    return std::to_string(trailing) + " bytes follow the end of the zlib stream";
  // The header keeps the plain length's low 32 bits as a signed number.
  if (static_cast<uint32_t>(plain_size) != static_cast<uint32_t>(reader.UncompressedSize()))
    return "the payload decodes to " + std::to_string(plain_size) + " bytes, the header says " +
           std::to_string(reader.UncompressedSize());
  return std::string();
}

}  // namespace

TGuardValue WriteGuardValue(std::string stored, bool stored_as_text, TWriteGuard connection_guard) {
  TGuardValue guard;
  guard.kind = GuardForValue(connection_guard, static_cast<int64_t>(stored.size()));
  guard.of_text = stored_as_text;
  switch (guard.kind) {
    case TWriteGuard::StoredValue:
      guard.value = stored_as_text ? Variant(std::move(stored)) : Variant(TBytes{std::move(stored)});
      break;
    case TWriteGuard::StoredDigest:
    case TWriteGuard::Digest: guard.value = Variant(TBytes{Sha256(stored)}); break;
    case TWriteGuard::StoredBytes: guard.value = Variant(TBytes{std::move(stored)}); break;
  }
  return guard;
}

std::string Sha256(const std::string& bytes) { return ComputeDigest(TDigestAlgorithm::Sha256, bytes); }

int64_t ExpectedRewriteBytes(const TPassRow& row, bool compress) {
  const int64_t stored = static_cast<int64_t>(row.stored.size());
  if (compress || !CarriesEnvelopeSignature(row.stored)) return 2 * stored;
  int32_t plain = 0;
  std::memcpy(&plain, row.stored.data() + 8, sizeof plain);  // little-endian, as on every target we build for
  return stored + (plain > 0 ? plain : 0);
}

TRewrittenRow RewriteRow(TPassRow& row, bool compress, TWriteGuard guard) {
  TRewrittenRow out;
  if (row.value_is_null) return out;
  try {
    out.stored_size = static_cast<int64_t>(row.stored.size());
    TMemoryStream source(std::move(row.stored));
    row.stored.clear();
    std::string plain_taken;  // the plain bytes of a decoded envelope
    bool stored_compressed = false;
    {
      TCBlobStream reader(source, false);
      stored_compressed = reader.Compressed();
      out.stored_compressed = stored_compressed;
      out.plain_size = reader.Size();
      // A value read as plain bytes that carries an envelope header is
      // damaged: say why, in the words a verification uses.
      if (!stored_compressed && CarriesEnvelopeSignature(source.Bytes())) {
        const EnvelopeCheck check = CheckStoredValue(source.Bytes());
        if (check.form == StoredForm::Damaged) out.damage = check.reason;
      }
      out.rewrite = stored_compressed != compress && out.plain_size > kRecompressThreshold;
      if (out.rewrite && stored_compressed) out.decoded_damage = DecodedEnvelopeDamage(reader, out.plain_size);
      // The decoded bytes leave the stream without a copy.
      if (out.rewrite && stored_compressed) plain_taken = reader.TakeBytes();
    }
    if (!out.rewrite) return out;
    std::string stored = source.TakeBytes();
    if (compress)
      out.new_stored = CompressedForm(stored);
    else
      out.new_stored = std::move(plain_taken);  // stored plainly, as read
    // Writing the very bytes stored would change nothing.
    if (out.new_stored == stored) {
      out.rewrite = false;
      out.new_stored = std::string();
      return out;
    }
    out.guard = WriteGuardValue(std::move(stored), row.stored_as_text, guard);
  } catch (...) {
    out = TRewrittenRow();
    out.error = std::current_exception();
  }
  return out;
}

}  // namespace tersify
