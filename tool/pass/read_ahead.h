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
// A page is read ahead only while the current one holds less than a quarter
// of the budget, and then within half of it (a large value is never read
// ahead of another), so that the in-flight budget holds. On SQLite, which has
// no network, pages are read on the connection itself, when they are needed.

#include <cstdint>
#include <future>
#include <memory>
#include <vector>

#include "client/ms_connection.h"
#include "tool/pass/rate_limit.h"
#include "tool/pass/reader.h"
#include "tool/pass/statements.h"

namespace tersify {

class TPassPages {
 public:
  // read_ahead: open the second connection and read ahead on it.
  // start_after: as TPassReader's.
  TPassPages(TMSConnection& connection, const TPassStatements& statements, int64_t budget_bytes,
             bool read_ahead, Variant start_after = Variant());
  // Waits for a page still being read (ending a wait for the pace at once),
  // then closes the second connection.
  ~TPassPages();
  TPassPages(const TPassPages&) = delete;
  TPassPages& operator=(const TPassPages&) = delete;

  // As TPassReader::NextPage.
  std::vector<TPassRow> NextPage();
  // Paces the reading (the pace outlives the pages); before the first page.
  void SetPace(TRateLimit* pace) {
    pace_ = pace;
    reader_->SetPace(pace);
  }
  // Whether pages are read on the second connection.
  bool ReadsAhead() const { return companion_ != nullptr; }

 private:
  std::unique_ptr<TMSConnection> companion_;
  std::unique_ptr<TPassReader> reader_;
  std::future<std::vector<TPassRow>> ahead_;
  int64_t budget_bytes_;
  TRateLimit* pace_ = nullptr;
};

}  // namespace tersify
