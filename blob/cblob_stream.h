#pragma once
// The blob envelope and the stream that reads and writes it.
//
// A stored blob is either plain (the value's own bytes) or an envelope:
//
//   offset 0   7 bytes  "PKZ#900"
//   offset 7   1 byte   algorithm letter: Z zlib, B BZIP, P PPM, M LZMA
//   offset 8   4 bytes  signed 32-bit little-endian length of the plain value
//   offset 12  2 bytes  written as 0
//   offset 14  2 bytes  padding, written as 0; readers ignore bytes 12-15
//   offset 16  rest     payload: for Z one zlib stream of the plain bytes
//
// TCBlobStream sits between a data field and the client library's blob stream.
// Opened for reading it decodes an envelope at once and hands out the plain
// bytes; opened for writing with Compressed set it collects the plain bytes and
// stores them as an envelope when that pays, plainly otherwise.

#include <cstdint>
#include <memory>
#include <string>

#include "framework/rtl/stream.h"

namespace tersify {

enum TvrCompressionAlgorithm : uint8_t { caZLIB = 0, caBZIP = 1, caPPM = 2, caLZMA = 3 };

enum TvrCompressionLevel : uint8_t { clNone = 0, clFastest = 1, clNormal = 2, clMax = 3 };

// The zlib level of a compression level: 0, 1, 6, 9; any other value gives 6.
int ZlibLevelOf(TvrCompressionLevel level);

// The 16 bytes that open an envelope.
inline constexpr int kEnvelopeHeaderSize = 16;
inline constexpr char kEnvelopeSignature[] = "PKZ#900";
// Values shorter than this are always stored plainly.
inline constexpr int64_t kMinCompressibleSize = 100;

class TCBlobStream : public TMemoryStream {
 public:
  // Wraps AStream without owning it; AStream must outlive this object.
  // In read mode (AWriteMode false) the stored value is examined and an
  // envelope decoded at once; a B, P or M envelope raises its "... compression
  // not defined" error from here.
  TCBlobStream(TStream& AStream, bool AWriteMode);
  // Wraps AStream and destroys it together with this object (also when the
  // constructor fails).
  TCBlobStream(std::unique_ptr<TStream> AStream, bool AWriteMode);
  TCBlobStream(const TCBlobStream&) = delete;
  TCBlobStream& operator=(const TCBlobStream&) = delete;

  // In write mode with Compressed set, stores the collected value unless Close()
  // already did. The destructor cannot raise (every TObject's destructor is
  // noexcept), so an error from the wrapped stream while storing here is lost:
  // callers that must know whether the value reached the wrapped stream call
  // Close() first.
  ~TCBlobStream() override;

  // Stores the collected value now (write mode with Compressed set; nothing
  // otherwise) and raises what the wrapped stream raises; the value may then be
  // partly written. Storing happens once: the destructor does nothing more
  // afterwards, also when Close() failed. A value stored plainly leaves
  // Compressed false, so later writes would go straight to the wrapped stream.
  void Close();
  // Close(), then the wrapped stream's Flush(): the value reaches the stream
  // below the wrapped one too, and every error reaches the caller.
  void Flush() override;

  // Writes a whole value, as Write would; in write mode with Compressed set
  // and nothing written yet the bytes become the own buffer without a copy.
  // After Close() the own buffer still holds them (TakeBytes hands them back).
  void WriteValue(std::string plain);

  // To the own buffer while Compressed, else to the wrapped stream.
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // The decoded length while Compressed, the stored length otherwise.
  int64_t Size() override;
  // Resizes the own buffer while Compressed, else the wrapped stream.
  void SetSize(int64_t size) override;

  bool Compressed() const { return FCompressedFlag; }
  // Ignored in read mode. In write mode raises "Modify Compressed property
  // before first write" when the position is not 0.
  void SetCompressed(bool Value);

  TvrCompressionAlgorithm CompressionAlg() const { return FAlgorithm; }
  // caBZIP, caPPM and caLZMA raise "BZIP compression not defined", "PPM
  // compression not defined", "LZMA compression not defined"; others are stored.
  void SetCompressionAlg(TvrCompressionAlgorithm Value);
  // Raises what SetCompressionAlg raises for Value, without a stream: lets a
  // caller refuse a write before it opens the stream that would store it.
  static void CheckCompressionAlg(TvrCompressionAlgorithm Value);

  TvrCompressionLevel CompressionLevel() const { return FLevel; }
  void SetCompressionLevel(TvrCompressionLevel Value) { FLevel = Value; }

  bool WriteMode() const { return FWriteMode; }
  bool OwnsStream() const { return FOwnedStream != nullptr; }
  // The header's plain length when the stored value is an envelope, else the
  // stored length (saturated at the largest signed 32-bit number).
  int32_t UncompressedSize() const { return FUncompressedSize; }
  // Read mode, an envelope that decoded: the bytes stored after the end of its
  // zlib stream, which readers ignore (0 for a sound envelope).
  int64_t TrailingBytes() const { return FTrailingBytes; }

  // Largest plain value that is stored as an envelope. The header describes the
  // plain length as a signed 32-bit number, so larger values are stored plainly.
  // Lowered only by tests, to reach that path without a 2 GiB buffer.
  int64_t EnvelopeSizeLimit() const { return FEnvelopeSizeLimit; }
  void SetEnvelopeSizeLimit(int64_t limit) { FEnvelopeSizeLimit = limit; }

 protected:
  void ReadHeader();
  void LoadAndDecompress();
  bool HasEnvelopeHeader();
  // Raises "CompressionAlg out of range" for an algorithm without a letter.
  void WriteHeader();
  void CompressAndStore();

 private:
  // AOwned is taken by reference so that AStream (its pointer) is read before it moves.
  TCBlobStream(TStream* AStream, std::unique_ptr<TStream>&& AOwned, bool AWriteMode);

  // The own buffer, bypassing the redirection above.
  int64_t OwnRead(void* buffer, int64_t count) { return TMemoryStream::Read(buffer, count); }
  int64_t OwnWrite(const void* buffer, int64_t count) { return TMemoryStream::Write(buffer, count); }
  int64_t OwnSeek(int64_t offset, TSeekOrigin origin) { return TMemoryStream::Seek(offset, origin); }
  int64_t OwnSize() { return TMemoryStream::Size(); }

  std::unique_ptr<TStream> FOwnedStream;  // set when this object owns the wrapped stream
  TStream* FBlobStream;                   // the wrapped stream, owned or not
  TvrCompressionAlgorithm FAlgorithm = caZLIB;
  TvrCompressionLevel FLevel = clNormal;
  int32_t FUncompressedSize = 0;
  int64_t FTrailingBytes = 0;
  bool FCompressedFlag = false;
  bool FWriteMode;
  bool FStored = false;  // write mode: the value has been stored (or storing was tried)
  int64_t FEnvelopeSizeLimit = INT32_MAX;
};

}  // namespace tersify
