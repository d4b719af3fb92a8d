#pragma once
// The ODBC connection string for a set of connection settings. Pure functions:
// nothing here touches a driver, so every rule is tested on its own.

#include <string>
#include <vector>

#include "client/providers/provider.h"

namespace tersify::providers::odbc {

// The driver families whose connection keywords differ.
enum class DriverKind { FreeTDS, Microsoft, Other };

// The driver used when TERSIFY_ODBC_DRIVER is not set.
inline constexpr const char* kDefaultDriver = "FreeTDS";

// The family of a driver name or path: "FreeTDS", "/usr/lib/.../libtdsodbc.so"
// -> FreeTDS; "ODBC Driver 18 for SQL Server", "libmsodbcsql-18.so" -> Microsoft.
DriverKind DriverKindOf(const std::string& driver);

// A value as a connection string may hold it: unchanged when plain, otherwise
// in braces. The ODBC rule doubles every '}' inside ("a;b}c" -> "{a;b}}c}").
// FreeTDS up to 1.3 (Debian 12) does not undo the doubling: it ends a braced
// value at the first "};" and keeps everything before it as it is, so for it
// a '}' stays single ("{a;b}c}") and a value holding "};" cannot be written
// at all (EMSError).
std::string EscapeConnectionValue(const std::string& value, DriverKind kind = DriverKind::Other);

// The parts of a Server value: "host", "host,port", "host\instance" (and
// "host\instance,port"). A non-zero port argument wins over a port in the text.
struct ServerAddress {
  std::string host;
  std::string instance;
  int port = 0;
};
ServerAddress ParseServer(const std::string& server, int port);

// What goes into a connection string besides the settings.
struct ConnectionStringOptions {
  std::string driver = kDefaultDriver;  // name (with or without braces) or path
  std::string encrypt;                  // TERSIFY_ODBC_ENCRYPT: "", yes, no, strict, optional
};

// The options from the environment: TERSIFY_ODBC_DRIVER, TERSIFY_ODBC_ENCRYPT.
ConnectionStringOptions ConnectionStringOptionsFromEnvironment();

// The full connection string. Raises EMSError for a malformed Server value,
// an unknown encryption setting or a specific option that is not name=value.
std::string BuildConnectionString(const ConnectionSettings& settings,
                                  const ConnectionStringOptions& options);

}  // namespace tersify::providers::odbc
