#pragma once
// Building the new stored form of one value, the way the dataset's blob
// binding would store it: read through the envelope stream (an envelope that
// cannot be read counts as plain), and written through it with compression
// wanted or not. Values of kRecompressThreshold bytes or fewer, values
// already in the wanted state, and values whose new stored form would be the
// very bytes stored (a plain value that does not shrink) are left alone: their
// write would change nothing and still be logged, locked and seen by
// triggers. Safe to run on several threads
// at once, one value each.

#include <cstdint>
#include <exception>
#include <string>

#include "framework/rtl/variant.h"
#include "tool/pass/reader.h"
#include "tool/pass/statements.h"

namespace tersify {

struct TRewrittenRow {
  bool rewrite = false;      // the row is written
  int64_t plain_size = 0;    // the plain length, as the envelope stream reports it
  int64_t stored_size = 0;   // the length of the value as stored
  bool stored_compressed = false;  // the stored value is an envelope that reads back
  std::string new_stored;    // the form to store (when rewrite)
  TGuardValue guard;         // what the update is held to (when rewrite)
  std::string damage;        // why an envelope could not be read; empty when none
  // Why an envelope that decodes is still damaged (bytes after its zlib
  // stream, a header length that is not the decoded one), when it is
  // rewritten as its decoded bytes; empty otherwise.
  std::string decoded_damage;
  std::exception_ptr error;  // the row cannot be handled (an envelope of another algorithm)
};

// Takes row.stored (it is empty afterwards). compress: the wanted state.
TRewrittenRow RewriteRow(TPassRow& row, bool compress, TWriteGuard guard);

// Bytes a row may hold while it is rewritten: the stored bytes and the
// expected new form (an envelope's plain length from its header).
int64_t ExpectedRewriteBytes(const TPassRow& row, bool compress);

// What an update is held to for a value read as stored (in the storage class
// it was read in, for SQLite), under the connection's guard: a large value on
// SQLite is held by its digest.
TGuardValue WriteGuardValue(std::string stored, bool stored_as_text, TWriteGuard connection_guard);

// The SHA-256 digest of bytes (32 bytes).
std::string Sha256(const std::string& bytes);

}  // namespace tersify
