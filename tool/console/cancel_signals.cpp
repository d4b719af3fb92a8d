#include "tool/console/cancel_signals.h"

#include "tool/pass/cancel.h"

namespace tersify {

PassCancelSignals::PassCancelSignals() : events_(RequestPassCancel) {}

}  // namespace tersify
