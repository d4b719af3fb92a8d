#include "client/providers/sqlite/sqlite_statement_cache.h"

#include <algorithm>
#include <utility>

namespace tersify::providers {

SqliteStatementCache::SqliteStatementCache(size_t capacity) : capacity_(capacity) {
  // Room for one more than kept, so that giving back never allocates (it runs
  // in destructors, also while an error unwinds).
  kept_.reserve(capacity_ + 1);
}

SqliteStatementCache::Lease SqliteStatementCache::Take(const std::string& text) {
  const auto found =
      std::find_if(kept_.begin(), kept_.end(), [&](const Entry& e) { return e.text == text; });
  if (found == kept_.end()) return Lease();
  Lease lease(this, epoch_, std::move(found->text), std::move(found->stmt));
  kept_.erase(found);
  return lease;
}

SqliteStatementCache::Lease SqliteStatementCache::Keep(std::string text, SqliteStatement stmt) {
  return Lease(this, epoch_, std::move(text), std::move(stmt));
}

SqliteStatementCache::Lease SqliteStatementCache::Once(SqliteStatement stmt) {
  return Lease(nullptr, 0, std::string(), std::move(stmt));
}

void SqliteStatementCache::Follow(uint64_t generation) {
  if (generation == generation_) return;
  Clear();
  generation_ = generation;
}

void SqliteStatementCache::Clear() {
  kept_.clear();
  ++epoch_;
}

void SqliteStatementCache::Put(std::string text, SqliteStatement stmt) noexcept {
  if (capacity_ == 0) return;
  // A text given back twice (two leases of a text that was not kept yet): the
  // newer statement replaces the older one.
  std::erase_if(kept_, [&](const Entry& e) { return e.text == text; });
  if (kept_.size() >= capacity_) kept_.erase(kept_.begin());
  kept_.push_back(Entry{std::move(text), std::move(stmt)});
}

SqliteStatementCache::Lease& SqliteStatementCache::Lease::operator=(Lease&& other) noexcept {
  if (this != &other) {
    GiveBack();
    cache_ = other.cache_;
    epoch_ = other.epoch_;
    text_ = std::move(other.text_);
    stmt_ = std::move(other.stmt_);
  }
  return *this;
}

void SqliteStatementCache::Lease::GiveBack() noexcept {
  if (!stmt_) return;
  // reset repeats the last step's error code; that error has been reported already.
  sqlite3_reset(stmt_.get());
  sqlite3_clear_bindings(stmt_.get());
  if (cache_ != nullptr && cache_->epoch_ == epoch_)
    cache_->Put(std::move(text_), std::move(stmt_));
  stmt_.reset();
}

}  // namespace tersify::providers
