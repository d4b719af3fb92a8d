#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "framework/rtl/tcp_socket.h"

namespace tersify {
namespace {

struct AddrInfoDeleter {
  void operator()(addrinfo* a) const { freeaddrinfo(a); }
};

}  // namespace

TTcpSocket::TTcpSocket(const std::string& host, int port, int timeout_seconds) {
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
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, timeout_seconds * 1000) <= 0) {
        ::close(fd);
        continue;
      }
      int error = 0;
      socklen_t length = sizeof error;
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
      rc = error == 0 ? 0 : -1;
      errno = error;
    }
    if (rc == 0) {
      handle_ = fd;
      outcome_ = Outcome::Connected;
      return;
    }
    if (errno == ECONNREFUSED) refused = true;
    ::close(fd);
  }
  outcome_ = refused ? Outcome::Refused : Outcome::NoAnswer;
}

TTcpSocket::~TTcpSocket() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool TTcpSocket::Send(const void* data, size_t size) {
  if (handle_ < 0) return false;
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    pollfd p{static_cast<int>(handle_), POLLOUT, 0};
    if (::poll(&p, 1, 5000) <= 0) return false;
    const ssize_t sent = ::send(static_cast<int>(handle_), bytes, size, MSG_NOSIGNAL);
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
    const ssize_t got = ::recv(static_cast<int>(handle_), data + done, size - done, 0);
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

bool TTcpSocket::Readable(int timeout_ms) {
  if (handle_ < 0) return false;
  pollfd p{static_cast<int>(handle_), POLLIN, 0};
  return ::poll(&p, 1, timeout_ms) > 0;
}

}  // namespace tersify
