#pragma once
// The recompression pass engine: reads (key, value) pages in key order,
// rewrites values on worker threads and writes the rows in key order, each
// update held to one row and to the value read, within a byte budget. Polls
// for a cancel request and the time limit before each row.

#include <cstdint>
#include <string>

#include "tool/pass/options.h"
#include "tool/recompress.h"

namespace tersify {

struct TPassRequest {
  int32_t command = 1;  // 1 compress, 2 decompress
  std::string table, field, key;
  TRecompressProgressEvent on_progress;
  TRecompressObserver* observer = nullptr;
  TRecompressOptions options;
};

// Runs the pass on the default database. Counters move as rows are handled;
// rows of a batch that is rolled back leave the processed counter again.
// Raises what ended the pass (the report then says Failed and the counters
// how far the committed rows went); a cancel request ends it with Cancelled,
// the time limit with Stopped once the rows handled are committed.
void RunPassEngine(const TPassRequest& request, int32_t& processed, int32_t& skipped,
                   TRecompressReport& report);

}  // namespace tersify
