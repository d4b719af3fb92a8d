#pragma once
// A dry run of a compress pass: reads the values (all, or a random sample),
// builds each one's stored form in memory with the pass's level and rules
// (values of 100 bytes or less stay as they are, an envelope only when it is
// smaller), writes nothing, and tells what the column would take afterwards
// and how long the pass would run.

#include <cstdint>
#include <string>

#include "tool/pass/options.h"
#include "tool/recompress.h"

namespace tersify {

struct TEstimateResult {
  int64_t records = 0;          // rows of the table
  int64_t sampled_records = 0;  // rows whose values were read
  int64_t stored_bytes = 0;     // the column as stored now (scaled up from a sample)
  int64_t bytes_after = 0;      // the column after a compress pass (scaled likewise)
  int64_t compressed_bytes = 0; // of stored_bytes, what is stored as envelopes already
  double pass_seconds = 0;      // the expected length of a compress pass in default mode
  // Why no update was timed because the connection cannot write (the time is
  // then the read rate's alone); empty when the updates were timed.
  std::string untimed_writes;
  // The rows a compress pass would rewrite, their bytes as stored now and as
  // rewritten (scaled likewise): what the transaction log has to take.
  int64_t rewritten_records = 0;
  int64_t rewritten_stored_bytes = 0;
  int64_t rewritten_new_bytes = 0;
  bool cancelled = false;
};

// Estimates a compress pass over Table.Field on the default database (Key as
// for RecompressTable). SamplePercent in (0, 100]: 100 reads every value;
// less reads a random sample of about that share of the rows and scales the
// sizes up. The time comes from this run's measured rate and the commit cost
// of the default mode, measured first on a few rows in a transaction that is
// rolled back (tool/pass/estimate_probe.h), or left out when the connection
// cannot write. Reads see committed values only. Observer sees every row read. A cancel request stops it between rows
// (cancelled set). Errors raise.
void EstimateTable(const std::string& Table, const std::string& Field, const std::string& Key,
                   const TRecompressOptions& Options, double SamplePercent,
                   TEstimateResult& Result, TRecompressObserver* Observer = nullptr);

// Bytes of transaction log a compress pass writes for each row besides its
// values (see EstimatedLogBytes).
inline constexpr int64_t kLogBytesPerRow = 500;

// About how much transaction log the compress pass would write: in the full
// recovery model every rewritten value goes through the log twice, its new
// bytes as the after-image and its old bytes as the before-image that a
// rollback would need, and each row adds its update's records (the row and
// its LOB pages, and in the default mode the begin and commit of its own
// transaction), taken as kLogBytesPerRow:
//   rewritten_new_bytes + rewritten_stored_bytes + kLogBytesPerRow * rewritten_records.
int64_t EstimatedLogBytes(const TEstimateResult& Result);

// A length of time for people: "under a second", "about 1 second", "about 40
// seconds", "about 1 minute", "about 12 minutes", "about 2.5 hours".
std::string DurationText(double seconds);

// The lines for standard error that follow the estimate's summary, each
// ending in a line break: the time in plain words (and at MaxRateMB MB/s when
// that is above 0, reading being the least it takes then) and the log the
// pass would write. Empty for a cancelled estimate.
std::string EstimateNotes(const TEstimateResult& Result, double MaxRateMB);

// "Estimate: N records, S MB stored now, about T MB after compression (saves X
// MB, Y %), about M minutes for the pass" with 1 MB = 1,048,576 bytes.
std::string EstimateSummary(const TEstimateResult& Result);

}  // namespace tersify
