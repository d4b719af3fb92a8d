#pragma once
// Why a connection could not be made, in words a DBA acts on. FreeTDS reports
// most failures as "Unable to connect" or "Unexpected EOF"; the reason is
// read from its diagnostics and, where they cannot tell, from a plain TCP
// connect to the same address.

#include <string>

#include "client/errors.h"
#include "client/providers/odbc/connection_string.h"

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
  EncryptionDemand encryption = EncryptionDemand::DriverDefault;
  std::string ca_file;       // FreeTDS's "ca file" for the connection, when one is set
};

// A FreeTDS configuration entry (freetds.conf: FREETDSCONF, ~/.freetds.conf,
// /etc/freetds/freetds.conf, the first that exists) of a section, falling back
// to [global]; empty when none is set.
std::string FreeTdsConfEntry(const std::string& section, const std::string& key);

// What a PRELOGIN sent to an address brings back.
struct PreloginProbe {
  enum Outcome { NoConnection, NoAnswer, NotTds, Answered } outcome = NoConnection;
  int encryption = -1;  // the server's ENCRYPTION answer when Answered
};
PreloginProbe ProbePrelogin(const std::string& host, int port, int timeout_seconds);

// What the certificate of a server that takes a TLS handshake inside its
// PRELOGIN packets shows, checked against a CA file and the host name the
// connection used, as FreeTDS checks it.
struct CertificateProbe {
  enum Outcome {
    NoCertificate,  // no handshake got as far as the certificate
    Untrusted,      // the CA file does not vouch for it
    OtherName,      // trusted, but issued for other names
    Trusted,        // trusted and issued for the host
  } outcome = NoCertificate;
  std::string names;  // the names it is issued for: "other.example, 10.0.0.7"
};
CertificateProbe ProbeCertificate(const std::string& host, int port, int timeout_seconds, const std::string& ca_file);

// What a plain TCP connect to an address finds.
enum class TcpProbe { UnknownHost, Refused, Accepted, NoAnswer };
TcpProbe ProbeTcp(const std::string& host, int port, int timeout_seconds);

// The driver's error of a failed connect, with a first line that names the
// reason ("login failed for user 'sa'", "nothing listens on db1:1433", ...)
// and the driver's own text beneath it. The error's state and number stay.
EMSError ExplainConnectFailure(const EMSError& driver_error, const ConnectTarget& target);

}  // namespace tersify::providers::odbc
