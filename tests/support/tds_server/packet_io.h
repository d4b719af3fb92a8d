#pragma once
// TDS packets over a connected socket: client messages are reassembled from
// their packets until end-of-message; replies are cut into packets of the
// negotiated size as they are written, so a long result never sits in memory
// as a whole.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tests/support/tds_server/channel.h"
#include "tests/support/tds_server/wire_bytes.h"

namespace tersify::testing::tds {

enum PacketType : uint8_t {
  kSqlBatch = 0x01,
  kRpc = 0x03,
  kReply = 0x04,
  kAttention = 0x06,
  kTransactionManager = 0x0E,
  kLogin7 = 0x10,
  kPrelogin = 0x12,
};

// The peer went away (or a write failed): the session ends quietly.
class ConnectionClosed : public std::runtime_error {
 public:
  ConnectionClosed() : std::runtime_error("connection closed") {}
};

struct Message {
  uint8_t type = 0;
  std::string payload;
};

class PacketReader {
 public:
  // The largest client message accepted (a request holding a huge parameter).
  static constexpr size_t kMaxMessage = 512u << 20;

  explicit PacketReader(Channel& channel) : channel_(channel) {}
  // The next complete message; false at end of stream. An attention packet
  // arriving in the middle of a message abandons that message and is returned.
  bool Read(Message& message);

 private:
  bool ReadExact(char* data, size_t n, bool eof_allowed);
  Channel& channel_;
};

class MessageWriter {
 public:
  explicit MessageWriter(Channel& channel, uint8_t type = kReply) : channel_(channel), type_(type) {}

  void SetPacketSize(size_t size) { packet_size_ = size; }
  size_t PacketSize() const { return packet_size_; }
  void SetSpid(uint16_t spid) { spid_ = spid; }

  // Appends to the message being written; full packets leave at once.
  void Write(std::string_view data);
  // Sends what is left as the final packet (end-of-message set).
  void EndMessage();
  // Packets sent so far, on every message.
  uint64_t PacketsSent() const { return packets_sent_; }

 private:
  void SendPacket(bool last);
  Channel& channel_;
  uint8_t type_;
  size_t packet_size_ = 4096;
  uint16_t spid_ = 0;
  uint8_t packet_id_ = 1;
  uint64_t packets_sent_ = 0;
  std::string pending_;  // payload of the packet being filled
};

}  // namespace tersify::testing::tds
