#include "client/providers/odbc/connect_failure.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
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

 private:
  int fd_;
};

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
  if (Has(text, "certificate"))
    return "the server's certificate is not trusted (" + Address(t) + ")";
  if (Has(text, "encryption") && (Has(text, "not supported") || Has(text, "not available") ||
                                  Has(text, "server does not support")))
    return "encryption was demanded but the server at " + Address(t) + " offers none";
  if (Has(text, "tls") || Has(text, "ssl") || Has(text, "handshake"))
    return "the TLS handshake with " + Address(t) + " failed";
  if (e.SQLState() == "HYT00" || Has(text, "timeout expired") || Has(text, "timed out"))
    return "the server did not answer within " + std::to_string(t.timeout_seconds) + " s (" +
           Address(t) + ")";
  if (native == kFreeTdsUnexpectedEof || native == kFreeTdsBadToken ||
      native == kFreeTdsConnectionFailed || Has(text, "unexpected eof") || Has(text, "bad token"))
    return "the peer at " + Address(t) + " does not speak the server's protocol (TDS)";
  if (native == kFreeTdsCannotConnect || Has(text, "unable to connect")) {
    if (t.host.empty() || (t.port == 0 && !t.instance.empty())) return Address(t) + " cannot be reached";
    switch (ProbeTcp(t.host, t.port != 0 ? t.port : kDefaultPort,
                     std::clamp(t.timeout_seconds, 1, kMaxProbeSeconds))) {
      case TcpProbe::UnknownHost: return "the host '" + t.host + "' is not known";
      case TcpProbe::Refused: return "nothing listens on " + Address(t);
      case TcpProbe::NoAnswer:
        return "the server did not answer within " + std::to_string(t.timeout_seconds) + " s (" +
               Address(t) + ")";
      case TcpProbe::Accepted: break;
    }
    return "the server at " + Address(t) + " cannot be reached";
  }
  return {};
}

}  // namespace

TcpProbe ProbeTcp(const std::string& host, int port, int timeout_seconds) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* raw = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &raw) != 0 || !raw)
    return TcpProbe::UnknownHost;
  std::unique_ptr<addrinfo, AddrInfoDeleter> addresses(raw);
  bool refused = false;
  for (addrinfo* a = raw; a; a = a->ai_next) {
    Socket s(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
    if (s.get() < 0) continue;
    int rc = ::connect(s.get(), a->ai_addr, a->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      pollfd p{s.get(), POLLOUT, 0};
      if (::poll(&p, 1, timeout_seconds * 1000) <= 0) continue;
      int error = 0;
      socklen_t length = sizeof error;
      ::getsockopt(s.get(), SOL_SOCKET, SO_ERROR, &error, &length);
      rc = error == 0 ? 0 : -1;
      errno = error;
    }
    if (rc == 0) return TcpProbe::Accepted;
    if (errno == ECONNREFUSED) refused = true;
  }
  return refused ? TcpProbe::Refused : TcpProbe::NoAnswer;
}

EMSError ExplainConnectFailure(const EMSError& driver_error, const ConnectTarget& target) {
  const std::string reason = Reason(driver_error, target);
  if (reason.empty()) return driver_error;
  return EMSError(reason + "\n" + driver_error.Message(), driver_error.SQLState(),
                  driver_error.NativeError());
}

}  // namespace tersify::providers::odbc
