#include "tool/user_interface.h"

#include "tool/console/console_ui.h"

namespace tersify {
namespace {

std::unique_ptr<UserInterface>& Current() {
  static std::unique_ptr<UserInterface> current = std::make_unique<ConsoleUserInterface>();
  return current;
}

}  // namespace

UserInterface& CurrentUserInterface() { return *Current(); }

std::unique_ptr<UserInterface> SetCurrentUserInterface(std::unique_ptr<UserInterface> ui) {
  if (!ui) ui = std::make_unique<ConsoleUserInterface>();
  Current().swap(ui);
  return ui;
}

}  // namespace tersify
