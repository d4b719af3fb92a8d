#include "tool/pass/reader.h"

#include <algorithm>

#include "client/errors.h"
#include "framework/rtl/exception.h"
#include "tool/pass/cancel.h"

namespace tersify {
namespace {

// "Could not continue scan with NOLOCK due to data movement."
constexpr int kDataMovementError = 601;
constexpr int kReadAttempts = 3;

}  // namespace

TPassReader::TPassReader(providers::Provider& provider, const TPassStatements& statements,
                         int64_t budget_bytes, Variant start_after)
    : provider_(provider),
      statements_(statements),
      budget_bytes_(std::max<int64_t>(budget_bytes, 1)),
      rows_per_page_(static_cast<int>(
          std::clamp<int64_t>(budget_bytes_ / kFirstPageValueBytes, 1, kFirstRowsPerPage))) {
  // A start key is the last key of a page read before: the next page is
  // asked for after it, in the server's own order.
  if (!start_after.IsNull()) {
    first_ = false;
    last_key_ = std::move(start_after);
  }
}

TPassRow ReadPassRow(providers::Cursor& cursor, const TPassStatements& statements) {
  TPassRow row;
  row.key = cursor.KeyValue(0);
  // Moved out, not copied: the cursor keeps no second copy of a large value.
  Variant value = cursor.TakeValue(1);
  row.value_is_null = value.IsNull();
  row.stored = value.TakeString();
  if (statements.ReadsStorageClass()) row.stored_as_text = cursor.Value(2).AsString() == "text";
  return row;
}

int64_t StoredBytesOf(const std::vector<TPassRow>& page) {
  int64_t bytes = 0;
  for (const TPassRow& row : page) bytes += static_cast<int64_t>(row.stored.size());
  return bytes;
}

std::vector<TPassRow> TPassReader::NextPage() {
  for (int attempt = 1;; ++attempt) {
    try {
      return ReadPage();
    } catch (const EDAError& error) {
      // Reading uncommitted data, SQL Server may lose its place in the index
      // when a page splits under the scan (601): read the page again from the
      // last key. Nothing of the failed page has been handed out.
      if (error.NativeError() != kDataMovementError || attempt >= kReadAttempts) throw;
    }
  }
}

void TPassReader::CheckProgress(const std::vector<TPassRow>& page) const {
  // Every row of a page lies after the last key read. One that does not means
  // the key came back from the server other than it was read (a type or
  // precision lost on the way): the next page would start at the same place
  // again, for ever.
  for (const TPassRow& row : page) {
    if (row.key == last_key_)
      throw Exception("The page after key " + last_key_.AsString() +
                      " began at that key again: the key does not compare equal to itself once sent "
                      "back to the server, so the pass stopped rather than read the same rows again");
  }
}

void TPassReader::SetPace(TRateLimit* pace) {
  pace_ = pace;
  if (!pace_) return;
  budget_bytes_ = std::min(budget_bytes_, pace_->PageBytes());
  rows_per_page_ = static_cast<int>(std::clamp<int64_t>(budget_bytes_ / kFirstPageValueBytes, 1, rows_per_page_));
}

std::vector<TPassRow> TPassReader::ReadPage() {
  std::vector<TPassRow> page;
  if (done_) return page;
  if (stop_on_cancel_ && PassCancelRequested()) throw EPassReadCancelled();
  // A wait ended by a cancel or the time limit reads the page all the same:
  // the pass stops at the next row.
  if (pace_) pace_->Wait();
  const int asked = rows_per_page_;
  std::vector<Variant> params;
  if (!first_) params.push_back(last_key_);
  const bool first_page = first_;
  // The budget as it is now (a pace may have made it smaller since), where
  // the page may reach it.
  std::unique_ptr<providers::Cursor> cursor =
      provider_.Execute(statements_.Page(first_, asked, bound_next_ ? budget_bytes_ : 0), params);
  int64_t bytes = 0;
  bool over_budget = false;
  while (cursor->Next()) {
    TPassRow row = ReadPassRow(*cursor, statements_);
    bytes += static_cast<int64_t>(row.stored.size());
    page.push_back(std::move(row));
    if (stop_on_cancel_ && PassCancelRequested()) {
      // Dropped, not closed: Close would read the rest of the page off the
      // wire, where dropping it has the driver cancel what is left.
      cursor.reset();
      throw EPassReadCancelled();
    }
    // Where the server ends the page at the budget itself, this is its last
    // row; elsewhere the rows after it are let go of.
    if (bytes >= budget_bytes_) {
      over_budget = true;
      break;
    }
  }
  // Let go of the rest of the page before the rewrite and the next statement:
  // closed, not just dropped, so that the driver keeps no copy of the last
  // (perhaps very long) value it read.
  cursor->Close();
  cursor.reset();
  if (pace_) pace_->Spend(bytes);
  first_ = false;
  if (page.empty()) {
    done_ = true;
    return page;
  }
  // A page the server ended at the budget is short too, but its values reach
  // the budget (datalength counts the bytes read here, the column being
  // binary): only a short page below the budget is the last.
  if (!over_budget && static_cast<int>(page.size()) < asked) done_ = true;
  // The server's running sum costs a pass over the values' lengths: it is
  // asked for after a page that reached the budget, where the values are
  // long or uneven against it, and for the first, whose values are unknown.
  // A page sized to the mean of values that stay near it is sent whole.
  bound_next_ = over_budget;
  if (!first_page) CheckProgress(page);
  last_key_ = page.back().key;
  // Size the next page after the values seen: as many rows as the budget
  // holds at their mean length (this page's, when its values are longer than
  // those before), within bounds. Where the server did not end a page at
  // the budget (SQLite, SQL Server before 2012, a page asked for without the
  // running sum), a page cut short by the budget throws away what is left of
  // it, and those rows are read again.
  rows_read_ += static_cast<int64_t>(page.size());
  bytes_read_ += bytes;
  const int64_t mean = std::max({bytes_read_ / rows_read_, bytes / static_cast<int64_t>(page.size()), int64_t{1}});
  const int64_t fit = budget_bytes_ / mean;
  rows_per_page_ = static_cast<int>(std::clamp<int64_t>(std::min<int64_t>(fit, int64_t{asked} * 4), 1,
                                                        kMostRowsPerPage));
  return page;
}

}  // namespace tersify
