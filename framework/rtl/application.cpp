#include "framework/rtl/application.h"

#include <cstdlib>
#include <memory>

namespace tersify {

TApplication* Application = nullptr;

namespace {

std::unique_ptr<TApplication>& ApplicationSlot() {
  static std::unique_ptr<TApplication> slot;
  return slot;
}

void ReleaseApplication() {
  Application = nullptr;
  ApplicationSlot().reset();  // destroys what it still owns
}

}  // namespace

void CreateApplication() {
  if (ApplicationSlot()) return;
  ApplicationSlot() = std::make_unique<TApplication>();
  Application = ApplicationSlot().get();
  std::atexit(ReleaseApplication);
}

}  // namespace tersify
