#pragma once
// The debugger output of the diagnostic log. A process started with the
// switch WINDBG ("-WINDBG" or "/windbg", any letter case) copies every log
// entry there. Linux has no debugger output channel, so each text goes to
// standard error as one line: visible in a terminal and under a debugger,
// and never mixed into the tool's standard output.

#include <optional>
#include <string>
#include <vector>

namespace tersify {

// True when one of args (the program's arguments, without the program name)
// is name introduced by '-' or '/', letters compared without case.
bool FindCmdLineSwitch(const std::vector<std::string>& args, const std::string& name);

// Whether the process was started with the WINDBG switch (its command line is
// read once).
bool WindbgSwitch();
// Replaces what the command line says (tests); std::nullopt goes back to it.
void OverrideWindbgSwitch(std::optional<bool> value);

// Sends text to the debugger output: standard error, followed by a line break.
void OutputDebugString(const std::string& text);

}  // namespace tersify
