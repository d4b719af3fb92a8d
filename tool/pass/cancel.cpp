#include "tool/pass/cancel.h"

#include <atomic>

#include "client/providers/request_cancel.h"

namespace tersify {
namespace {

// Lock-free, so that a signal handler may touch it.
std::atomic<int> pending_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

// A request that waits on a server or a lock ends on a cancel too, not only
// the next row.
const bool requests_honour_cancel = (providers::SetRequestCancelProbe(&PassCancelRequested), true);

}  // namespace

void RequestPassCancel(int signal_number) noexcept {
  int none = 0;
  pending_signal.compare_exchange_strong(none, signal_number);
}

int PassCancelSignal() noexcept { return pending_signal.load(); }

void ResetPassCancel() noexcept { pending_signal.store(0); }

}  // namespace tersify
