#include "framework/rtl/stream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "framework/rtl/exception.h"

namespace tersify {

int32_t TStream::Seek32(int32_t offset, TSeekOrigin origin) {
  int64_t position = Seek(offset, origin);
  if (position > std::numeric_limits<int32_t>::max())
    throw EStreamError("Stream position does not fit 32 bits");
  return static_cast<int32_t>(position);
}

int64_t TStream::Size() {
  int64_t position = Seek(0, TSeekOrigin::soCurrent);
  int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(position, TSeekOrigin::soBeginning);
  return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream cannot be resized"); }

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EStreamError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  const int64_t chunk = 64 * 1024;
  std::vector<char> buffer(static_cast<size_t>(std::min(count, chunk)));
  int64_t left = count;
  while (left > 0) {
    int64_t n = std::min(left, chunk);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return count;
}

std::string TStream::ReadAll() {
  SetPosition(0);
  std::string bytes(static_cast<size_t>(Size()), '\0');
  int64_t got = Read(bytes.data(), static_cast<int64_t>(bytes.size()));
  bytes.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
  return bytes;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  int64_t size = static_cast<int64_t>(data_.size());
  if (count <= 0 || position_ >= size) return 0;
  int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  size_t end = static_cast<size_t>(position_ + count);
  if (end > data_.size()) data_.resize(end);
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == TSeekOrigin::soBeginning ? 0
                 : origin == TSeekOrigin::soCurrent ? position_
                                                    : static_cast<int64_t>(data_.size());
  int64_t target = base + offset;
  if (target < 0) throw EStreamError("Invalid stream position");
  position_ = target;  // beyond the end is allowed; a write there fills the gap with zeros
  return position_;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) throw EStreamError("Invalid stream size");
  data_.resize(static_cast<size_t>(size));
  if (position_ > size) position_ = size;
}

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  position_ = 0;
}

void TMemoryStream::AdoptBytes(std::string bytes) {
  data_ = std::move(bytes);
  position_ = 0;
}

std::string TMemoryStream::TakeBytes() {
  std::string bytes = std::move(data_);
  data_.clear();
  position_ = 0;
  return bytes;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  int64_t size = source.Size();
  data_.assign(static_cast<size_t>(size), '\0');
  position_ = 0;
  source.ReadBuffer(data_.data(), size);
}

void TMemoryStream::SaveToStream(TStream& target) {
  target.WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
}

}  // namespace tersify
