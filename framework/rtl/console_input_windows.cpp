#include "framework/rtl/console_input.h"

#include "framework/rtl/windows_api.h"

#include <iostream>

namespace tersify {
namespace {

// The console's echo off for its lifetime; the mode it had comes back after.
class EchoOff {
 public:
  EchoOff() : input_(GetStdHandle(STD_INPUT_HANDLE)) {
    if (GetConsoleMode(input_, &saved_) == 0) return;
    restore_ = SetConsoleMode(input_, saved_ & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
  }
  ~EchoOff() {
    if (restore_) SetConsoleMode(input_, saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  HANDLE input_;
  DWORD saved_ = 0;
  bool restore_ = false;
};

}  // namespace

bool StandardInputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

std::optional<std::string> ReadHiddenLine(const std::string& prompt) {
  if (!StandardInputIsTerminal()) return std::nullopt;
  std::optional<std::string> line;
  {
    // Echo goes off before the prompt shows, so that nothing typed after it is echoed.
    const EchoOff echo_off;
    std::cerr << prompt << std::flush;
    line = ReadInputLine(std::cin);
  }
  // With echo off the console does not end the line the user typed.
  std::cerr << '\n' << std::flush;
  return line;
}

}  // namespace tersify
