#include "db/dataset.h"

namespace tersify {

// Key-change procedures run only for a dataset with a loaded key-procedure
// map; the map is loaded by the key discovery step.
void TvrDataset::RunKeyChangeProcs() {
  if (!KeyProcMap()) return;
}

}  // namespace tersify
