#pragma once
// Prepared statements of one connection kept for the next execution of the same
// text, so that a statement run once per row is parsed and prepared once.
//
// A statement is taken out of the cache while it is in use, so it can never be
// in use twice at once: a second use of the same text meanwhile finds nothing
// and prepares its own. Giving it back resets it (it holds no lock and no read
// transaction afterwards, also after a failed step) and clears its bindings
// (nothing keeps pointing into the caller's parameters). The least recently
// given back is finalized when more than the capacity are kept.
//
// SQLite re-prepares a kept statement by itself when the schema changes.
// The caller decides which texts may be kept; the cache only keeps them.

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "client/providers/sqlite/sqlite_handles.h"

namespace tersify::providers {

class SqliteStatementCache {
 public:
  static constexpr size_t kDefaultCapacity = 16;

  class Lease;

  explicit SqliteStatementCache(size_t capacity = kDefaultCapacity);
  SqliteStatementCache(const SqliteStatementCache&) = delete;
  SqliteStatementCache& operator=(const SqliteStatementCache&) = delete;

  // The statement kept for text, now the caller's alone; an empty lease when
  // none is kept (or it is in use).
  Lease Take(const std::string& text);
  // A statement just prepared for text, to be kept once the caller is done.
  Lease Keep(std::string text, SqliteStatement stmt);
  // A statement that is never kept: finalized once the caller is done.
  static Lease Once(SqliteStatement stmt);

  // Forgets every kept statement when generation differs from the one seen
  // last: what a text was prepared as may have depended on it.
  void Follow(uint64_t generation);
  // Finalizes every kept statement. One in use at the time is finalized when
  // it is given back. Must run before the connection is closed.
  void Clear();

  size_t Size() const { return kept_.size(); }
  size_t Capacity() const { return capacity_; }

  // A statement in use. When the lease ends the statement is reset, unbound
  // and given back to its cache, or finalized.
  class Lease {
   public:
    Lease() = default;
    Lease(Lease&& other) noexcept = default;
    Lease& operator=(Lease&& other) noexcept;
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease() { GiveBack(); }

    explicit operator bool() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_.get(); }
    // The statement leaves the cache for good (to a cursor that reads its rows).
    SqliteStatement Release() { return std::move(stmt_); }

   private:
    friend class SqliteStatementCache;
    Lease(SqliteStatementCache* cache, uint64_t epoch, std::string text, SqliteStatement stmt)
        : cache_(cache), epoch_(epoch), text_(std::move(text)), stmt_(std::move(stmt)) {}
    void GiveBack() noexcept;

    SqliteStatementCache* cache_ = nullptr;  // null: never kept
    uint64_t epoch_ = 0;                     // the cache's epoch when leased
    std::string text_;
    SqliteStatement stmt_;
  };

 private:
  struct Entry {
    std::string text;
    SqliteStatement stmt;
  };
  static constexpr uint64_t kNoGeneration = std::numeric_limits<uint64_t>::max();

  void Put(std::string text, SqliteStatement stmt) noexcept;

  size_t capacity_;
  std::vector<Entry> kept_;  // least recently given back first
  uint64_t generation_ = kNoGeneration;
  uint64_t epoch_ = 0;  // counts Clear calls: a lease from before one is not taken back
};

}  // namespace tersify::providers
