#pragma once
// Bounds every request on one connection, transaction control included. The
// driver's own time limit covers statements only, and gives up on a server
// that stopped answering only after twice the limit (it cancels, then waits
// as long again for the cancel's answer). A request still running a second
// after its limit, or a second after a cancel was asked for, has its socket
// severed: the driver wakes at once to a lost connection.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "client/providers/odbc/connection_socket.h"

namespace tersify::providers::odbc {

class RequestWatchdog {
 public:
  // How long past its limit (or a cancel) a request may still take.
  static constexpr std::chrono::seconds kGrace{1};

  explicit RequestWatchdog(TcpSocket socket);
  ~RequestWatchdog();
  RequestWatchdog(const RequestWatchdog&) = delete;
  RequestWatchdog& operator=(const RequestWatchdog&) = delete;

  // Watches one request for as long as it lives.
  class Watch {
   public:
    Watch(RequestWatchdog& dog, int seconds);
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
    // The socket was severed while this request ran.
    bool Severed() const;
    // It was severed because a cancel was asked for (not the time limit).
    bool Cancelled() const;

   private:
    RequestWatchdog& dog_;
    bool outermost_;
  };

  // Whether the socket is known, so that requests can be cut off at all.
  bool CanSever() const { return socket_.Known(); }

 private:
  void Run();

  const TcpSocket socket_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  bool armed_ = false;
  bool has_deadline_ = false;
  std::chrono::steady_clock::time_point deadline_{};
  bool severed_ = false;
  bool severed_by_cancel_ = false;
  std::thread thread_;
};

}  // namespace tersify::providers::odbc
