#pragma once
// The provider that reaches Microsoft SQL Server through unixODBC: FreeTDS's
// driver by default, another one named by TERSIFY_ODBC_DRIVER.
//
// Environment:
//   TERSIFY_ODBC_DRIVER   driver name or path ("ODBC Driver 18 for SQL Server")
//   TERSIFY_ODBC_ENCRYPT  yes | no | optional | strict (driver default when unset)
//   TERSIFY_ODBC_TRACE=1  every ODBC call and its diagnostics on stderr
// ConnectionSettings::specific_options lines "name=value" go into the
// connection string last and win over generated keywords
// ("TrustServerCertificate=yes", "Encrypt=no", "APP=tersify").

#include <memory>
#include <string>

#include "client/providers/provider.h"

namespace tersify::providers {

std::unique_ptr<Provider> CreateOdbcProvider();

// The driver manager's version as it reports it without a connection
// ("ODBC driver manager 2.3 (ODBC 3.52)" for unixODBC 2.3.x); raises EMSError
// when no handle can be had.
std::string OdbcDriverManagerVersion();

}  // namespace tersify::providers
