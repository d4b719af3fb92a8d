#pragma once
// What the program says about itself: the --help text (the usage text, every
// switch, a pointer to the manual page) and the --version text (tersify's
// version and those of the libraries it runs on).

#include <string>

namespace tersify {

// The usage text as every other path prints it, then the list of switches and
// the pointer to "man tersify"; ends with a line end.
std::string HelpText();

// "tersify <version>" and one line for each library: zlib, SQLite, the ODBC
// driver manager and, once SetWindowLibraryVersion has named it, the window's
// library. Ends with a line end.
std::string VersionText();

// Names the window system library linked into this program ("Qt 6.4.2"), for
// VersionText; set by the one place that wires the window in.
void SetWindowLibraryVersion(const std::string& NameAndVersion);

}  // namespace tersify
