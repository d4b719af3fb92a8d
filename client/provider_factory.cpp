// Which provider serves a connection: the embedded SQLite provider when the
// server is "sqlite" (any letter case), SQL Server through ODBC otherwise.

#include <sqlite3.h>

#include <exception>

#include "client/providers/provider.h"
#include "client/providers/sqlite/sqlite_provider.h"
#include "framework/rtl/platform.h"

#ifdef TERSIFY_HAVE_ODBC_PROVIDER
#include "client/providers/odbc/odbc_provider.h"
#else
#include "client/errors.h"
#endif

namespace tersify::providers {

std::unique_ptr<Provider> CreateProvider(const ConnectionSettings& settings) {
  if (LowerCase(Trim(settings.server)) == "sqlite") return std::make_unique<SqliteProvider>();
#ifdef TERSIFY_HAVE_ODBC_PROVIDER
  return CreateOdbcProvider();
#else
  throw EMSError("The ODBC provider is not part of this build; only server 'sqlite' can be reached");
#endif
}

std::vector<std::string> ProviderLibraryVersions() {
  std::vector<std::string> versions = {std::string("SQLite ") + sqlite3_libversion()};
#ifdef TERSIFY_HAVE_ODBC_PROVIDER
  try {
    versions.push_back(OdbcDriverManagerVersion());
  } catch (const std::exception& e) {
    versions.push_back(std::string("ODBC driver manager: ") + e.what());
  }
#else
  versions.push_back("ODBC: not part of this build");
#endif
  return versions;
}

}  // namespace tersify::providers
