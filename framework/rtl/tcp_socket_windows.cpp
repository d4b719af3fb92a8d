// Winsock before windows.h: windows.h would bring the old winsock.h otherwise.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>

#include "framework/rtl/tcp_socket.h"

namespace tersify {
namespace {

struct AddrInfoDeleter {
  void operator()(addrinfo* a) const { freeaddrinfo(a); }
};

// Winsock is started once for the process and never stopped: a probe may come
// at any time, and the process's end releases it.
bool WinsockStarted() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

// Waits until the socket is connected (for_write) or can be read; false on
// time-out. select, not WSAPoll: WSAPoll does not report a refused connect on
// every Windows version. failed tells a connect that was refused or failed.
bool Wait(SOCKET s, bool for_write, int timeout_ms, bool* failed = nullptr) {
  fd_set ready, errors;
  FD_ZERO(&ready);
  FD_ZERO(&errors);
  FD_SET(s, &ready);
  FD_SET(s, &errors);
  timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  const int rc = for_write ? select(0, nullptr, &ready, &errors, &limit) : select(0, &ready, nullptr, &errors, &limit);
  if (rc <= 0) return false;
  if (failed) *failed = FD_ISSET(s, &errors) != 0;
  return true;
}

}  // namespace

TTcpSocket::TTcpSocket(const std::string& host, int port, int timeout_seconds) {
  if (!WinsockStarted()) return;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* raw = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &raw) != 0 || !raw) {
    outcome_ = Outcome::UnknownHost;
    return;
  }
  std::unique_ptr<addrinfo, AddrInfoDeleter> addresses(raw);
  bool refused = false;
  for (addrinfo* a = raw; a; a = a->ai_next) {
    const SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) continue;
    u_long non_blocking = 1;
    ioctlsocket(s, FIONBIO, &non_blocking);
    int rc = ::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen));
    int error = rc == 0 ? 0 : WSAGetLastError();
    if (rc != 0 && error == WSAEWOULDBLOCK) {
      bool failed = false;
      if (!Wait(s, true, timeout_seconds * 1000, &failed)) {
        closesocket(s);
        continue;
      }
      int so_error = 0;
      int length = sizeof so_error;
      ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error), &length);
      error = so_error;
      rc = (so_error == 0 && !failed) ? 0 : -1;
      if (failed && so_error == 0) error = WSAECONNREFUSED;
    }
    if (rc == 0) {
      handle_ = static_cast<long long>(s);
      outcome_ = Outcome::Connected;
      return;
    }
    if (error == WSAECONNREFUSED) refused = true;
    closesocket(s);
  }
  outcome_ = refused ? Outcome::Refused : Outcome::NoAnswer;
}

TTcpSocket::~TTcpSocket() {
  if (handle_ >= 0) closesocket(static_cast<SOCKET>(handle_));
}

bool TTcpSocket::Send(const void* data, size_t size) {
  if (handle_ < 0) return false;
  const SOCKET s = static_cast<SOCKET>(handle_);
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    if (!Wait(s, true, 5000)) return false;
    const int piece = size > 0x10000 ? 0x10000 : static_cast<int>(size);
    const int sent = ::send(s, bytes, piece, 0);
    if (sent <= 0) return false;
    bytes += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

bool TTcpSocket::ReceiveExact(char* data, size_t size, int timeout_ms) {
  size_t done = 0;
  while (done < size) {
    if (!Readable(timeout_ms)) return false;
    const size_t left = size - done;
    const int got = ::recv(static_cast<SOCKET>(handle_), data + done, left > 0x10000 ? 0x10000 : static_cast<int>(left), 0);
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

bool TTcpSocket::Readable(int timeout_ms) {
  if (handle_ < 0) return false;
  return Wait(static_cast<SOCKET>(handle_), false, timeout_ms);
}

}  // namespace tersify
