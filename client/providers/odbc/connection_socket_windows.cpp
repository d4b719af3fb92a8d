#include "client/providers/odbc/connection_socket.h"

// Windows hands out no list of a process's sockets to tell the driver's
// apart: no socket is found, and the driver's own time limits apply.

namespace tersify::providers::odbc {

std::set<int> OutgoingTcpSockets() { return {}; }

TcpSocket NewOutgoingSocket(const std::set<int>&, const std::set<int>&) { return {}; }

void SeverSocket(const TcpSocket&) noexcept {}

}  // namespace tersify::providers::odbc
