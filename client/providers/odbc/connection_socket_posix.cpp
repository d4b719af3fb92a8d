#include "client/providers/odbc/connection_socket.h"

#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>

namespace tersify::providers::odbc {
namespace {

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

bool IsTcp(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
  int type = 0;
  socklen_t length = sizeof type;
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM) return false;
  sockaddr_storage address{};
  length = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
  return address.ss_family == AF_INET || address.ss_family == AF_INET6;
}

int LocalPort(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
  if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
  return -1;
}

bool IsListening(int fd) {
  int listening = 0;
  socklen_t length = sizeof listening;
  return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening != 0;
}

bool IsConnected(int fd) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  return getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

}  // namespace

std::set<int> OutgoingTcpSockets() {
  std::set<int> tcp;
  std::unique_ptr<DIR, DirCloser> dir(opendir("/proc/self/fd"));
  if (!dir) return {};
  const int own = dirfd(dir.get());
  while (const dirent* entry = readdir(dir.get())) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == own) continue;
    if (IsTcp(static_cast<int>(fd))) tcp.insert(static_cast<int>(fd));
  }
  // A socket accepted by a server in this process has that server's port as its own.
  std::set<int> listening_ports;
  for (int fd : tcp)
    if (IsListening(fd)) listening_ports.insert(LocalPort(fd));
  std::set<int> outgoing;
  for (int fd : tcp)
    if (!IsListening(fd) && IsConnected(fd) && !listening_ports.count(LocalPort(fd))) outgoing.insert(fd);
  return outgoing;
}

TcpSocket NewOutgoingSocket(const std::set<int>& before, const std::set<int>& after) {
  int found = -1;
  for (int fd : after) {
    if (before.count(fd)) continue;
    if (found != -1) return {};
    found = fd;
  }
  if (found == -1) return {};
  return TcpSocket{found, LocalPort(found)};
}

void SeverSocket(const TcpSocket& socket) noexcept {
  if (!socket.Known() || !IsTcp(socket.fd) || LocalPort(socket.fd) != socket.local_port) return;
  shutdown(socket.fd, SHUT_RDWR);
}

}  // namespace tersify::providers::odbc
