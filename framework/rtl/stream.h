#pragma once
// Streams: sequential access to bytes with a position. Positions and sizes are
// 64-bit inside; the 32-bit Seek form is kept for callers that speak it.

#include <cstdint>
#include <string>

#include "framework/rtl/object.h"

namespace tersify {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream : public TObject {
 public:
  // Move up to count bytes; the result is the number moved.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // The new position. Seeking before the start raises EStreamError.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  // The 32-bit form; raises EStreamError when the position does not fit.
  int32_t Seek32(int32_t offset, TSeekOrigin origin);

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
  // Worked out through Seek, so a stream that redirects Seek answers for the target.
  virtual int64_t Size();
  // Streams that cannot be resized raise EStreamError.
  virtual void SetSize(int64_t size);
  // Streams that store what was written only at their end (a blob stream) store
  // it now, so that an error reaches the caller rather than a destructor, which
  // cannot report it. Nothing for other streams.
  virtual void Flush() {}

  // Read or write exactly count bytes, or raise "Stream read error" / "Stream write error".
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source (0: all of source, from its start); returns the count.
  int64_t CopyFrom(TStream& source, int64_t count);

  // Convenience: the whole content from the start / the rest from the position.
  std::string ReadAll();
  void WriteString(const std::string& bytes) { WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size())); }
};

// A growable buffer of bytes in memory.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string bytes) : data_(std::move(bytes)) {}

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;

  void Clear();
  const std::string& Bytes() const { return data_; }
  // Hands the bytes over without a copy and leaves the stream empty.
  std::string TakeBytes();
  // Takes bytes as the whole content without a copy; the position moves to 0.
  void AdoptBytes(std::string bytes);
  void LoadFromStream(TStream& source);
  void SaveToStream(TStream& target);

 private:
  std::string data_;
  int64_t position_ = 0;
};

}  // namespace tersify
