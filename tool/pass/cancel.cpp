#include "tool/pass/cancel.h"

#include <atomic>

#include "client/providers/request_cancel.h"

namespace tersify {
namespace {

// Lock-free, so that a signal handler may touch it.
std::atomic<int> pending_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

}  // namespace

void RequestPassCancel(int signal_number) noexcept {
  int none = 0;
  pending_signal.compare_exchange_strong(none, signal_number);
}

int PassCancelSignal() noexcept { return pending_signal.load(); }

bool PassWaitMustEnd(const std::optional<std::chrono::steady_clock::time_point>& stop_at) noexcept {
  return PassCancelRequested() || (stop_at && std::chrono::steady_clock::now() >= *stop_at);
}

void ResetPassCancel() noexcept { pending_signal.store(0); }

TPassCancelReachesRequests::TPassCancelReachesRequests() noexcept {
  providers::SetRequestCancelProbe(&PassCancelRequested);
}

TPassCancelReachesRequests::~TPassCancelReachesRequests() { providers::SetRequestCancelProbe(nullptr); }

}  // namespace tersify
