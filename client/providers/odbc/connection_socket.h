#pragma once
// The TCP socket a driver opened for one connection, found by what appeared
// in the process while the driver connected, so that a request the server
// never answers can be cut off (ODBC gives no handle on it).

#include <set>

namespace tersify::providers::odbc {

// The process's connected TCP sockets that it opened itself (not the ones a
// listening socket of this process accepted), by descriptor.
std::set<int> OutgoingTcpSockets();

// A socket told by its descriptor and its local port, so that a descriptor
// the driver has closed and the process reused is never taken for it.
struct TcpSocket {
  int fd = -1;
  int local_port = -1;
  bool Known() const { return fd >= 0; }
};

// The one outgoing TCP socket in after that is not in before; none when there
// is none or more than one (the connection's socket cannot be told apart).
TcpSocket NewOutgoingSocket(const std::set<int>& before, const std::set<int>& after);

// Ends both directions of the socket, when the descriptor still is that
// socket: a thread blocked reading it wakes at once to an end of stream. The
// descriptor stays open (its owner closes it).
void SeverSocket(const TcpSocket& socket) noexcept;

}  // namespace tersify::providers::odbc
