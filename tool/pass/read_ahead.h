#pragma once
// The pages of a pass, the next one read while the rows of the current one
// are written. Across a network a page read on the writer's connection would
// cost the writer a round trip per page; here the next page is asked for on a
// second connection to the same database as soon as the current page is
// handed out, so reading stays off the writer's path.
//
// The second connection reads uncommitted: the pass's own open batch holds
// locks on rows before the next page's keys, and should the server ever take
// a coarser lock the reader must not wait on a writer that waits on it. A
// value read that way is safe to rewrite, because every write is held to the
// value read: a value another session then rolls back fails the guard and the
// row is left alone and counted as changed.
//
// The second connection logs in while the pass resolves its target, and
// reads the first page while the pass settles what it does before its first
// row, on the writer's connection; the second page follows at once, so that
// it is there when the writer is through with the first.
//
// Pages read ahead are sized to a quarter of the budget, and the next one is
// asked for while the current one holds less than half of it (a value as
// large as that is never read ahead of another), so that the in-flight budget
// holds: pages as large as half the budget would each be read while the
// writer waits. On SQLite, which has no network, pages are read on the
// connection itself, when they are needed.

#include <cstdint>
#include <exception>
#include <future>
#include <memory>
#include <optional>
#include <vector>

#include "client/ms_connection.h"
#include "tool/pass/rate_limit.h"
#include "tool/pass/reader.h"
#include "tool/pass/statements.h"

namespace tersify {

// The second connection to the database of a pass's connection, with its
// settings and time limit, reading uncommitted; no prompt and no events. It
// logs in from the moment it is made.
class TPassCompanion {
 public:
  explicit TPassCompanion(TMSConnection& connection);
  // Waits for a log-in still under way.
  ~TPassCompanion();
  TPassCompanion(const TPassCompanion&) = delete;
  TPassCompanion& operator=(const TPassCompanion&) = delete;

  // The connection once it is open; raises what its log-in raised.
  TMSConnection& Open();

 private:
  std::unique_ptr<TMSConnection> connection_;
  std::future<void> opened_;
};

class TPassPages {
 public:
  // companion: read ahead on it, starting with the first page at once; none:
  // read on `connection` itself. start_after: as TPassReader's. pace, when
  // given, paces the reading and outlives the pages.
  TPassPages(TMSConnection& connection, const TPassStatements& statements, int64_t budget_bytes,
             TPassCompanion* companion, Variant start_after = Variant(), TRateLimit* pace = nullptr);
  // Waits for a page still being read (ending a wait for the pace at once),
  // then closes the second connection.
  ~TPassPages();
  TPassPages(const TPassPages&) = delete;
  TPassPages& operator=(const TPassPages&) = delete;

  // As TPassReader::NextPage; a second connection that could not be opened
  // raises its error here.
  std::vector<TPassRow> NextPage();
  // Whether pages are read on the second connection.
  bool ReadsAhead() const { return read_ahead_; }
  // Whether NextPage would hand out a page read ahead at once, without waiting.
  bool NextPageArrived() const;

 private:
  // Whether a page handed out leaves room for the next one read ahead.
  bool RoomAfter(const std::vector<TPassRow>& page) const;

  const bool read_ahead_;
  std::unique_ptr<TPassReader> reader_;
  std::future<std::vector<TPassRow>> ahead_;
  // The second page, read right after the first (set before ahead_ is ready).
  std::optional<std::vector<TPassRow>> second_;
  std::exception_ptr second_error_;
  int64_t budget_bytes_;
  TRateLimit* pace_ = nullptr;
};

}  // namespace tersify
