// The console on Windows: console handles and the console's control events.

#include "framework/rtl/windows_api.h"

#include <io.h>

#include <atomic>
#include <system_error>

#include "framework/rtl/console.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace tersify {
namespace {

std::atomic<TStopEventHandler> stop_handler{nullptr};
std::atomic<bool> stop_event_seen{false};

int SignalOf(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: return kInterruptSignal;
    case CTRL_CLOSE_EVENT: return kHangupSignal;
    default: return kTerminateSignal;  // log-off, shut-down
  }
}

// Runs on a thread the system starts for the event.
BOOL WINAPI OnControlEvent(DWORD event) {
  const TStopEventHandler handler = stop_handler.load();
  // A second event, or one after the handler went: the next handler in the
  // list, in the end the default one, which ends the process.
  if (!handler || stop_event_seen.exchange(true)) return FALSE;
  handler(SignalOf(event));
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // The process ends as soon as this returns after a close, log-off or
  // shut-down: the program is given the time the system grants (some
  // seconds) to stop in order and end by itself.
  Sleep(INFINITE);
  return TRUE;
}

}  // namespace

bool IsTerminal(int fd) {
  const intptr_t os_handle = _get_osfhandle(fd);
  if (os_handle == -1 || os_handle == -2) return false;
  const HANDLE handle = reinterpret_cast<HANDLE>(os_handle);
  DWORD mode = 0;
  if (!GetConsoleMode(handle, &mode)) return false;  // a file or a pipe
  if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
  // A console that cannot take escape sequences would show them as text.
  return SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

struct TConsoleStopEvents::Saved {};

TConsoleStopEvents::TConsoleStopEvents(TStopEventHandler handler) : saved_(std::make_unique<Saved>()) {
  stop_event_seen.store(false);
  stop_handler.store(handler);
  if (!SetConsoleCtrlHandler(OnControlEvent, TRUE)) {
    stop_handler.store(nullptr);
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                            "cannot install the console control handler");
  }
}

TConsoleStopEvents::~TConsoleStopEvents() {
  SetConsoleCtrlHandler(OnControlEvent, FALSE);
  stop_handler.store(nullptr);
}

}  // namespace tersify
