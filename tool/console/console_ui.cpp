#include "tool/console/console_ui.h"

#include "framework/rtl/exception.h"

#include <iostream>

namespace tersify {

ConsoleUserInterface::ConsoleUserInterface(std::ostream& out) : out_(out) {}
ConsoleUserInterface::ConsoleUserInterface() : out_(std::cout) {}

void ConsoleUserInterface::ShowMessage(const std::string&, const std::string& Text, TMsgDlgType) {
  // The 8-bit text goes out unchanged; the line end is the platform's.
  out_ << Text << '\n';
  out_.flush();
}

bool ConsoleUserInterface::LoginPrompt(std::string&, std::string&, std::string&, std::string&) {
  return false;
}

void ConsoleUserInterface::CreateMainWindow(const std::string& /*Table*/,
                                            const std::string& /*Field*/,
                                            const std::string& /*Key*/) {
  throw Exception(
      "The interactive window is not available here; give a command (/c or /d) with /GUI=0");
}

}  // namespace tersify
