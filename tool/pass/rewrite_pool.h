#pragma once
// Threads that build the new stored forms of one page's rows while the
// calling thread writes them in key order. Workers take rows in key order;
// a row is started only while the bytes held by rows rewritten and not yet
// written stay within the budget, except the row the writer waits for, which
// is always started. With one thread no worker runs: the calling thread
// rewrites each row when it asks for it. The work done on a row may be given
// (a verification checks values instead of rewriting them).

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "tool/pass/reader.h"
#include "tool/pass/rewriter.h"

namespace tersify {

class TRewritePool {
 public:
  // What a worker does with one row, and the bytes it may hold meanwhile.
  using Job = std::function<TRewrittenRow(TPassRow& row)>;
  using ExpectedBytes = std::function<int64_t(const TPassRow& row)>;

  // page must outlive the pool. Rows are rewritten by RewriteRow.
  // lookahead_bytes (0: the budget) bounds the rows started further ahead of
  // the writer than one a thread: rows rewritten long before they are written
  // only hold memory, whose pages are then faulted in for nothing. As many
  // rows as there are threads may always run within the budget, so that
  // values larger than the look-ahead still keep every thread busy.
  TRewritePool(std::vector<TPassRow>& page, bool compress, TWriteGuard guard, int threads,
               int64_t budget_bytes, int64_t lookahead_bytes = 0);
  // Rows are handed to job; expected tells what a row holds while it runs.
  TRewritePool(std::vector<TPassRow>& page, Job job, ExpectedBytes expected, int threads,
               int64_t budget_bytes, int64_t lookahead_bytes = 0);
  // Stops the workers (rows not started are left alone) and waits for them.
  ~TRewritePool();
  TRewritePool(const TRewritePool&) = delete;
  TRewritePool& operator=(const TRewritePool&) = delete;

  // The rewritten row `index`, waiting for it; rows are taken in order, once
  // each. A row's bytes count against the budget until the next row is
  // asked for (it has been written by then).
  TRewrittenRow Take(size_t index);
  // Whether Take(index) would wait for a worker still at the row (never with
  // one thread, where Take rewrites it).
  bool WouldWait(size_t index);

  // The number of threads a count asks for: 0 means the number of cores, at
  // most kMostPassThreads.
  static int ThreadsFor(int asked);

 private:
  void Work();
  // A row is left to start, and may start now: it is the row the writer
  // waits for, or it fits in the budget.
  bool NextMayStart() const;

  std::vector<TPassRow>& page_;
  const Job job_;
  const ExpectedBytes expected_;
  const int64_t budget_bytes_;
  const int64_t lookahead_bytes_;
  size_t threads_ = 0;  // set before the workers start
  std::mutex mutex_;
  // Two conditions, so that a hand-over wakes only the side that waits for it:
  // workers wait for a row they may start, the writer for the row it takes.
  std::condition_variable may_start_;
  std::condition_variable row_ready_;
  int idle_workers_ = 0;
  bool writer_waiting_ = false;
  std::vector<TRewrittenRow> results_;
  std::vector<char> ready_;
  std::vector<int64_t> held_;  // bytes counted for each row started and not yet taken
  size_t next_ = 0;            // the next row to start
  size_t waited_for_ = 0;      // the row the writer takes next
  int64_t in_flight_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace tersify
