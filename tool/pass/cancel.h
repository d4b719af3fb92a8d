#pragma once
// A request to stop the running pass between two rows. A signal handler may
// make it (everything here is async-signal-safe); the pass polls it before
// each row, rolls back an open batch and reports how far it got.

#include <chrono>
#include <optional>

namespace tersify {

// Asks the pass to stop. signal_number is the signal that asked (SIGINT,
// SIGTERM), or any positive number for a request that came from elsewhere
// (the window's Cancel button). The first request wins.
void RequestPassCancel(int signal_number) noexcept;

// The signal number of the pending request, 0 when none.
int PassCancelSignal() noexcept;

inline bool PassCancelRequested() noexcept { return PassCancelSignal() != 0; }

// Whether a wait of the pass (for the rate limit, for the transaction log) is
// to end now: a cancel request is pending or the time limit stop_at has come.
bool PassWaitMustEnd(const std::optional<std::chrono::steady_clock::time_point>& stop_at) noexcept;

// Forgets a request, before a new pass starts.
void ResetPassCancel() noexcept;

// For its lifetime a request that waits on a server or a lock ends on a cancel
// too, not only the next row. Only while a pass runs: a request pending from
// an earlier pass must not cut the window's own queries short.
class TPassCancelReachesRequests {
 public:
  TPassCancelReachesRequests() noexcept;
  ~TPassCancelReachesRequests();
  TPassCancelReachesRequests(const TPassCancelReachesRequests&) = delete;
  TPassCancelReachesRequests& operator=(const TPassCancelReachesRequests&) = delete;
};

}  // namespace tersify
