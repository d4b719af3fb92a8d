#pragma once
// A read-only pass that checks every stored value of one blob column: plain
// values are counted, envelopes are decoded completely (blob/envelope_check.h)
// and every one that no reader can turn back into its plain bytes is reported
// with its key and the reason. Nothing is written; only committed values are
// read, each page in a short transaction of its own that is rolled back.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tool/pass/options.h"
#include "tool/recompress.h"

namespace tersify {

struct TDamagedValue {
  std::string key;     // as KeyText gives it
  std::string reason;  // EnvelopeCheck's reason
};

struct TVerifyResult {
  int64_t records = 0;
  int64_t compressed = 0;
  int64_t plain = 0;
  int64_t damaged = 0;
  // The damaged values in key order.
  std::vector<TDamagedValue> damaged_values;
  bool cancelled = false;
};

// Verifies Table.Field on the default database, rows in key order (Key as for
// RecompressTable; empty takes the table's primary key). Options give the
// paging budget, threads and statement time limit (batch_rows is not used).
// OnDamaged, when set, is called on the calling thread for each damaged value
// as it is found; Observer sees every row (rewritten = false). A cancel request
// (tool/pass/cancel.h) stops it between rows with result.cancelled set. Errors
// raise.
void VerifyTable(const std::string& Table, const std::string& Field, const std::string& Key,
                 const TRecompressOptions& Options, TVerifyResult& Result,
                 const std::function<void(const TDamagedValue&)>& OnDamaged = {},
                 TRecompressObserver* Observer = nullptr);

// "Verified N records: C compressed, P plain, D damaged"
std::string VerifySummary(const TVerifyResult& Result);
// "Damaged value, key <key>: <reason>"
std::string DamagedLine(const TDamagedValue& Value);

}  // namespace tersify
