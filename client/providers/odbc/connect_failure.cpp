#include "client/providers/odbc/connect_failure.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "framework/rtl/tcp_socket.h"

namespace tersify::providers::odbc {
namespace {

// SQL Server's and FreeTDS's numbers for the failures told apart here.
constexpr int kLoginFailed = 18456;
constexpr int kCannotOpenDatabase = 4060;
constexpr int kFreeTdsCannotConnect = 20009;
constexpr int kFreeTdsUnexpectedEof = 20017;
constexpr int kFreeTdsBadToken = 20020;
constexpr int kFreeTdsConnectionFailed = 20002;
constexpr int kFreeTdsUnknownHost = 20012;

// SQL Server's port when neither the address nor the instance names one.
constexpr int kDefaultPort = 1433;
// How long the TCP probe after a failed connect may take at most.
constexpr int kMaxProbeSeconds = 5;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool Has(const std::string& lower_text, const char* needle) {
  return lower_text.find(needle) != std::string::npos;
}

std::string Address(const ConnectTarget& t) {
  if (t.host.empty()) return "the server of data source '" + t.data_source + "'";
  if (t.port == 0 && !t.instance.empty()) return t.host + "\\" + t.instance;
  return t.host + ":" + std::to_string(t.port != 0 ? t.port : kDefaultPort);
}

std::string DidNotAnswer(const ConnectTarget& t) {
  return "the server did not answer within " + std::to_string(t.timeout_seconds) + " s (" + Address(t) + ")";
}

// ENCRYPTION answers of a server's PRELOGIN reply.
constexpr int kServerEncryptNotSupported = 0x02;
constexpr int kServerEncryptRequired = 0x03;

// A failure after the TCP connect: what the server's PRELOGIN answer tells.
std::string ReasonFromPrelogin(const EMSError& e, const ConnectTarget& t, const std::string& text) {
  const bool probe_possible = !t.host.empty() && (t.port != 0 || t.instance.empty());
  const PreloginProbe probe =
      probe_possible ? ProbePrelogin(t.host, t.port != 0 ? t.port : kDefaultPort,
                                     std::clamp(t.timeout_seconds, 1, kMaxProbeSeconds))
                     : PreloginProbe{};
  switch (probe.outcome) {
    case PreloginProbe::NotTds: return "the peer at " + Address(t) + " does not speak the server's protocol (TDS)";
    case PreloginProbe::NoAnswer: return DidNotAnswer(t);
    case PreloginProbe::NoConnection:
      if (e.NativeError() == kFreeTdsUnexpectedEof || e.NativeError() == kFreeTdsBadToken || Has(text, "bad token"))
        return "the peer at " + Address(t) + " does not speak the server's protocol (TDS)";
      return {};
    case PreloginProbe::Answered: break;
  }
  const bool demanded = t.encryption == EncryptionDemand::Require || t.encryption == EncryptionDemand::Strict;
  if (probe.encryption == kServerEncryptNotSupported) {
    if (demanded) return "encryption was demanded but the server at " + Address(t) + " offers none";
    return {};
  }
  if (t.encryption == EncryptionDemand::Off) {
    if (probe.encryption == kServerEncryptRequired)
      return "the server at " + Address(t) + " requires encryption and the connection refuses it (Encryption=off)";
    return {};  // no TLS was tried: the driver's words stand
  }
  std::string reason = "the TLS handshake with " + Address(t) + " failed";
  if (t.ca_file.empty()) return reason;
  // FreeTDS says no more than that: the certificate itself tells which check failed.
  const CertificateProbe certificate = ProbeCertificate(t.host, t.port != 0 ? t.port : kDefaultPort,
                                                        std::clamp(t.timeout_seconds, 1, kMaxProbeSeconds), t.ca_file);
  const std::string trusted_by = "trusted by the ca file '" + t.ca_file + "'";
  switch (certificate.outcome) {
    case CertificateProbe::Untrusted: return reason + ": the server's certificate is not " + trusted_by;
    case CertificateProbe::OtherName:
      return reason + ": the server's certificate is issued for " + certificate.names + ", not for '" + t.host +
             "' (" + trusted_by + ")";
    case CertificateProbe::Trusted:
      return reason + ": no TLS version or cipher is common to both sides (the server's certificate is " +
             trusted_by + " and names the host)";
    case CertificateProbe::NoCertificate: break;
  }
  return reason + ": the server's certificate is not " + trusted_by +
         ", or no TLS version or cipher is common to both sides";
}

std::string Reason(const EMSError& e, const ConnectTarget& t) {
  const std::string text = Lower(e.Message());
  const int native = e.NativeError();
  // The driver manager found no data source or driver of that name.
  if (e.SQLState() == "IM002") {
    if (!t.data_source.empty())
      return "no ODBC data source named '" + t.data_source +
             "' is defined (odbc.ini, or the file ODBCINI names)";
    return "the ODBC driver is not installed or not registered in odbcinst.ini";
  }
  // SQL Server's text for an unknown database ends in "The login failed." too.
  if (native == kCannotOpenDatabase || Has(text, "cannot open database"))
    return "the database '" + t.database + "' does not exist or the login may not open it";
  if (native == kLoginFailed || Has(text, "login failed"))
    return "login failed for user '" + t.user + "'";
  // FreeTDS's own words, "Unknown host machine name.", name no host.
  if (native == kFreeTdsUnknownHost || Has(text, "unknown host machine name"))
    return t.host.empty() ? "the host of data source '" + t.data_source + "' is not known"
                          : "the host '" + t.host + "' is not known";
  if (e.SQLState() == "HYT00" || Has(text, "timeout expired") || Has(text, "timed out")) return DidNotAnswer(t);
  if (native == kFreeTdsCannotConnect || Has(text, "unable to connect: adaptive server is unavailable")) {
    if (t.host.empty() || (t.port == 0 && !t.instance.empty())) return Address(t) + " cannot be reached";
    switch (ProbeTcp(t.host, t.port != 0 ? t.port : kDefaultPort,
                     std::clamp(t.timeout_seconds, 1, kMaxProbeSeconds))) {
      case TcpProbe::UnknownHost: return "the host '" + t.host + "' is not known";
      case TcpProbe::Refused: return "nothing listens on " + Address(t);
      case TcpProbe::NoAnswer: return DidNotAnswer(t);
      case TcpProbe::Accepted: break;
    }
    return "the server at " + Address(t) + " cannot be reached";
  }
  if (native == kFreeTdsUnexpectedEof || native == kFreeTdsBadToken || native == kFreeTdsConnectionFailed ||
      Has(text, "unexpected eof") || Has(text, "connection failed"))
    return ReasonFromPrelogin(e, t, text);
  return {};
}

}  // namespace

TcpProbe ProbeTcp(const std::string& host, int port, int timeout_seconds) {
  const TTcpSocket socket(host, port, timeout_seconds);
  switch (socket.Result()) {
    case TTcpSocket::Outcome::Connected: return TcpProbe::Accepted;
    case TTcpSocket::Outcome::UnknownHost: return TcpProbe::UnknownHost;
    case TTcpSocket::Outcome::Refused: return TcpProbe::Refused;
    case TTcpSocket::Outcome::NoAnswer: break;
  }
  return TcpProbe::NoAnswer;
}

PreloginProbe ProbePrelogin(const std::string& host, int port, int timeout_seconds) {
  TTcpSocket socket(host, port, timeout_seconds);
  if (!socket.Connected()) return {};
  // VERSION and ENCRYPTION (off: "the login only, if you can"), then the terminator.
  static const unsigned char kPrelogin[] = {
      0x12, 0x01, 0x00, 0x1A, 0x00, 0x00, 0x01, 0x00,  // header: PRELOGIN, end of message, 26 bytes
      0x00, 0x00, 0x0B, 0x00, 0x06,                    // VERSION at 11, 6 bytes
      0x01, 0x00, 0x11, 0x00, 0x01,                    // ENCRYPTION at 17, 1 byte
      0xFF,                                            // terminator
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // version 0.0.0
      0x00};                                           // ENCRYPT_OFF
  if (!socket.Send(kPrelogin, sizeof kPrelogin)) return {};
  PreloginProbe probe;
  char header[8];
  if (!socket.ReceiveExact(header, sizeof header, timeout_seconds * 1000)) {
    probe.outcome = socket.Readable(0) ? PreloginProbe::NotTds : PreloginProbe::NoAnswer;
    return probe;
  }
  const size_t length = (static_cast<unsigned char>(header[2]) << 8) | static_cast<unsigned char>(header[3]);
  probe.outcome = PreloginProbe::NotTds;
  if (header[0] != 0x04 || length < 8 + 6 || length > 4096) return probe;
  std::string payload(length - 8, '\0');
  if (!socket.ReceiveExact(payload.data(), payload.size(), timeout_seconds * 1000)) return probe;
  for (size_t at = 0; at + 5 <= payload.size() && static_cast<unsigned char>(payload[at]) != 0xFF; at += 5) {
    const size_t offset = (static_cast<unsigned char>(payload[at + 1]) << 8) | static_cast<unsigned char>(payload[at + 2]);
    const size_t size = (static_cast<unsigned char>(payload[at + 3]) << 8) | static_cast<unsigned char>(payload[at + 4]);
    if (offset + size > payload.size()) return probe;
    if (payload[at] == 0x01 && size >= 1) {
      probe.outcome = PreloginProbe::Answered;
      probe.encryption = static_cast<unsigned char>(payload[offset]);
    }
  }
  return probe;
}

std::string FreeTdsConfEntry(const std::string& section, const std::string& key) {
  std::string path;
  if (const char* file = std::getenv("FREETDSCONF"); file && *file) {
    path = file;
  } else if (const char* home = std::getenv("HOME"); home && *home && std::ifstream(std::string(home) + "/.freetds.conf").is_open()) {
    path = std::string(home) + "/.freetds.conf";
  } else {
    path = "/etc/freetds/freetds.conf";
  }
  std::ifstream in(path);
  std::string line, current, in_section, in_global;
  const std::string wanted_section = Lower(section), wanted_key = Lower(key);
  while (std::getline(in, line)) {
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == ';' || line[first] == '#') continue;
    line = line.substr(first);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    if (line.front() == '[') {
      current = Lower(line.substr(1, line.find(']') - 1));
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string name = Lower(line.substr(0, eq));
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
    if (name != wanted_key) continue;
    const size_t v = line.find_first_not_of(" \t", eq + 1);
    const std::string value = v == std::string::npos ? std::string() : line.substr(v);
    if (current == wanted_section) in_section = value;
    if (current == "global") in_global = value;
  }
  return !in_section.empty() ? in_section : in_global;
}

EMSError ExplainConnectFailure(const EMSError& driver_error, const ConnectTarget& target) {
  const std::string reason = Reason(driver_error, target);
  if (reason.empty()) return driver_error;
  return EMSError(reason + "\n" + driver_error.Message(), driver_error.SQLState(),
                  driver_error.NativeError());
}

}  // namespace tersify::providers::odbc
