#include "db/report_adapter.h"

// The adapter carries no behaviour beyond its name and its bound dataset; the
// reporting engine itself is not part of this program.
