#pragma once
// One recompression pass: walks every row of one table in key order and brings
// the stored form of one blob column into the wanted state (compressed for
// command 1, plain otherwise), writing back the same plain bytes it read (the
// engine in tool/pass/engine.h). Each row stands on its own unless the options
// ask for batches: rows rewritten before an error stay rewritten, and the
// counters show how far the pass got.

#include <cstdint>
#include <exception>
#include <string>

#include "framework/data/field.h"
#include "framework/rtl/method.h"
#include "tool/pass/options.h"

namespace tersify {

// Called once per row after its counter was incremented: with the blob field when
// the row was rewritten, with nullptr when it was skipped.
using TRecompressProgressEvent = TMethod<void(TField* Field)>;

// What a pass tells an observer besides the per-row event: the number of rows
// once the query is open, and the plain length of every row handled. The
// console's progress line is one.
class TRecompressObserver {
 public:
  virtual ~TRecompressObserver() = default;
  virtual void PassStarted(int64_t rows) = 0;
  virtual void RowHandled(int64_t plain_bytes, bool rewritten) = 0;
  // The pass is over, and an error, if any, is about to be reported.
  virtual void PassEnded() {}
  // A line the pass has for standard error while it runs (a value it could
  // not read); written there as it is unless an observer shows it otherwise.
  virtual void PassWarning(const std::string& line);
};

// Values of this length or shorter are never rewritten, in either direction.
inline constexpr int64_t kRecompressThreshold = 100;

// Command: 1 compress, 2 decompress. Key may be empty: the table's
// single-column primary key is used then. Table, Field and Key must be SQL
// names made of identifier parts ([brackets] allowed). Returns false when an
// error, a cancel request or the time limit ended the pass. An error has then
// been reported (a message dialog when Interactive, else two lines on
// standard output: "Critical error occured:" and the message; a /FROM= key
// the key column cannot hold goes to standard error instead); a cancel or a
// stop is reported by the caller (Report says which). Report, when given, receives how the pass ended
// and the rows it left alone for reasons worth telling (PassNotes).
bool RecompressTable(bool Interactive, int32_t Command, const std::string& Table,
                     const std::string& Field, const std::string& Key,
                     TRecompressProgressEvent OnProgress, int32_t& Processed, int32_t& Skipped,
                     TRecompressObserver* Observer = nullptr,
                     const TRecompressOptions& Options = TRecompressOptions(),
                     TRecompressReport* Report = nullptr);

// Reports an error that ended a pass: a message dialog when Interactive, else
// two lines on standard output, "Critical error occured:" and the message.
void ReportPassError(bool Interactive, const std::string& Message);
// The same for an error, and its detail (Exception::Detail) on standard error.
void ReportPassError(bool Interactive, const std::exception& Error);

}  // namespace tersify
