#include "tool/console/program_info.h"

#include <zlib.h>

#include "client/providers/provider.h"
#include "tool/console/command_line.h"

#ifndef TERSIFY_VERSION
#error "TERSIFY_VERSION is set by the build from the project's version"
#endif

namespace tersify {
namespace {

std::string& WindowLibrary() {
  static std::string name_and_version;
  return name_and_version;
}

}  // namespace

std::string HelpText() {
  return UsageText + "\n\nSwitches:\n" + SwitchListText() +
         "\nThe password may also come from TERSIFY_PASSWORD, a prompt or the data source.\n"
         "See man tersify for every switch, the environment and the exit codes.\n";
}

std::string VersionText() {
  std::string text = std::string("tersify ") + TERSIFY_VERSION + "\n";
  text += std::string("zlib ") + zlibVersion() + "\n";
  for (const std::string& library : providers::ProviderLibraryVersions()) text += library + "\n";
  if (!WindowLibrary().empty()) text += WindowLibrary() + "\n";
  return text;
}

void SetWindowLibraryVersion(const std::string& NameAndVersion) { WindowLibrary() = NameAndVersion; }

}  // namespace tersify
