#include "db/dataset.h"

namespace tersify {

void TvrDataset::DoAfterPostEx(TDataSet* dataset, bool from_error) {
  if (AfterPostEx) AfterPostEx(dataset, from_error);
}

// The posting step (transaction per post, generated row statements) builds on
// these two; until then a post is the client library's own.
void TvrDataset::Post() { TCustomMSDataSet::Post(); }
void TvrDataset::DoBeforePost() { TCustomMSDataSet::DoBeforePost(); }

}  // namespace tersify
