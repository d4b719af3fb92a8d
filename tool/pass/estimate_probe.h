#pragma once
// The estimate's timing probe: what one row's guarded update costs, measured
// on the first few rows read, before the rest of the table is. Each probe row
// is written back with the very bytes it holds, held to the value read (so
// that even a crash leaves it as it was), in a transaction of its own that is
// rolled back: the update fires the table's triggers and takes its locks for
// that moment, and no value changes.
//
// A connection that cannot write (a read-only database or file, a readable
// secondary, a login without UPDATE on the table) is not probed: the estimate
// then tells why and times the pass from the read rate alone.

#include <optional>
#include <string>
#include <vector>

#include "framework/rtl/variant.h"
#include "tool/pass/reader.h"
#include "tool/pass/target.h"

namespace tersify {

class TEstimateProbe {
 public:
  // Rows whose update is timed, and the largest value taken for it.
  static constexpr size_t kRows = 3;
  static constexpr size_t kLargestValue = size_t{4} << 20;

  // Asks the server whether the connection may write the table (SQL Server:
  // the database's updateability and the login's UPDATE permission); a
  // question the server cannot answer is taken as "it may".
  TEstimateProbe(const TPassTarget& target, const std::string& table);

  // Keeps the row for timing when it is one a pass would write and the probe
  // still wants rows.
  void Offer(const TPassRow& row);
  // Whether every row it wants has been offered (or it will never time one).
  bool Full() const { return !refusal_.empty() || rows_.size() >= kRows; }
  // Times the rows kept, once; a connection that refuses the first write
  // (read-only) ends the probe with the refusal kept. Other errors raise.
  void Run();
  // Seconds one row's update took on average; 0 when none was timed.
  double SecondsPerRow() const { return seconds_per_row_; }
  // Seconds Run took, to be left out of the read rate.
  double RunSeconds() const { return run_seconds_; }
  // Why no update was timed because the connection cannot write; empty when it can.
  const std::string& Refusal() const { return refusal_; }

 private:
  struct TRow {
    Variant key;
    std::string stored;
    bool stored_as_text = false;
  };

  const TPassTarget& target_;
  std::vector<TRow> rows_;
  std::string refusal_;
  bool ran_ = false;
  double seconds_per_row_ = 0;
  double run_seconds_ = 0;
};

}  // namespace tersify
