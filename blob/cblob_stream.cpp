#include "blob/cblob_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "blob/zf_zlib.h"
#include "framework/rtl/exception.h"

namespace tersify {
namespace {

constexpr char kAlgorithmLetters[] = {'Z', 'B', 'P', 'M'};

int32_t ReadInt32LE(const unsigned char* p) {
  const uint32_t u = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  return static_cast<int32_t>(u);
}

void WriteInt32LE(unsigned char* p, int32_t value) {
  const uint32_t u = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(u >> (8 * i));
}

bool HasSignature(const unsigned char* header) {
  return std::memcmp(header, kEnvelopeSignature, 7) == 0;
}

}  // namespace

int ZlibLevelOf(TvrCompressionLevel level) {
  switch (level) {
    case clNone: return 0;
    case clFastest: return 1;
    case clNormal: return 6;
    case clMax: return 9;
  }
  return 6;
}

TCBlobStream::TCBlobStream(TStream& AStream, bool AWriteMode)
    : TCBlobStream(&AStream, nullptr, AWriteMode) {}

TCBlobStream::TCBlobStream(std::unique_ptr<TStream> AStream, bool AWriteMode)
    : TCBlobStream(AStream.get(), std::move(AStream), AWriteMode) {}

TCBlobStream::TCBlobStream(TStream* AStream, std::unique_ptr<TStream>&& AOwned, bool AWriteMode)
    : FOwnedStream(std::move(AOwned)),
      FBlobStream(AStream),
      FWriteMode(AWriteMode) {
  if (!FBlobStream) throw Exception("No stream to wrap");
  SetCompressionAlg(caZLIB);
  SetCompressionLevel(clNormal);
  // A failure here destroys the members, and with them an owned stream.
  if (!FWriteMode) LoadAndDecompress();
}

TCBlobStream::~TCBlobStream() {
  try {
    Close();
  } catch (...) {
    // Nothing can leave a destructor; Close() is the way to see this error.
  }
}

void TCBlobStream::Close() {
  if (!FWriteMode || FStored) return;
  FStored = true;
  if (FCompressedFlag) CompressAndStore();
}

void TCBlobStream::Flush() {
  Close();
  FBlobStream->Flush();
}

int64_t TCBlobStream::Read(void* buffer, int64_t count) {
  return FCompressedFlag ? OwnRead(buffer, count) : FBlobStream->Read(buffer, count);
}

int64_t TCBlobStream::Write(const void* buffer, int64_t count) {
  return FCompressedFlag ? OwnWrite(buffer, count) : FBlobStream->Write(buffer, count);
}

int64_t TCBlobStream::Seek(int64_t offset, TSeekOrigin origin) {
  return FCompressedFlag ? OwnSeek(offset, origin) : FBlobStream->Seek(offset, origin);
}

int64_t TCBlobStream::Size() { return FCompressedFlag ? OwnSize() : FBlobStream->Size(); }

void TCBlobStream::SetSize(int64_t size) {
  if (FCompressedFlag)
    TMemoryStream::SetSize(size);
  else
    FBlobStream->SetSize(size);
}

void TCBlobStream::SetCompressed(bool Value) {
  if (!FWriteMode) return;
  if (Position() != 0) throw Exception("Modify Compressed property before first write");
  FCompressedFlag = Value;
}

void TCBlobStream::CheckCompressionAlg(TvrCompressionAlgorithm Value) {
  switch (Value) {
    case caBZIP: throw Exception("BZIP compression not defined");
    case caPPM: throw Exception("PPM compression not defined");
    case caLZMA: throw Exception("LZMA compression not defined");
    default: break;
  }
}

void TCBlobStream::SetCompressionAlg(TvrCompressionAlgorithm Value) {
  CheckCompressionAlg(Value);
  FAlgorithm = Value;
}

void TCBlobStream::ReadHeader() {
  FBlobStream->Seek(0, TSeekOrigin::soBeginning);
  FUncompressedSize = static_cast<int32_t>(
      std::min<int64_t>(FBlobStream->Size(), std::numeric_limits<int32_t>::max()));

  unsigned char header[kEnvelopeHeaderSize];
  if (FBlobStream->Read(header, kEnvelopeHeaderSize) < kEnvelopeHeaderSize) {
    FCompressedFlag = false;
    FBlobStream->Seek(0, TSeekOrigin::soBeginning);
    return;
  }
  if (HasSignature(header)) {
    FCompressedFlag = true;
    switch (header[7]) {
      case 'Z': SetCompressionAlg(caZLIB); break;
      case 'B': SetCompressionAlg(caBZIP); break;
      case 'P': SetCompressionAlg(caPPM); break;
      case 'M': SetCompressionAlg(caLZMA); break;
      default: FCompressedFlag = false;
    }
    if (FCompressedFlag) FUncompressedSize = ReadInt32LE(header + 8);
  }
  Seek(0, TSeekOrigin::soBeginning);
}

void TCBlobStream::LoadAndDecompress() {
  ReadHeader();
  if (!FCompressedFlag) return;  // plain: read straight from the wrapped stream

  std::string decoded;
  int32_t decodedBytes = 0;
  try {
    FBlobStream->Seek(kEnvelopeHeaderSize, TSeekOrigin::soBeginning);
    const int64_t payload = FBlobStream->Size() - kEnvelopeHeaderSize;
    if (payload > std::numeric_limits<int32_t>::max()) throw Exception("Payload too large");
    std::string stored(static_cast<size_t>(std::max<int64_t>(payload, 0)), '\0');
    FBlobStream->ReadBuffer(stored.data(), static_cast<int64_t>(stored.size()));
    int32_t streamBytes = 0;
    InflateBuffer(stored.data(), static_cast<int32_t>(stored.size()), FUncompressedSize, decoded,
                  decodedBytes, &streamBytes);
    FTrailingBytes = static_cast<int64_t>(stored.size()) - streamBytes;
  } catch (const std::exception&) {
    FCompressedFlag = false;
  }
  // An envelope that does not decode, or decodes to nothing, is read as its
  // stored bytes, header included.
  if (decodedBytes < 1) FCompressedFlag = false;
  if (!FCompressedFlag) FTrailingBytes = 0;
  TMemoryStream::Clear();
  // The decoded bytes become the own buffer as they are: a large value is not copied once more.
  if (FCompressedFlag) TMemoryStream::AdoptBytes(std::move(decoded));
  Seek(0, TSeekOrigin::soBeginning);
}

bool TCBlobStream::HasEnvelopeHeader() {
  unsigned char header[kEnvelopeHeaderSize];
  OwnSeek(0, TSeekOrigin::soBeginning);
  const bool full = OwnRead(header, kEnvelopeHeaderSize) == kEnvelopeHeaderSize;
  OwnSeek(0, TSeekOrigin::soBeginning);
  return full && HasSignature(header) &&
         (header[7] == 'B' || header[7] == 'M' || header[7] == 'P' || header[7] == 'Z');
}

void TCBlobStream::WriteHeader() {
  if (FAlgorithm > caLZMA) throw Exception("CompressionAlg out of range");
  unsigned char header[kEnvelopeHeaderSize] = {};
  std::memcpy(header, kEnvelopeSignature, 7);
  header[7] = static_cast<unsigned char>(kAlgorithmLetters[FAlgorithm]);
  WriteInt32LE(header + 8, static_cast<int32_t>(OwnSize()));
  // Bytes 12-13 (a 16-bit 0) and the padding 14-15 stay 0.
  FBlobStream->Seek(0, TSeekOrigin::soBeginning);
  FBlobStream->WriteBuffer(header, kEnvelopeHeaderSize);
}

void TCBlobStream::WriteValue(std::string plain) {
  if (FWriteMode && FCompressedFlag && !FStored && OwnSize() == 0) {
    TMemoryStream::AdoptBytes(std::move(plain));
    OwnSeek(0, TSeekOrigin::soEnd);
    return;
  }
  WriteBuffer(plain.data(), static_cast<int64_t>(plain.size()));
}

void TCBlobStream::CompressAndStore() {
  const int64_t size = OwnSize();
  // Bytes that already form an envelope are never wrapped a second time, and a
  // value too long for the header's length field is stored plainly.
  const bool candidate =
      size >= kMinCompressibleSize && size <= FEnvelopeSizeLimit && !HasEnvelopeHeader();

  std::string payload;
  int32_t payloadBytes = 0;
  if (candidate && FAlgorithm == caZLIB) {
    try {
      DeflateBuffer(Bytes().data(), static_cast<int32_t>(size), payload, payloadBytes,
                    ZlibLevelOf(FLevel));
    } catch (const std::exception&) {
      payload.clear();
      payloadBytes = 0;  // a compression failure stores the value plainly
    }
  }

  // The header is not counted: an envelope may be up to 15 bytes longer than
  // the plain value.
  if (payloadBytes > 0 && payloadBytes < size) {
    WriteHeader();
    FBlobStream->WriteBuffer(payload.data(), payloadBytes);
  } else {
    FBlobStream->Seek(0, TSeekOrigin::soBeginning);
    FBlobStream->SetSize(0);
    FBlobStream->WriteBuffer(Bytes().data(), size);
    FCompressedFlag = false;
  }
}

}  // namespace tersify
