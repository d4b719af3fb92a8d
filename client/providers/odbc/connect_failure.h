#pragma once
// Why a connection could not be made, in words a DBA acts on. FreeTDS reports
// most failures as "Unable to connect" or "Unexpected EOF"; the reason is
// read from its diagnostics and, where they cannot tell, from a plain TCP
// connect to the same address.

#include <string>

#include "client/errors.h"

namespace tersify::providers::odbc {

// Where the connection was going, for the reason's text.
struct ConnectTarget {
  std::string host;          // empty when unknown (a data source without Server)
  int port = 0;              // 0: the driver's default
  std::string instance;      // a named instance whose port the driver asks for
  std::string data_source;   // the ODBC data source, when one was used
  std::string user;
  std::string database;
  int timeout_seconds = 0;   // the login timeout
};

// What a plain TCP connect to an address finds.
enum class TcpProbe { UnknownHost, Refused, Accepted, NoAnswer };
TcpProbe ProbeTcp(const std::string& host, int port, int timeout_seconds);

// The driver's error of a failed connect, with a first line that names the
// reason ("login failed for user 'sa'", "nothing listens on db1:1433", ...)
// and the driver's own text beneath it. The error's state and number stay.
EMSError ExplainConnectFailure(const EMSError& driver_error, const ConnectTarget& target);

}  // namespace tersify::providers::odbc
