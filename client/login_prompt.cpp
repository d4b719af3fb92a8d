// The login prompt hook. The user interface installs it at start-up; without
// one (a console run, no display) every prompt counts as cancelled.

#include "client/login_prompt.h"

#include <mutex>
#include <utility>

namespace tersify {
namespace {

std::mutex& HookMutex() {
  static std::mutex m;
  return m;
}

TLoginPromptHook& Hook() {
  static TLoginPromptHook hook;
  return hook;
}

}  // namespace

void SetLoginPromptHook(TLoginPromptHook hook) {
  std::lock_guard lock(HookMutex());
  Hook() = std::move(hook);
}

bool RunLoginPrompt(TMSConnection& connection, TLoginValues& values) {
  TLoginPromptHook hook;
  {
    std::lock_guard lock(HookMutex());
    hook = Hook();
  }
  if (!hook) return false;
  return hook(connection, values);
}

}  // namespace tersify
