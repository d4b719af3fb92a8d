#pragma once
// The pass reads (key, value) pairs in key order, a page at a time, each page
// one statement keyed on the last key read. A page is read to its end (or let
// go of) before anything else runs on the connection, so no cursor stays open
// across writes and one connection serves the whole pass. A page holds at
// most the byte budget of values, and always at least one value.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "client/providers/provider.h"
#include "framework/rtl/exception.h"
#include "framework/rtl/variant.h"
#include "tool/pass/rate_limit.h"
#include "tool/pass/statements.h"

namespace tersify {

struct TPassRow {
  Variant key;                 // as the cursor gave it: its exact stored value and type
  bool value_is_null = false;
  bool stored_as_text = false;  // SQLite: the value's storage class is TEXT
  std::string stored;          // the stored bytes, read once
};

// The (key, value) row at the cursor, its value moved out of the cursor.
TPassRow ReadPassRow(providers::Cursor& cursor, const TPassStatements& statements);

// The stored bytes a page holds: what it takes of the in-flight budget.
int64_t StoredBytesOf(const std::vector<TPassRow>& page);

// A cancel request ended the page being read (TPassReader::StopReadingOnCancel).
class EPassReadCancelled : public Exception {
 public:
  EPassReadCancelled() : Exception("The pass was cancelled while a page was being read") {}
};

class TPassReader {
 public:
  // start_after: read the keys after this one only (NULL: every key).
  TPassReader(providers::Provider& provider, const TPassStatements& statements, int64_t budget_bytes,
              Variant start_after = Variant());

  // The next rows in key order; empty once every row was read. A page that
  // fails with SQL Server's error 601 (a dirty read lost its place) is read
  // again from the last key, twice at most. A page that holds the last key
  // again (a key that does not survive its way to the server and back) ends
  // the pass with an error rather than a loop.
  std::vector<TPassRow> NextPage();

  // From now on a cancel request (PassCancelRequested) ends a page at once:
  // no page is asked for, and one being read is let go of unread, so that the
  // driver tells the server to stop sending it; NextPage then raises
  // EPassReadCancelled. For the pass, whose reads run ahead of its writes.
  void StopReadingOnCancel() { stop_on_cancel_ = true; }
  // Waits on pace before each page and spends each page's bytes on it; a
  // page then holds at most pace's PageBytes. Nothing (the default) reads
  // at full speed.
  void SetPace(TRateLimit* pace);

  // Rows a page asks for at most, and at first. Nothing is known of the
  // values' lengths before the first page, and a page cut short by the budget
  // (by the reader, where the server does not end it at the budget itself)
  // is read again from its last row: the first asks for as many values of
  // kFirstPageValueBytes as the budget holds (1 to kFirstRowsPerPage), and the
  // pages after it grow fourfold at most.
  static constexpr int kMostRowsPerPage = 2000;
  static constexpr int kFirstRowsPerPage = 100;
  static constexpr int64_t kFirstPageValueBytes = 64 * 1024;

 private:
  std::vector<TPassRow> ReadPage();
  // Raises Exception when a page read after last_key_ holds that key again.
  void CheckProgress(const std::vector<TPassRow>& page) const;

  providers::Provider& provider_;
  const TPassStatements& statements_;
  int64_t budget_bytes_;
  TRateLimit* pace_ = nullptr;
  int rows_per_page_;
  bool first_ = true;
  bool bound_next_ = true;  // the next page ends at the budget on the server, where it can
  bool done_ = false;
  bool stop_on_cancel_ = false;
  Variant last_key_;
  int64_t rows_read_ = 0;   // over the pages handed out
  int64_t bytes_read_ = 0;  // their stored bytes
};

}  // namespace tersify
