#pragma once
// What a caller may set for one recompression pass beyond the fixed arguments,
// and what the pass reports back besides its two counters.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "framework/rtl/variant.h"

namespace tersify {

// In-flight bytes of a pass by default: values read and not yet written.
inline constexpr int64_t kDefaultPassBudgetBytes = int64_t{32} << 20;
// At most this many rewriting threads by default, whatever the machine has.
inline constexpr int kMostPassThreads = 8;
// At most this many when asked for (/THREADS=): a page never keeps more busy.
inline constexpr int kMostAskedPassThreads = 64;

struct TRecompressOptions {
  // Threads that build the new stored forms; 0 takes the number of cores (at
  // most kMostPassThreads). The stored bytes are the same for every count.
  int threads = 0;
  // Rows written per transaction; 1 lets every row stand on its own
  // (autocommit). A batch also commits after 64 MB and after 2 seconds.
  int batch_rows = 1;
  // Bytes of values read and not yet written; at least one value is always
  // in flight, however large.
  int64_t budget_bytes = kDefaultPassBudgetBytes;
  // Seconds a statement may run; 0 waits for ever, negative leaves the
  // connection's own setting.
  int timeout_seconds = -1;
  // At most this many MB (1,048,576 bytes) of stored values read per second;
  // 0 reads as fast as it can.
  double max_rate_mb_per_s = 0;
  // SQL Server: before a batch begins (every few seconds in the default mode)
  // the pass waits while the transaction log is fuller than this percentage;
  // 0 never looks at the log.
  int log_limit_percent = 0;
  // Called on the calling thread after a row's new form is built and before
  // its update runs, with the row's key (a seam for tests that change the row
  // in between).
  std::function<void(const Variant& key)> before_write;
  // The pass starts after this key (/FROM=), as the user wrote it; it is read
  // in the key column's own type before the first row is read.
  std::optional<std::string> from_key;
  // When the pass stops at the next row boundary, commits what it has done
  // and ends as Stopped (/MINUTES=, /UNTIL=).
  std::optional<std::chrono::steady_clock::time_point> stop_at;
  // The clock stop_at is compared with; empty: steady_clock::now (a seam for
  // tests that stop the pass at a row of their choosing).
  std::function<std::chrono::steady_clock::time_point()> clock;
};

enum class TPassEnd { Completed, Failed, Cancelled, Stopped };

// How the pass ended and the rows it left alone for reasons the caller tells
// the user about. Every row named here is also counted as skipped.
struct TRecompressReport {
  TPassEnd end = TPassEnd::Completed;
  // The signal that cancelled the pass (Cancelled only; 0 for a request that
  // came from no signal).
  int cancel_signal = 0;
  int32_t changed_rows = 0;  // changed by another session between read and write
  int32_t deleted_rows = 0;  // deleted by another session between read and write
  int32_t null_key_rows = 0;  // the key is NULL: no statement can single them out
  // Keys that matched more or fewer rows than one when written (for example
  // keys that differ only by trailing blanks on a server that pads them), as text.
  std::vector<std::string> unidentified_keys;
  // Values that carry an envelope header but cannot be read, one line each.
  int32_t damaged_values = 0;
  // Damaged envelopes that still decode (bytes after the zlib stream, a header
  // length that is not the decoded one), rewritten as their decoded bytes.
  int32_t decoded_damaged_values = 0;
  // Values whose new form is longer than the column holds (varbinary(n)).
  int32_t too_long_rows = 0;
  // Rows of the batch whose commit got no answer (Failed only): they may or
  // may not have been written, and are not counted as processed.
  int32_t uncertain_batch_rows = 0;
  // Stored bytes of the values read, and of the same values once the pass is
  // done: a row left alone (or whose write was rolled back) keeps its bytes.
  int64_t stored_bytes_read = 0;
  int64_t stored_bytes_left = 0;
  // Stored bytes of the new forms written and committed.
  int64_t stored_bytes_written = 0;
  // The key of every value that carries an envelope header but cannot be
  // read, as text, in key order.
  std::vector<std::string> damaged_keys;
  // The key column the pass used, and the message of the error that ended
  // it (Failed only).
  std::string key_name;
  std::string error;
  // The first key the pass handled, and the key to resume after: the highest
  // key such that every row up to it was handled and its write committed
  // (the /FROM= key, or NULL, while none is).
  Variant first_key;
  Variant resume_key;
};

// The resume key as /FROM= reads it back, quoted for a POSIX shell when it
// holds anything but letters, digits and - _ . , : @ % + = /.
std::string ResumeKeyArgument(const Variant& key);

// The lines for standard error that tell about the rows of the report left
// alone, each ending in a line break; empty when there were none.
std::string PassNotes(const TRecompressReport& report);

// A key as text for messages: text and numbers as they read, bytes in hex.
std::string KeyText(const Variant& key);

// n and the noun, singular for exactly one: "1 row", "0 rows", "2 records".
std::string CountOf(int64_t n, const std::string& noun);

}  // namespace tersify
