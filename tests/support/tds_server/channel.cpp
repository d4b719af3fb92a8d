#include "tests/support/tds_server/channel.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <cerrno>
#include <climits>

#include "tests/support/tds_server/packet_io.h"

namespace tersify::testing::tds {

size_t Channel::ReceiveRaw(char* data, size_t n) {
  for (;;) {
    const ssize_t got = ::recv(fd_, data, n, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw ConnectionClosed();
    if (got > 0 && tap_) tap_(std::string_view(data, static_cast<size_t>(got)));
    return static_cast<size_t>(got);
  }
}

void Channel::SendRaw(const char* data, size_t n) {
  size_t sent = 0;
  while (sent < n) {
    const ssize_t done = ::send(fd_, data + sent, n - sent, MSG_NOSIGNAL);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) throw ConnectionClosed();
    sent += static_cast<size_t>(done);
  }
}

size_t Channel::Receive(char* data, size_t n) {
  if (!tls_) return ReceiveRaw(data, n);
  const int got = SSL_read(tls_, data, static_cast<int>(std::min<size_t>(n, INT_MAX)));
  if (got > 0) return static_cast<size_t>(got);
  const int error = SSL_get_error(tls_, got);
  ERR_clear_error();
  if (error == SSL_ERROR_ZERO_RETURN) return 0;
  throw ConnectionClosed();
}

void Channel::Send(const char* data, size_t n) {
  if (!tls_) return SendRaw(data, n);
  size_t sent = 0;
  while (sent < n) {
    const int done = SSL_write(tls_, data + sent, static_cast<int>(std::min<size_t>(n - sent, INT_MAX)));
    if (done <= 0) {
      ERR_clear_error();
      throw ConnectionClosed();
    }
    sent += static_cast<size_t>(done);
  }
}

}  // namespace tersify::testing::tds
