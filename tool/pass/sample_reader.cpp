#include "tool/pass/sample_reader.h"

#include <algorithm>
#include <chrono>
#include <memory>

namespace tersify {

TPassSampleReader::TPassSampleReader(providers::Provider& provider, const TPassStatements& statements,
                                     double share, int64_t budget_bytes, uint64_t seed)
    : provider_(provider),
      statements_(statements),
      budget_bytes_(std::max<int64_t>(budget_bytes, 1)),
      random_(seed),
      choose_(std::clamp(share, 0.0, 1.0)) {}

bool TPassSampleReader::ReadKeys() {
  if (keys_done_) return false;
  const auto started = std::chrono::steady_clock::now();
  std::vector<Variant> params;
  if (!first_) params.push_back(last_key_);
  std::unique_ptr<providers::Cursor> cursor = provider_.Execute(statements_.KeyPage(first_, kKeysPerPage), params);
  first_ = false;
  int read = 0;
  while (cursor->Next()) {
    last_key_ = cursor->Value(0);
    ++read;
    if (choose_(random_)) chosen_.push_back(last_key_);
  }
  key_seconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (read < kKeysPerPage) keys_done_ = true;
  return read > 0;
}

std::vector<TPassRow> TPassSampleReader::NextPage() {
  std::vector<TPassRow> page;
  int64_t bytes = 0;
  while (bytes < budget_bytes_ && static_cast<int>(page.size()) < kMostRowsPerPage) {
    if (chosen_.empty()) {
      if (!ReadKeys()) break;
      continue;
    }
    const Variant key = std::move(chosen_.front());
    chosen_.pop_front();
    std::unique_ptr<providers::Cursor> cursor = provider_.Execute(statements_.RowOfKey(), {key});
    if (!cursor->Next()) continue;  // deleted meanwhile
    TPassRow row = ReadPassRow(*cursor, statements_);
    while (cursor->Next()) {
    }
    bytes += static_cast<int64_t>(row.stored.size());
    page.push_back(std::move(row));
  }
  return page;
}

}  // namespace tersify
