#pragma once
// A provider of the given kind for the contract suite, not yet open.

#include <memory>
#include <stdexcept>
#include <string>

#include "client/providers/provider.h"
#include "client/providers/sqlite/sqlite_provider.h"

#if defined(TERSIFY_HAVE_ODBC_PROVIDER) && __has_include("client/providers/odbc/odbc_provider.h")
#include "client/providers/odbc/odbc_provider.h"
#define TERSIFY_TEST_ODBC 1
#endif

namespace tersify::testing {

inline std::unique_ptr<providers::Provider> MakeProvider(const std::string& kind) {
  if (kind == "sqlite") return std::make_unique<providers::SqliteProvider>();
#ifdef TERSIFY_TEST_ODBC
  if (kind == "odbc") return providers::CreateOdbcProvider();
#endif
  throw std::runtime_error("no provider of kind " + kind + " in this build");
}

}  // namespace tersify::testing
