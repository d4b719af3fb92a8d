#pragma once
// The ODBC connection string for a set of connection settings. Pure functions:
// nothing here touches a driver, so every rule is tested on its own.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "client/providers/provider.h"

namespace tersify::providers::odbc {

// The driver families whose connection keywords differ.
enum class DriverKind { FreeTDS, Microsoft, Other };

// The driver used when TERSIFY_ODBC_DRIVER is not set (default_driver_*.cpp):
// FreeTDS on Linux; on Windows the newest of Microsoft's drivers that is
// installed, "ODBC Driver 18 for SQL Server" then 17, else "SQL Server", which
// every Windows has.
const std::string& DefaultDriver();

// True where a connection to a server address without a user name logs in as
// the user's own account (Windows authentication): on Windows.
bool EmptyUserMeansWindowsLogin();

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

// The data-source name of a Server value "dsn:<name>" (any letter case of
// "dsn:"), empty for every other Server value.
std::string DataSourceName(const std::string& server);

// One entry of a data source in odbc.ini; empty when it has none.
using DataSourceLookup = std::function<std::string(const std::string& dsn, const std::string& key)>;

// The entry as unixODBC finds it (the user's odbc.ini, ODBCINI, then the system's).
std::string ReadDataSourceEntry(const std::string& dsn, const std::string& key);

// "name=value;name={va;lue};" as a user writes extra attributes: split at the
// semicolons outside braces, a braced value unwrapped ("}}" inside it is one
// '}'). Raises EMSError for a part that is not name=value or an open brace.
std::vector<std::pair<std::string, std::string>> ParseAttributeList(const std::string& text);

// What goes into a connection string besides the settings.
struct ConnectionStringOptions {
  std::string driver = DefaultDriver();  // name (with or without braces) or path
  std::string encrypt;                  // TERSIFY_ODBC_ENCRYPT: "", yes, no, strict, optional
  std::string extra_attributes;         // TERSIFY_ODBC_OPTIONS: "name=value;..."
  DataSourceLookup data_source = ReadDataSourceEntry;
};

// The options from the environment: TERSIFY_ODBC_DRIVER, TERSIFY_ODBC_ENCRYPT,
// TERSIFY_ODBC_OPTIONS.
ConnectionStringOptions ConnectionStringOptionsFromEnvironment();

// The driver family a connection will use: the data source's driver for
// "dsn:<name>", the configured driver otherwise.
DriverKind ConnectionDriverKind(const ConnectionSettings& settings,
                                const ConnectionStringOptions& options);

// What the connection asks of encryption, from whichever of the data source,
// TERSIFY_ODBC_ENCRYPT, TERSIFY_ODBC_OPTIONS and SpecificOptions says it
// last (FreeTDS's Encryption or Microsoft's Encrypt keyword).
enum class EncryptionDemand { DriverDefault, Off, Request, Require, Strict };
EncryptionDemand ConnectionEncryption(const ConnectionSettings& settings,
                                      const ConnectionStringOptions& options);

// The full connection string. Raises EMSError for a malformed Server value,
// an unknown encryption setting or a specific option that is not name=value.
// For "dsn:<name>" the data source gives server, port, driver and its options;
// a database, user and password that are given still win over its own, and a
// user and password left out are the data source's UID and PWD entries.
std::string BuildConnectionString(const ConnectionSettings& settings,
                                  const ConnectionStringOptions& options);

}  // namespace tersify::providers::odbc
