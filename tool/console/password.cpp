#include "tool/console/password.h"

#include <cstdlib>
#include <iostream>

#include "framework/rtl/console_input.h"
#include "framework/rtl/exception.h"

namespace tersify {

PasswordSources ProcessPasswordSources(bool may_prompt) {
  PasswordSources sources;
  sources.standard_input = [] { return ReadInputLine(std::cin); };
  sources.environment = []() -> std::optional<std::string> {
    if (const char* value = std::getenv(kPasswordVariable)) return std::string(value);
    return std::nullopt;
  };
  if (may_prompt && StandardInputIsTerminal())
    sources.prompt = [](const std::string& prompt) { return ReadHiddenLine(prompt); };
  return sources;
}

std::optional<std::string> ResolvePassword(const ToolSettings& Settings, const PasswordSources& Sources) {
  if (Settings.password_given) {
    if (Settings.password != "-") return Settings.password;
    std::optional<std::string> line = Sources.standard_input ? Sources.standard_input() : std::nullopt;
    if (!line) throw Exception("/P=- expects the password on a line of standard input, which ended first");
    return line;
  }
  if (Sources.environment)
    if (std::optional<std::string> value = Sources.environment()) return value;
  if (!Settings.user.empty() && Sources.prompt)
    return Sources.prompt("Password for " + Settings.user + ": ");
  return std::nullopt;
}

}  // namespace tersify
