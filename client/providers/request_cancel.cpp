#include "client/providers/request_cancel.h"

#include <atomic>

namespace tersify::providers {
namespace {

std::atomic<CancelProbe> cancel_probe{nullptr};

}  // namespace

void SetRequestCancelProbe(CancelProbe probe) noexcept { cancel_probe.store(probe); }

bool RequestCancelAsked() noexcept {
  const CancelProbe probe = cancel_probe.load();
  return probe && probe();
}

}  // namespace tersify::providers
