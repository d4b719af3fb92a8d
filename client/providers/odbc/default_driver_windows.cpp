#include "client/providers/odbc/odbc_api.h"  // before odbcinst.h

#include <odbcinst.h>

#include <string>
#include <vector>

#include "client/providers/odbc/connection_string.h"

namespace tersify::providers::odbc {
namespace {

// The names of the installed ODBC drivers.
std::vector<std::string> InstalledDrivers() {
  std::vector<char> list(16 * 1024, '\0');
  WORD used = 0;
  if (!SQLGetInstalledDrivers(list.data(), static_cast<WORD>(list.size() - 2), &used)) return {};
  // One name after the other, each ended by '\0', the list by an empty one.
  std::vector<std::string> names;
  for (const char* at = list.data(); *at && at < list.data() + list.size(); at += names.back().size() + 1)
    names.emplace_back(at);
  return names;
}

std::string ChooseDriver() {
  const std::vector<std::string> installed = InstalledDrivers();
  for (const char* preferred : {"ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server"})
    for (const std::string& name : installed)
      if (name == preferred) return name;
  return "SQL Server";
}

}  // namespace

const std::string& DefaultDriver() {
  static const std::string driver = ChooseDriver();
  return driver;
}

bool EmptyUserMeansWindowsLogin() { return true; }

}  // namespace tersify::providers::odbc
