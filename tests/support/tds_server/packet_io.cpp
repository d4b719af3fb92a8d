#include "tests/support/tds_server/packet_io.h"

#include <algorithm>

namespace tersify::testing::tds {
namespace {

constexpr size_t kHeaderSize = 8;
constexpr uint8_t kEndOfMessage = 0x01;

}  // namespace

bool PacketReader::ReadExact(char* data, size_t n, bool eof_allowed) {
  size_t done = 0;
  while (done < n) {
    const size_t got = channel_.Receive(data + done, n - done);
    if (got == 0) {
      if (done == 0 && eof_allowed) return false;
      throw ConnectionClosed();
    }
    done += got;
  }
  return true;
}

bool PacketReader::Read(Message& message) {
  message.payload.clear();
  bool first = true;
  for (;;) {
    char header[kHeaderSize];
    if (!ReadExact(header, kHeaderSize, first)) return false;
    uint8_t type = static_cast<uint8_t>(header[0]);
    uint8_t status = static_cast<uint8_t>(header[1]);
    size_t length = (static_cast<uint8_t>(header[2]) << 8) | static_cast<uint8_t>(header[3]);
    if (length < kHeaderSize) throw ProtocolError("packet shorter than its header");
    if (!first && type == kAttention) message.payload.clear();
    if (first || type == kAttention) message.type = type;
    else if (type != message.type) throw ProtocolError("packet type changes inside a message");
    size_t body = length - kHeaderSize;
    if (message.payload.size() + body > kMaxMessage) throw ProtocolError("message too long");
    size_t at = message.payload.size();
    message.payload.resize(at + body);
    ReadExact(message.payload.data() + at, body, false);
    if (status & kEndOfMessage) return true;
    first = false;
  }
}

void MessageWriter::Write(std::string_view data) {
  size_t room = packet_size_ - kHeaderSize;
  while (!data.empty()) {
    size_t take = std::min(room - pending_.size(), data.size());
    pending_.append(data.substr(0, take));
    data.remove_prefix(take);
    if (pending_.size() == room && !data.empty()) SendPacket(false);
  }
  // A full packet is held back until more data shows it is not the last one.
}

void MessageWriter::EndMessage() {
  SendPacket(true);
  packet_id_ = 1;
}

void MessageWriter::SendPacket(bool last) {
  std::string packet;
  packet.reserve(kHeaderSize + pending_.size());
  size_t length = kHeaderSize + pending_.size();
  packet.push_back(static_cast<char>(type_));
  packet.push_back(static_cast<char>(last ? kEndOfMessage : 0));
  packet.push_back(static_cast<char>(length >> 8));
  packet.push_back(static_cast<char>(length));
  packet.push_back(static_cast<char>(spid_ >> 8));
  packet.push_back(static_cast<char>(spid_));
  packet.push_back(static_cast<char>(packet_id_++));
  packet.push_back(0);
  packet += pending_;
  pending_.clear();
  channel_.Send(packet.data(), packet.size());
  ++packets_sent_;
}

}  // namespace tersify::testing::tds
