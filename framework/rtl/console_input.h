#pragma once
// Reading from the console: a line from standard input, and a secret typed on
// the terminal without being shown. The terminal's own settings live here and
// nowhere else.

#include <istream>
#include <optional>
#include <string>

namespace tersify {

// Whether standard input is a terminal.
bool StandardInputIsTerminal();

// One line from in without its line end (LF or CR LF); nullopt at the end of
// the input before any character.
std::optional<std::string> ReadInputLine(std::istream& in);

// Writes prompt to standard error and reads one line from standard input, a
// terminal, with echo off; the terminal's settings are restored afterwards,
// also when an interrupt or termination signal ends the process meanwhile.
// nullopt when standard input ends first or is no terminal.
std::optional<std::string> ReadHiddenLine(const std::string& prompt);

}  // namespace tersify
