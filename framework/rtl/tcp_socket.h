#pragma once
// A TCP client connection with time limits, for short probes of a server:
// BSD sockets on Linux, Winsock on Windows.

#include <cstddef>
#include <string>

namespace tersify {

class TTcpSocket {
 public:
  enum class Outcome { Connected, UnknownHost, Refused, NoAnswer };

  // Connects to the first of the host's addresses that accepts within the
  // time limit (per address). Outcome() tells what happened.
  TTcpSocket(const std::string& host, int port, int timeout_seconds);
  ~TTcpSocket();
  TTcpSocket(const TTcpSocket&) = delete;
  TTcpSocket& operator=(const TTcpSocket&) = delete;

  Outcome Result() const { return outcome_; }
  bool Connected() const { return outcome_ == Outcome::Connected; }

  // Sends all bytes; false on any failure.
  bool Send(const void* data, size_t size);
  // Reads exactly size bytes before the time limit; false on end, error or time-out.
  bool ReceiveExact(char* data, size_t size, int timeout_ms);
  // True when something (bytes or the end) can be read within the time limit.
  bool Readable(int timeout_ms);

 private:
  long long handle_ = -1;  // a file descriptor or a SOCKET
  Outcome outcome_ = Outcome::NoAnswer;
};

}  // namespace tersify
