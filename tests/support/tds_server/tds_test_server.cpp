#include "tests/support/tds_server/tds_test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tests/support/tds_server/served_file.h"
#include "tests/support/tds_server/session.h"

namespace tersify::testing {

namespace {

// A file descriptor closed when its owner goes.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int Get() const { return fd_; }

 private:
  int fd_;
};

// Clients served at once; further connections are closed at once.
constexpr size_t kMaxConnections = 64;

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

struct TdsTestServer::Impl {
  struct Connection {
    Fd socket;
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  tds::ServerSettings settings;
  tds::ServerState state;
  LogSink sink;
  std::mutex log_mutex;
  tds::RequestLog log;  // the sink, called from one thread at a time
  Fd listener;
  Fd wake_read, wake_write;  // a byte written here ends the accept loop
  std::thread acceptor;
  std::mutex mutex;
  std::list<Connection> connections;

  void AcceptLoop();
  void ReapFinished();
  void Stop();
};

void TdsTestServer::Impl::ReapFinished() {
  std::lock_guard<std::mutex> lock(mutex);
  for (auto it = connections.begin(); it != connections.end();) {
    if (it->finished) {
      it->thread.join();
      it = connections.erase(it);
    } else {
      ++it;
    }
  }
}

void TdsTestServer::Impl::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listener.Get(), POLLIN, 0}, {wake_read.Get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    Fd client(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (client.Get() < 0) continue;
    int one = 1;
    ::setsockopt(client.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ReapFinished();
    std::lock_guard<std::mutex> lock(mutex);
    if (connections.size() >= kMaxConnections) continue;  // closes the client
    Connection& connection = connections.emplace_back();
    connection.socket = std::move(client);
    connection.thread = std::thread([this, &connection] {
      tds::Session(connection.socket.Get(), settings, state, log).Run();
      ::shutdown(connection.socket.Get(), SHUT_RDWR);  // the client sees the end at once
      connection.finished = true;
    });
  }
}

void TdsTestServer::Impl::Stop() {
  state.Stop();  // a frozen session ends instead of answering
  if (wake_write.Get() >= 0) {
    char byte = 1;
    (void)!::write(wake_write.Get(), &byte, 1);
  }
  if (acceptor.joinable()) acceptor.join();
  std::lock_guard<std::mutex> lock(mutex);
  // Unblocks every session waiting for its client; each then ends on its own.
  for (Connection& connection : connections) ::shutdown(connection.socket.Get(), SHUT_RDWR);
  for (Connection& connection : connections) connection.thread.join();
  connections.clear();
}

TdsTestServer::TdsTestServer(std::string database_file, std::string database, std::string user,
                             std::string password, int port, LogSink log, TlsOptions tls,
                             Rules rules)
    : impl_(std::make_unique<Impl>()) {
  impl_->settings.collation = tds::DatabaseCollation::Parse(rules.collation);
  impl_->settings.version = tds::ProductVersion::Parse(rules.product_version);
  impl_->settings.access = rules.access;
  impl_->settings.log_space_file = rules.log_space_file;
  impl_->settings.nocount = (rules.user_options & 512) != 0;
  impl_->settings.database_file = std::move(database_file);
  impl_->settings.database = std::move(database);
  impl_->settings.user = std::move(user);
  impl_->settings.password = std::move(password);
  impl_->settings.encryption = tls.encryption;
  impl_->settings.wire_tap = std::move(tls.wire_tap);
  if (!tls.certificate_file.empty() || !tls.key_file.empty())
    impl_->settings.credentials = tds::TlsCredentials::FromFiles(tls.certificate_file, tls.key_file);
  else if (tls.encryption != tds::Encryption::Off)
    impl_->settings.credentials = tds::TlsCredentials::Generate();
  for (const std::string& refused : tds::AdoptTables(impl_->settings.database_file, impl_->settings.collation))
    if (log) log("table keeps SQLite's rules: " + refused);
  if (log) {
    impl_->sink = std::move(log);
    impl_->log = [impl = impl_.get()](const std::string& line) {
      std::lock_guard<std::mutex> lock(impl->log_mutex);
      impl->sink(line);
    };
  }

  impl_->listener = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (impl_->listener.Get() < 0) throw SystemError("socket");
  int one = 1;
  ::setsockopt(impl_->listener.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::bind(impl_->listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) < 0)
    throw SystemError("cannot listen on 127.0.0.1:" + std::to_string(port));
  if (::listen(impl_->listener.Get(), 64) < 0) throw SystemError("listen");
  socklen_t length = sizeof address;
  ::getsockname(impl_->listener.Get(), reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);

  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) < 0) throw SystemError("pipe");
  impl_->wake_read = Fd(pipe_fds[0]);
  impl_->wake_write = Fd(pipe_fds[1]);
  impl_->acceptor = std::thread([impl = impl_.get()] { impl->AcceptLoop(); });
}

TdsTestServer::~TdsTestServer() { impl_->Stop(); }

std::string TdsTestServer::CertificatePem() const {
  return impl_->settings.credentials ? impl_->settings.credentials->CertificatePem() : std::string();
}

void TdsTestServer::SetFrozen(bool frozen) { impl_->state.SetFrozen(frozen); }

void TdsTestServer::FailNextRead(const std::string& containing) { impl_->state.FailNextRead(containing); }
void TdsTestServer::MarkTable(const std::string& table, const tds::TableMarks& marks) {
  impl_->state.MarkTable(table, marks);
}
void TdsTestServer::DeadlockNextWrite(const std::string& containing, int skip, int times) {
  impl_->state.DeadlockNextWrite(containing, skip, times);
}

void TdsTestServer::DeadlockNextStatement(const std::string& containing, int skip, int times) {
  impl_->state.DeadlockNextStatement(containing, skip, times);
}

tds::RequestCounts TdsTestServer::Requests() const { return impl_->state.Counts(); }
void TdsTestServer::CountRowsSentFor(const std::string& containing) {
  impl_->state.CountRowsSentFor(containing);
}
uint64_t TdsTestServer::RowsSentFor() const { return impl_->state.RowsSentFor(); }

}  // namespace tersify::testing
