#pragma once
// Where the password of a run comes from when it is not written on the
// command line, which every user of the machine can read (/proc/<pid>/cmdline):
// /P=- reads it from standard input; without /P=, TERSIFY_PASSWORD; without
// either, in the console with a user name and a terminal, a prompt that does
// not echo. Otherwise the connection keeps what it has (a data source may
// hold its own).

#include <functional>
#include <optional>
#include <string>

#include "tool/console/command_line.h"

namespace tersify {

// The environment variable a password left out of the command line is read from.
inline constexpr const char* kPasswordVariable = "TERSIFY_PASSWORD";

struct PasswordSources {
  // One line of standard input; nullopt at its end.
  std::function<std::optional<std::string>()> standard_input;
  // The value of TERSIFY_PASSWORD; nullopt when it is not set.
  std::function<std::optional<std::string>()> environment;
  // Asks for the password with this prompt without echo; empty when nobody
  // can be asked (no terminal, or the window's own dialog does the asking).
  std::function<std::optional<std::string>(const std::string& prompt)> prompt;
};

// The sources of this process: standard input, the environment and, when
// may_prompt and standard input is a terminal, the terminal.
PasswordSources ProcessPasswordSources(bool may_prompt);

// The password the run connects with, nullopt to keep the connection's own.
// Raises Exception when /P=- finds standard input at its end.
std::optional<std::string> ResolvePassword(const ToolSettings& Settings, const PasswordSources& Sources);

}  // namespace tersify
