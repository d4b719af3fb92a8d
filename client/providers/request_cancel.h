#pragma once
// Whether the program has asked the running request to stop (a cancel
// signal, the window's Cancel button). The program sets the probe; providers
// ask it while a request waits on a server or on a lock, so that a cancel
// ends the wait instead of only the next row.

namespace tersify::providers {

using CancelProbe = bool (*)() noexcept;

// Installs the probe (nullptr: requests are never cancelled).
void SetRequestCancelProbe(CancelProbe probe) noexcept;

// True when the probe says a cancel was asked for.
bool RequestCancelAsked() noexcept;

}  // namespace tersify::providers
