#include "client/providers/odbc/connect_failure.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>

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

struct AddrInfoDeleter {
  void operator()(addrinfo* a) const { freeaddrinfo(a); }
};

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

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

// Reads exactly n bytes before the deadline; false on end, error or time-out.
bool ReceiveExact(int fd, char* data, size_t n, int timeout_ms) {
  size_t done = 0;
  while (done < n) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return false;
    const ssize_t got = ::recv(fd, data + done, n - done, 0);
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

// A non-blocking socket connected to the first address that accepts; -1 when none does.
int ConnectTo(const std::string& host, int port, int timeout_seconds, bool* refused) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* raw = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &raw) != 0 || !raw) return -2;
  std::unique_ptr<addrinfo, AddrInfoDeleter> addresses(raw);
  for (addrinfo* a = raw; a; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    Socket guard(fd);
    int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, timeout_seconds * 1000) <= 0) continue;
      int error = 0;
      socklen_t length = sizeof error;
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
      rc = error == 0 ? 0 : -1;
      errno = error;
    }
    if (rc == 0) return guard.Release();
    if (errno == ECONNREFUSED && refused) *refused = true;
  }
  return -1;
}

}  // namespace

TcpProbe ProbeTcp(const std::string& host, int port, int timeout_seconds) {
  bool refused = false;
  const int fd = ConnectTo(host, port, timeout_seconds, &refused);
  if (fd == -2) return TcpProbe::UnknownHost;
  if (fd < 0) return refused ? TcpProbe::Refused : TcpProbe::NoAnswer;
  Socket connected(fd);
  return TcpProbe::Accepted;
}

PreloginProbe ProbePrelogin(const std::string& host, int port, int timeout_seconds) {
  const int fd = ConnectTo(host, port, timeout_seconds, nullptr);
  if (fd < 0) return {};
  Socket s(fd);
  // VERSION and ENCRYPTION (off: "the login only, if you can"), then the terminator.
  static const unsigned char kPrelogin[] = {
      0x12, 0x01, 0x00, 0x1A, 0x00, 0x00, 0x01, 0x00,  // header: PRELOGIN, end of message, 26 bytes
      0x00, 0x00, 0x0B, 0x00, 0x06,                    // VERSION at 11, 6 bytes
      0x01, 0x00, 0x11, 0x00, 0x01,                    // ENCRYPTION at 17, 1 byte
      0xFF,                                            // terminator
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // version 0.0.0
      0x00};                                           // ENCRYPT_OFF
  if (::send(fd, kPrelogin, sizeof kPrelogin, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof kPrelogin))
    return {};
  PreloginProbe probe;
  char header[8];
  if (!ReceiveExact(fd, header, sizeof header, timeout_seconds * 1000)) {
    pollfd p{fd, POLLIN, 0};
    probe.outcome = ::poll(&p, 1, 0) > 0 ? PreloginProbe::NotTds : PreloginProbe::NoAnswer;
    return probe;
  }
  const size_t length = (static_cast<unsigned char>(header[2]) << 8) | static_cast<unsigned char>(header[3]);
  probe.outcome = PreloginProbe::NotTds;
  if (header[0] != 0x04 || length < 8 + 6 || length > 4096) return probe;
  std::string payload(length - 8, '\0');
  if (!ReceiveExact(fd, payload.data(), payload.size(), timeout_seconds * 1000)) return probe;
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

namespace {

template <typename T, void (*Free)(T*)>
struct OpenSslFree {
  void operator()(T* p) const { Free(p); }
};
using SslContext = std::unique_ptr<SSL_CTX, OpenSslFree<SSL_CTX, SSL_CTX_free>>;
using SslSession = std::unique_ptr<SSL, OpenSslFree<SSL, SSL_free>>;
using CertificateStore = std::unique_ptr<X509_STORE, OpenSslFree<X509_STORE, X509_STORE_free>>;
using StoreCheck = std::unique_ptr<X509_STORE_CTX, OpenSslFree<X509_STORE_CTX, X509_STORE_CTX_free>>;

void FreeGeneralNames(GENERAL_NAMES* names) { GENERAL_NAMES_free(names); }
using GeneralNames = std::unique_ptr<GENERAL_NAMES, OpenSslFree<GENERAL_NAMES, FreeGeneralNames>>;

constexpr size_t kTdsHeader = 8;
constexpr size_t kPreloginPacketPayload = 4096 - kTdsHeader;

// Bytes as PRELOGIN packets, the last one marked as the end of the message.
bool SendPrelogin(int fd, const std::string& bytes) {
  for (size_t at = 0; at < bytes.size(); at += kPreloginPacketPayload) {
    const size_t n = std::min(kPreloginPacketPayload, bytes.size() - at);
    const size_t length = n + kTdsHeader;
    std::string packet = {0x12, static_cast<char>(at + n == bytes.size() ? 0x01 : 0x00),
                          static_cast<char>(length >> 8), static_cast<char>(length & 0xFF), 0, 0, 1, 0};
    packet.append(bytes, at, n);
    if (::send(fd, packet.data(), packet.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(packet.size())) return false;
  }
  return true;
}

// The payload of the next TDS packet; false on end, error, time-out or a packet of no sense.
bool ReceivePacket(int fd, std::string& payload, int timeout_ms) {
  char header[kTdsHeader];
  if (!ReceiveExact(fd, header, sizeof header, timeout_ms)) return false;
  const size_t length = (static_cast<unsigned char>(header[2]) << 8) | static_cast<unsigned char>(header[3]);
  if (length < kTdsHeader) return false;
  payload.assign(length - kTdsHeader, '\0');
  return ReceiveExact(fd, payload.data(), payload.size(), timeout_ms);
}

// The DNS names and addresses a certificate is issued for (its common name when it lists none).
std::string CertificateNames(X509* certificate) {
  std::string names;
  auto add = [&names](const std::string& name) { names += (names.empty() ? "" : ", ") + name; };
  const GeneralNames alternatives(
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)));
  for (int i = 0; alternatives && i < sk_GENERAL_NAME_num(alternatives.get()); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(alternatives.get(), i);
    if (name->type == GEN_DNS) {
      add(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(name->d.dNSName)),
                      static_cast<size_t>(ASN1_STRING_length(name->d.dNSName))));
    } else if (name->type == GEN_IPADD) {
      const unsigned char* bytes = ASN1_STRING_get0_data(name->d.iPAddress);
      const int size = ASN1_STRING_length(name->d.iPAddress);
      char text[INET6_ADDRSTRLEN] = {};
      if ((size == 4 || size == 16) && inet_ntop(size == 4 ? AF_INET : AF_INET6, bytes, text, sizeof text)) add(text);
    }
  }
  if (names.empty()) {
    char common[256] = {};
    if (X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, common, sizeof common) > 0)
      add(common);
  }
  return names.empty() ? "no name" : names;
}

bool IsAddress(const std::string& host) {
  unsigned char bytes[16];
  return inet_pton(AF_INET, host.c_str(), bytes) == 1 || inet_pton(AF_INET6, host.c_str(), bytes) == 1;
}

}  // namespace

CertificateProbe ProbeCertificate(const std::string& host, int port, int timeout_seconds, const std::string& ca_file) {
  const int fd = ConnectTo(host, port, timeout_seconds, nullptr);
  if (fd < 0) return {};
  Socket s(fd);
  const int timeout_ms = timeout_seconds * 1000;
  // The PRELOGIN of ProbePrelogin, asking for encryption this time (ENCRYPT_ON).
  const std::string prelogin = {0x00, 0x00, 0x0B, 0x00, 0x06, 0x01, 0x00, 0x11, 0x00, 0x01, static_cast<char>(0xFF),
                                0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
  std::string answer;
  if (!SendPrelogin(fd, prelogin) || !ReceivePacket(fd, answer, timeout_ms)) return {};

  // The handshake inside PRELOGIN packets, as far as the server's certificate.
  const SslContext context(SSL_CTX_new(TLS_client_method()));
  if (!context) return {};
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
  const SslSession session(SSL_new(context.get()));
  BIO* from_server = BIO_new(BIO_s_mem());
  BIO* to_server = BIO_new(BIO_s_mem());
  if (!session || !from_server || !to_server) {
    BIO_free(from_server);
    BIO_free(to_server);
    return {};
  }
  SSL_set_bio(session.get(), from_server, to_server);  // the session owns both now
  SSL_set_connect_state(session.get());
  if (!IsAddress(host)) SSL_set_tlsext_host_name(session.get(), host.c_str());
  for (int flight = 0; flight < 16 && !SSL_get0_peer_certificate(session.get()); ++flight) {
    const int rc = SSL_do_handshake(session.get());
    std::string out;
    char buffer[4096];
    for (int n; (n = BIO_read(to_server, buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
    if (!out.empty() && !SendPrelogin(fd, out)) break;
    if (rc == 1 || SSL_get_error(session.get(), rc) != SSL_ERROR_WANT_READ) break;
    std::string in;
    if (!ReceivePacket(fd, in, timeout_ms)) break;
    BIO_write(from_server, in.data(), static_cast<int>(in.size()));
  }
  X509* certificate = SSL_get0_peer_certificate(session.get());
  if (!certificate) return {};

  CertificateProbe probe;
  probe.names = CertificateNames(certificate);
  const CertificateStore store(X509_STORE_new());
  const StoreCheck check(X509_STORE_CTX_new());
  if (!store || !check || X509_STORE_load_file(store.get(), ca_file.c_str()) != 1 ||
      X509_STORE_CTX_init(check.get(), store.get(), certificate, SSL_get_peer_cert_chain(session.get())) != 1 ||
      X509_verify_cert(check.get()) != 1) {
    probe.outcome = CertificateProbe::Untrusted;
    return probe;
  }
  const bool named = IsAddress(host) ? X509_check_ip_asc(certificate, host.c_str(), 0) == 1
                                     : X509_check_host(certificate, host.c_str(), host.size(), 0, nullptr) == 1;
  probe.outcome = named ? CertificateProbe::Trusted : CertificateProbe::OtherName;
  return probe;
}

std::string FreeTdsConfEntry(const std::string& section, const std::string& key) {
  std::string path;
  if (const char* file = std::getenv("FREETDSCONF"); file && *file) {
    path = file;
  } else if (const char* home = std::getenv("HOME"); home && *home && ::access((std::string(home) + "/.freetds.conf").c_str(), R_OK) == 0) {
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
