#include "db/dataset.h"

namespace tersify {

// Numeric text input: installed after every open, removed before every close.
void TvrDataset::InstallNumericHandlers() {}
void TvrDataset::RemoveNumericHandlers() {}

}  // namespace tersify
