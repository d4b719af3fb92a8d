#include "framework/rtl/console_input.h"

namespace tersify {

std::optional<std::string> ReadInputLine(std::istream& in) {
  std::string line;
  if (!std::getline(in, line) && line.empty()) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace tersify
