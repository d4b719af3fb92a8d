#pragma once
// The byte stream of one client connection: plain TCP, or TLS over it once a
// handshake has completed. Every byte read from the socket, before any
// decryption, can be handed to a tap, so tests can see what travels the wire.

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

typedef struct ssl_st SSL;

namespace tersify::testing::tds {

// Receives the raw bytes read from a client's socket, in order.
using WireTap = std::function<void(std::string_view)>;

class Channel {
 public:
  explicit Channel(int fd, WireTap tap = nullptr) : fd_(fd), tap_(std::move(tap)) {}
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // Up to n bytes of the stream; 0 at its end. Raises ConnectionClosed on a
  // broken connection or a TLS failure.
  size_t Receive(char* data, size_t n);
  // All n bytes or ConnectionClosed.
  void Send(const char* data, size_t n);

  // The socket itself, whatever the channel carries (the TLS layer's transport).
  size_t ReceiveRaw(char* data, size_t n);
  void SendRaw(const char* data, size_t n);

  // From now on the stream is TLS on this session (nullptr: plain again). The
  // session stays owned by the caller.
  void UseTls(SSL* session) { tls_ = session; }
  bool Encrypted() const { return tls_ != nullptr; }

 private:
  int fd_;
  WireTap tap_;
  SSL* tls_ = nullptr;
};

}  // namespace tersify::testing::tds
