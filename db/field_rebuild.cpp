#include "db/dataset.h"

namespace tersify {

// Rebuilds the data fields from field definitions read afresh.
void TvrDataset::RebuildFields() {}

}  // namespace tersify
