// A loopback relay that makes the TDS test server look far away: it forwards
// each TCP connection it accepts on 127.0.0.1 to the target port, holding every
// chunk back for half the round-trip time in each direction, counts the
// client's TDS messages, and can cut a connection after so many bytes from
// the client (a network that drops in the middle of a request).
//
//   tds_relay --target-port PORT [--port P] [--rtt-ms MS] [--cut-after BYTES]
//             [--stats-file STATS] [--trace FILE]
//
// Prints "listening on 127.0.0.1:PORT" on standard error once it accepts.
// On SIGTERM or SIGINT it writes STATS (lines "requests N": the SQL batches,
// remote procedure calls and transaction requests the clients sent; "messages
// N": every client message; "cut N": connections it cut) and exits 0.
// --trace writes a line per client message as it arrives: milliseconds since
// the relay started, the connection's number, the message type, its bytes and
// the first text it carries (a batch's SQL, a procedure call's statement, a
// transaction request's kind): where the round trips of a run go.
//
// Bounded: at most kMostConnections at once, and at most kMostQueuedBytes
// held back per direction of a connection (it stops reading until they left).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMostConnections = 32;
constexpr size_t kMostQueuedBytes = size_t{64} << 20;
constexpr size_t kReadBytes = 64 * 1024;

std::atomic<uint64_t> g_requests{0}, g_messages{0}, g_cut{0};
std::atomic<int> g_connections{0};
std::atomic<int> g_connection_numbers{0};
const Clock::time_point g_started = Clock::now();

// The trace file, shared by the connections' threads.
struct Trace {
  std::mutex mutex;
  std::FILE* file = nullptr;
} g_trace;

// A socket that is closed when it goes.
class Socket {
 public:
  explicit Socket(int fd = -1) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Socket& operator=(Socket&&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

void NoDelay(int fd) {
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Reads the client's stream as TDS packets: 8-byte headers, type at 0, status
// at 1 (bit 0 ends a message), length (big-endian, header included) at 2.
class MessageCounter {
 public:
  explicit MessageCounter(int connection) : connection_(connection) {}

  void Feed(const char* data, size_t size) {
    for (size_t i = 0; i < size;) {
      if (remaining_ == 0) {
        header_[got_++] = static_cast<unsigned char>(data[i++]);
        if (got_ < 8) continue;
        got_ = 0;
        const size_t length = (size_t{header_[2]} << 8) | header_[3];
        remaining_ = length > 8 ? length - 8 : 0;
        message_bytes_ += length;
        if (remaining_ == 0 && (header_[1] & 0x01)) EndMessage();
        continue;
      }
      const size_t take = std::min(remaining_, size - i);
      if (head_.size() < kHeadBytes) head_.append(data + i, std::min(take, kHeadBytes - head_.size()));
      remaining_ -= take;
      i += take;
      if (remaining_ == 0 && (header_[1] & 0x01)) EndMessage();
    }
  }

 private:
  static constexpr size_t kHeadBytes = 1024;

  void EndMessage() {
    const unsigned char type = header_[0];
    ++g_messages;
    if (type == 0x01 || type == 0x03 || type == 0x0E) ++g_requests;
    if (g_trace.file) {
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - g_started).count();
      const std::string text = TextOf(type);
      std::lock_guard<std::mutex> lock(g_trace.mutex);
      std::fprintf(g_trace.file, "%10.2f c%d type=%02x bytes=%zu %s\n", ms, connection_, type, message_bytes_,
                   text.c_str());
      std::fflush(g_trace.file);
    }
    head_.clear();
    message_bytes_ = 0;
  }

  // What a message says, as far as its first bytes tell: the UTF-16 text it
  // carries after its headers, or a transaction request's kind.
  std::string TextOf(unsigned char type) const {
    size_t at = 0;
    if ((type == 0x01 || type == 0x03 || type == 0x0E) && head_.size() >= 4) {
      const auto byte = [&](size_t k) { return static_cast<unsigned char>(head_[k]); };
      at = size_t{byte(0)} | size_t{byte(1)} << 8 | size_t{byte(2)} << 16 | size_t{byte(3)} << 24;
      if (at > head_.size()) at = head_.size();
      if (type == 0x0E && at + 2 <= head_.size()) {
        switch (byte(at) | byte(at + 1) << 8) {
          case 5: return "tm begin";
          case 7: return "tm commit";
          case 8: return "tm rollback";
          case 9: return "tm save";
          default: return "tm other";
        }
      }
    }
    std::string text;
    for (size_t k = at; k + 1 < head_.size() && text.size() < 160; k += 2) {
      const unsigned char low = static_cast<unsigned char>(head_[k]);
      const unsigned char high = static_cast<unsigned char>(head_[k + 1]);
      if (high == 0 && low >= 0x20 && low < 0x7F) text += static_cast<char>(low);
      else if (!text.empty() && text.back() != ' ') text += ' ';
    }
    return text;
  }

  int connection_;
  unsigned char header_[8] = {};
  size_t got_ = 0;
  size_t remaining_ = 0;
  size_t message_bytes_ = 0;
  std::string head_;
};

// One direction of a connection: chunks read and the time each may leave.
struct Lane {
  struct Chunk {
    Clock::time_point due;
    std::string bytes;
  };
  std::deque<Chunk> queue;
  size_t queued = 0;
  bool source_open = true;
};

bool SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

void Relay(Socket client, int target_port, Clock::duration half_rtt, int64_t cut_after) {
  struct Leave {
    ~Leave() { --g_connections; }
  } leave;
  Socket server(socket(AF_INET, SOCK_STREAM, 0));
  const sockaddr_in target = Loopback(target_port);
  if (server.get() < 0 ||
      connect(server.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    std::fprintf(stderr, "tds_relay: cannot reach 127.0.0.1:%d: %s\n", target_port, std::strerror(errno));
    return;
  }
  NoDelay(client.get());
  NoDelay(server.get());
  const int fds[2] = {client.get(), server.get()};  // lane 0: client to server, lane 1: back
  Lane lanes[2];
  MessageCounter counter(++g_connection_numbers);
  int64_t from_client = 0;
  std::vector<char> buffer(kReadBytes);
  while (true) {
    for (int l = 0; l < 2; ++l) {
      Lane& lane = lanes[l];
      while (!lane.queue.empty() && lane.queue.front().due <= Clock::now()) {
        if (!SendAll(fds[1 - l], lane.queue.front().bytes)) return;
        lane.queued -= lane.queue.front().bytes.size();
        lane.queue.pop_front();
      }
      // A side that closed ends the connection once what it sent has left.
      if (!lane.source_open && lane.queue.empty()) return;
    }
    pollfd watch[2];
    int watched = 0;
    int lane_of[2];
    for (int l = 0; l < 2; ++l) {
      if (!lanes[l].source_open || lanes[l].queued >= kMostQueuedBytes) continue;
      watch[watched] = {fds[l], POLLIN, 0};
      lane_of[watched++] = l;
    }
    // Waits to the nanosecond: a wait rounded up to the next millisecond
    // would add up to a millisecond to each direction of every round trip.
    std::optional<Clock::duration> wait;
    for (const Lane& lane : lanes) {
      if (lane.queue.empty()) continue;
      const Clock::duration left = std::max(lane.queue.front().due - Clock::now(), Clock::duration::zero());
      wait = wait ? std::min(*wait, left) : left;
    }
    if (watched == 0 && !wait) return;
    timespec timeout{};
    if (wait) {
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(*wait).count();
      timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
      timeout.tv_nsec = static_cast<long>(ns % 1000000000);
    }
    const int ready = ppoll(watch, static_cast<nfds_t>(watched), wait ? &timeout : nullptr, nullptr);
    if (ready < 0 && errno != EINTR) return;
    for (int w = 0; w < watched && ready > 0; ++w) {
      if ((watch[w].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const int l = lane_of[w];
      size_t room = buffer.size();
      if (l == 0 && cut_after >= 0) room = static_cast<size_t>(std::min<int64_t>(cut_after - from_client, static_cast<int64_t>(room)));
      const ssize_t n = room > 0 ? recv(fds[l], buffer.data(), room, 0) : 0;
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        lanes[l].source_open = false;
        continue;
      }
      const Clock::time_point due = Clock::now() + half_rtt;
      if (l == 0) {
        counter.Feed(buffer.data(), static_cast<size_t>(n));
        from_client += n;
      }
      lanes[l].queue.push_back({due, std::string(buffer.data(), static_cast<size_t>(n))});
      lanes[l].queued += static_cast<size_t>(n);
      if (l == 0 && cut_after >= 0 && from_client >= cut_after) {
        // The cut: what the client sent up to here still arrives, then both
        // sides see the connection go.
        for (const Lane::Chunk& chunk : lanes[0].queue) {
          std::this_thread::sleep_until(chunk.due);
          if (!SendAll(server.get(), chunk.bytes)) break;
        }
        ++g_cut;
        shutdown(client.get(), SHUT_RDWR);
        shutdown(server.get(), SHUT_RDWR);
        return;
      }
    }
  }
}

bool WriteStats(const std::string& file) {
  std::ofstream out(file);
  out << "requests " << g_requests << "\nmessages " << g_messages << "\ncut " << g_cut << "\n";
  return static_cast<bool>(out.flush());
}

int Usage() {
  std::fprintf(stderr,
               "usage: tds_relay --target-port PORT [--port P] [--rtt-ms MS] [--cut-after BYTES]\n"
               "                 [--stats-file STATS] [--trace FILE]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 0, target_port = 0;
  double rtt_ms = 0;
  int64_t cut_after = -1;
  std::string stats_file, trace_file;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      if (i + 1 >= argc) return Usage();
      const std::string value = argv[++i];
      if (arg == "--port") port = std::stoi(value);
      else if (arg == "--target-port") target_port = std::stoi(value);
      else if (arg == "--rtt-ms") rtt_ms = std::stod(value);
      else if (arg == "--cut-after") cut_after = std::stoll(value);
      else if (arg == "--stats-file") stats_file = value;
      else if (arg == "--trace") trace_file = value;
      else return Usage();
    }
  } catch (const std::exception&) {
    return Usage();
  }
  if (target_port <= 0 || rtt_ms < 0 || cut_after < -1) return Usage();
  if (!trace_file.empty()) {
    g_trace.file = std::fopen(trace_file.c_str(), "w");
    if (!g_trace.file) {
      std::fprintf(stderr, "tds_relay: cannot write %s: %s\n", trace_file.c_str(), std::strerror(errno));
      return 1;
    }
  }

  // The signals that end the relay are taken by the main thread alone.
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGINT);
  pthread_sigmask(SIG_BLOCK, &ending, nullptr);

  Socket listener(socket(AF_INET, SOCK_STREAM, 0));
  const int one = 1;
  setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address = Loopback(port);
  if (listener.get() < 0 || bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener.get(), 16) != 0) {
    std::fprintf(stderr, "tds_relay: cannot listen: %s\n", std::strerror(errno));
    return 1;
  }
  socklen_t length = sizeof address;
  getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length);
  std::fprintf(stderr, "listening on 127.0.0.1:%d\n", ntohs(address.sin_port));
  std::fflush(stderr);

  const auto half_rtt = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(rtt_ms / 2));
  std::thread acceptor([&] {
    while (true) {
      const int fd = accept(listener.get(), nullptr, nullptr);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;
      }
      Socket client(fd);
      if (g_connections >= kMostConnections) continue;  // refused: closed at once
      ++g_connections;
      std::thread(Relay, std::move(client), target_port, half_rtt, cut_after).detach();
    }
  });
  acceptor.detach();

  int signal_number = 0;
  sigwait(&ending, &signal_number);
  if (!stats_file.empty() && !WriteStats(stats_file)) {
    std::fprintf(stderr, "tds_relay: cannot write %s\n", stats_file.c_str());
    return 1;
  }
  return 0;
}
