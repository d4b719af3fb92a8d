#include "blob/cblob_stream.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <tuple>

#include "blob/zf_zlib.h"
#include "framework/rtl/exception.h"
#include "tests/blob/blob_test_data.h"

namespace tersify {
namespace {

using test::DataKind;
using test::EnvelopeHeader;
using test::MakeData;
using test::ParseEnvelope;
using test::ZlibCompress;
using test::ZlibDecompress;

// Everything a reader gets from the stream, read from position 0.
std::string ReadThrough(TCBlobStream& s) {
  s.Seek(0, TSeekOrigin::soBeginning);
  std::string out(static_cast<size_t>(s.Size()), '\0');
  EXPECT_EQ(s.Read(out.data(), static_cast<int64_t>(out.size())), static_cast<int64_t>(out.size()));
  return out;
}

// The stored bytes after a write through an envelope stream with Compressed set.
std::string Store(const std::string& plain, TvrCompressionLevel level = clNormal) {
  TMemoryStream stored;
  {
    TCBlobStream s(stored, true);
    s.SetCompressionLevel(level);
    s.SetCompressed(true);
    s.WriteString(plain);
  }
  return stored.Bytes();
}

// A wrapped stream that records what it held when it was destroyed.
class TrackedStream : public TMemoryStream {
 public:
  TrackedStream(std::string bytes, std::string* lastBytes, bool* destroyed)
      : TMemoryStream(std::move(bytes)), lastBytes_(lastBytes), destroyed_(destroyed) {}
  ~TrackedStream() override {
    if (lastBytes_) *lastBytes_ = Bytes();
    *destroyed_ = true;
  }

 private:
  std::string* lastBytes_;
  bool* destroyed_;
};

// A wrapped stream that refuses to take more than limit bytes in all.
class FullStream : public TMemoryStream {
 public:
  explicit FullStream(int64_t limit) : limit_(limit) {}
  int64_t Write(const void* buffer, int64_t count) override {
    int64_t n = std::min(count, limit_ - Size());
    return n <= 0 ? 0 : TMemoryStream::Write(buffer, n);
  }

 private:
  int64_t limit_;
};

// ---- Reading ------------------------------------------------------------

// Fewer than 16 bytes are plain, even when they begin with the signature.
class ShortValue : public ::testing::TestWithParam<int> {};

TEST_P(ShortValue, IsReadPlain) {
  std::string value = EnvelopeHeader('Z', 3).substr(0, static_cast<size_t>(GetParam()));
  TMemoryStream stored(value);
  TCBlobStream s(stored, false);
  EXPECT_FALSE(s.Compressed());
  EXPECT_EQ(s.Size(), GetParam());
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(ReadThrough(s), value);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ShortValue, ::testing::Range(0, 16));

TEST(TCBlobStreamRead, HeaderWithoutPayloadIsReadAsItsRawBytes) {
  const std::string value = EnvelopeHeader('Z', 0);
  TMemoryStream stored(value);
  TCBlobStream s(stored, false);
  EXPECT_FALSE(s.Compressed());
  EXPECT_EQ(ReadThrough(s), value);
}

TEST(TCBlobStreamRead, DecodesAbc) {
  TMemoryStream stored(EnvelopeHeader('Z', 3) + ZlibCompress("abc", 6));
  TCBlobStream s(stored, false);
  EXPECT_TRUE(s.Compressed());
  EXPECT_EQ(s.Size(), 3);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(s.UncompressedSize(), 3);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 3);
  EXPECT_EQ(std::string(buf, 3), "abc");
  EXPECT_EQ(s.Read(buf, 8), 0);
  EXPECT_EQ(s.Seek32(-2, TSeekOrigin::soEnd), 1);
  EXPECT_EQ(s.Read(buf, 1), 1);
  EXPECT_EQ(buf[0], 'b');
}

// The length field is only an estimate for decoding.
class LengthField : public ::testing::TestWithParam<int32_t> {};

TEST_P(LengthField, DoesNotChangeWhatIsRead) {
  const std::string plain = MakeData(DataKind::ReportText, 20000);
  TMemoryStream stored(EnvelopeHeader('Z', GetParam()) + ZlibCompress(plain, 6));
  TCBlobStream s(stored, false);
  EXPECT_TRUE(s.Compressed());
  EXPECT_EQ(s.UncompressedSize(), GetParam());
  EXPECT_EQ(ReadThrough(s), plain);
}

INSTANTIATE_TEST_SUITE_P(Values, LengthField,
                         ::testing::Values(20000, 0, -1, INT_MIN, 1, 19999, 20001, 1000000000,
                                           INT_MAX));

// Envelopes built here by hand (header bytes + zlib's compress2) at every level
// and for every kind of data are read back.
class IndependentEnvelope : public ::testing::TestWithParam<std::tuple<int, DataKind>> {};

TEST_P(IndependentEnvelope, IsDecoded) {
  const auto [level, kind] = GetParam();
  const std::string plain = MakeData(kind, 30000);
  TMemoryStream stored(EnvelopeHeader('Z', static_cast<int32_t>(plain.size())) +
                       ZlibCompress(plain, level));
  TCBlobStream s(stored, false);
  EXPECT_EQ(s.Compressed(), !plain.empty());
  EXPECT_EQ(s.Size(), static_cast<int64_t>(plain.size()));
  if (!plain.empty()) {
    EXPECT_EQ(ReadThrough(s), plain);
  }
}

INSTANTIATE_TEST_SUITE_P(
    LevelsAndKinds, IndependentEnvelope,
    ::testing::Combine(::testing::Values(0, 1, 6, 9),
                       ::testing::Values(DataKind::OneByte, DataKind::Zeros, DataKind::ReportText,
                                         DataKind::Random, DataKind::MixedRecords)),
    [](const auto& info) {
      return "Level" + std::to_string(std::get<0>(info.param)) + "_" +
             test::DataKindName(std::get<1>(info.param));
    });

TEST(TCBlobStreamRead, EnvelopeOfEmptyValueIsReadAsItsRawBytes) {
  const std::string value = EnvelopeHeader('Z', 0) + ZlibCompress("", 6);
  TMemoryStream stored(value);
  TCBlobStream s(stored, false);
  EXPECT_FALSE(s.Compressed());
  EXPECT_EQ(ReadThrough(s), value);
}

TEST(TCBlobStreamRead, UndecodablePayloadIsReadAsItsRawBytes) {
  const std::string plain = MakeData(DataKind::ReportText, 5000);
  const std::string payload = ZlibCompress(plain, 6);
  std::string corrupt = payload;
  corrupt[corrupt.size() / 2] = static_cast<char>(corrupt[corrupt.size() / 2] ^ 0xff);
  for (const std::string& bad : {payload.substr(0, payload.size() - 1), corrupt,
                                 std::string("not zlib at all")}) {
    const std::string value = EnvelopeHeader('Z', 5000) + bad;
    TMemoryStream stored(value);
    TCBlobStream s(stored, false);
    EXPECT_FALSE(s.Compressed());
    EXPECT_EQ(s.Size(), static_cast<int64_t>(value.size()));
    EXPECT_EQ(ReadThrough(s), value);
  }
}

TEST(TCBlobStreamRead, BytesAfterThePayloadAreIgnored) {
  TMemoryStream stored(EnvelopeHeader('Z', 3) + ZlibCompress("abc", 9) + "junk");
  TCBlobStream s(stored, false);
  EXPECT_TRUE(s.Compressed());
  EXPECT_EQ(ReadThrough(s), "abc");
}

TEST(TCBlobStreamRead, OtherSignatureOrUnknownLetterIsPlain) {
  const std::string payload = ZlibCompress("abc", 6);
  for (const std::string& value : {"PKZ#901" + EnvelopeHeader('Z', 3).substr(7) + payload,
                                   "pkz#900" + EnvelopeHeader('Z', 3).substr(7) + payload,
                                   EnvelopeHeader('X', 3) + payload, EnvelopeHeader('z', 3) + payload}) {
    TMemoryStream stored(value);
    TCBlobStream s(stored, false);
    EXPECT_FALSE(s.Compressed());
    EXPECT_EQ(s.UncompressedSize(), static_cast<int32_t>(value.size()));
    EXPECT_EQ(ReadThrough(s), value);
  }
}

class UnsupportedLetter : public ::testing::TestWithParam<std::tuple<char, const char*>> {};

TEST_P(UnsupportedLetter, FailsAndReleasesAnOwnedStream) {
  const auto [letter, message] = GetParam();
  const std::string value = EnvelopeHeader(letter, 3) + ZlibCompress("abc", 6);
  {
    TMemoryStream stored(value);
    try {
      TCBlobStream s(stored, false);
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), message);
    }
  }
  bool destroyed = false;
  EXPECT_THROW(TCBlobStream(std::make_unique<TrackedStream>(value, nullptr, &destroyed), false),
               Exception);
  EXPECT_TRUE(destroyed);
}

INSTANTIATE_TEST_SUITE_P(
    Letters, UnsupportedLetter,
    ::testing::Values(std::make_tuple('B', "BZIP compression not defined"),
                      std::make_tuple('P', "PPM compression not defined"),
                      std::make_tuple('M', "LZMA compression not defined")));

TEST(TCBlobStreamRead, PlainValueIsReadStraightFromTheWrappedStream) {
  const std::string value = MakeData(DataKind::Random, 1000);
  TMemoryStream stored(value);
  TCBlobStream s(stored, false);
  ASSERT_FALSE(s.Compressed());
  EXPECT_EQ(s.Seek(10, TSeekOrigin::soBeginning), 10);
  EXPECT_EQ(stored.Position(), 10);
  EXPECT_EQ(s.Seek(5, TSeekOrigin::soCurrent), 15);
  EXPECT_EQ(s.Seek(-1, TSeekOrigin::soEnd), 999);
  EXPECT_EQ(stored.Position(), 999);
  EXPECT_THROW(s.Seek(-1, TSeekOrigin::soBeginning), EStreamError);
  EXPECT_EQ(s.Size(), 1000);
  EXPECT_EQ(s.Bytes(), "");  // the own buffer is not used
}

TEST(TCBlobStreamRead, CompressedCannotBeChangedAndWritesAreNeverStored) {
  const std::string value = EnvelopeHeader('Z', 3) + ZlibCompress("abc", 6);
  TMemoryStream stored(value);
  {
    TCBlobStream s(stored, false);
    s.SetCompressed(false);  // ignored in read mode
    EXPECT_TRUE(s.Compressed());
    s.Seek(0, TSeekOrigin::soEnd);
    s.WriteString("def");
    EXPECT_EQ(ReadThrough(s), "abcdef");
    s.Close();
  }
  EXPECT_EQ(stored.Bytes(), value);
}

// ---- Writing ------------------------------------------------------------

// Every level and kind of data: what is stored is either the plain bytes or an
// envelope that zlib alone (no code under test) decodes to the plain bytes.
class WriteRoundTrip
    : public ::testing::TestWithParam<std::tuple<TvrCompressionLevel, DataKind, size_t>> {};

TEST_P(WriteRoundTrip, StoredFormDecodesIndependently) {
  const auto [level, kind, size] = GetParam();
  const std::string plain = MakeData(kind, size);
  const std::string stored = Store(plain, level);

  const bool compressible = plain.size() >= 100 && kind != DataKind::Random && level != clNone;
  if (!compressible) {
    EXPECT_EQ(stored, plain);  // level 0 (stored blocks) never pays
  } else {
    const test::ParsedEnvelope e = ParseEnvelope(stored);
    EXPECT_EQ(e.letter, 'Z');
    EXPECT_EQ(e.length, static_cast<int32_t>(plain.size()));
    EXPECT_EQ(e.reserved, std::string(4, '\0'));
    EXPECT_LT(e.payload.size(), plain.size());
    EXPECT_EQ(ZlibDecompress(e.payload), plain);
  }
  // And the stream reads back what it wrote.
  TMemoryStream again(stored);
  TCBlobStream reader(again, false);
  EXPECT_EQ(reader.Compressed(), compressible);
  EXPECT_EQ(ReadThrough(reader), plain);
}

INSTANTIATE_TEST_SUITE_P(
    LevelsAndKinds, WriteRoundTrip,
    ::testing::Combine(::testing::Values(clNone, clFastest, clNormal, clMax),
                       ::testing::Values(DataKind::Empty, DataKind::Zeros, DataKind::ReportText,
                                         DataKind::Random, DataKind::MixedRecords),
                       ::testing::Values(size_t{99}, size_t{100}, size_t{4096}, size_t{300000})),
    [](const auto& info) {
      return "Level" + std::to_string(std::get<0>(info.param)) + "_" +
             test::DataKindName(std::get<1>(info.param)) + "_" +
             std::to_string(std::get<2>(info.param));
    });

TEST(TCBlobStreamWrite, LevelsMapToZlibLevels) {
  EXPECT_EQ(ZlibLevelOf(clNone), 0);
  EXPECT_EQ(ZlibLevelOf(clFastest), 1);
  EXPECT_EQ(ZlibLevelOf(clNormal), 6);
  EXPECT_EQ(ZlibLevelOf(clMax), 9);
  EXPECT_EQ(ZlibLevelOf(static_cast<TvrCompressionLevel>(7)), 6);
  // The payload is exactly what the codec makes at the mapped level, and a
  // standard zlib stream that zlib itself decodes.
  const std::string plain = MakeData(DataKind::ReportText, 10000);
  auto codec = [&](int level) {
    std::string out;
    int32_t bytes = 0;
    DeflateBuffer(plain.data(), static_cast<int32_t>(plain.size()), out, bytes, level);
    return out;
  };
  for (const auto& [stored_level, zlib_level] :
       {std::pair{clFastest, 1}, std::pair{clMax, 9}, std::pair{static_cast<TvrCompressionLevel>(200), 6}}) {
    const std::string payload = ParseEnvelope(Store(plain, stored_level)).payload;
    EXPECT_EQ(payload, codec(zlib_level)) << zlib_level;
    EXPECT_EQ(ZlibDecompress(payload), plain) << zlib_level;
  }
}

TEST(TCBlobStreamWrite, SizeThresholdIsOneHundredBytes) {
  EXPECT_EQ(Store(std::string(99, 'a')), std::string(99, 'a'));
  const std::string stored = Store(std::string(100, 'a'));
  EXPECT_EQ(stored.substr(0, 8), "PKZ#900Z");
  EXPECT_EQ(ZlibDecompress(ParseEnvelope(stored).payload), std::string(100, 'a'));
}

// A whole value handed over with WriteValue is stored exactly as Write stores
// it, and comes back from the own buffer without having been copied.
TEST(TCBlobStreamWrite, WriteValueStoresAsWriteAndKeepsTheBytes) {
  for (DataKind kind : {DataKind::ReportText, DataKind::Random, DataKind::Zeros, DataKind::OneByte}) {
    SCOPED_TRACE(test::DataKindName(kind));
    const std::string plain = MakeData(kind, 70000);
    std::string handed = plain;
    const char* buffer = handed.data();
    TMemoryStream stored;
    TCBlobStream s(stored, true);
    s.SetCompressed(true);
    s.WriteValue(std::move(handed));
    s.Close();
    EXPECT_EQ(stored.Bytes(), Store(plain));
    const std::string back = s.TakeBytes();
    EXPECT_EQ(back, plain);
    if (plain.size() > sizeof(std::string)) {
      EXPECT_EQ(back.data(), buffer) << "the value was copied";
    }
  }
  // Without compression the value goes straight to the wrapped stream.
  TMemoryStream direct;
  TCBlobStream s(direct, true);
  s.WriteValue("plain bytes");
  EXPECT_EQ(direct.Bytes(), "plain bytes");
}

TEST(TCBlobStreamWrite, HundredIncompressibleBytesAreStoredPlainly) {
  const std::string plain = MakeData(DataKind::Random, 100);
  EXPECT_EQ(Store(plain), plain);
}

TEST(TCBlobStreamWrite, PayloadJustShorterThanValueIsUsedEvenIfEnvelopeIsLonger) {
  // Random bytes followed by a run: find a run length for which the payload
  // ends a few bytes short of the value, so that the envelope (header
  // included) is longer than the value; it is still used.
  const std::string random = MakeData(DataKind::Random, 400);
  bool found = false;
  for (size_t run = 1; run < 300 && !found; ++run) {
    const std::string plain = random + std::string(run, 'r');
    const std::string payload = ZlibCompress(plain, 6);
    if (payload.size() >= plain.size() || payload.size() + 16 <= plain.size()) continue;
    found = true;
    EXPECT_EQ(Store(plain), EnvelopeHeader('Z', static_cast<int32_t>(plain.size())) + payload);
    // One byte less of run and the payload is no shorter than the value: plain.
    const std::string shorter = random + std::string(run - 1, 'r');
    if (ZlibCompress(shorter, 6).size() >= shorter.size()) {
      EXPECT_EQ(Store(shorter), shorter);
    }
  }
  EXPECT_TRUE(found);
}

TEST(TCBlobStreamWrite, ValueThatIsAlreadyAnEnvelopeIsStoredByteForByte) {
  for (char letter : {'Z', 'B', 'P', 'M'}) {
    // Highly compressible, yet never wrapped a second time.
    const std::string value = EnvelopeHeader(letter, 5000) + std::string(5000, '\0');
    EXPECT_EQ(Store(value), value) << letter;
  }
  // An unknown letter is no envelope: the bytes are wrapped like any others.
  const std::string other = EnvelopeHeader('Q', 5000) + std::string(5000, '\0');
  EXPECT_EQ(ZlibDecompress(ParseEnvelope(Store(other)).payload), other);
}

TEST(TCBlobStreamWrite, EmptyValueLeavesTheStoredValueEmpty) {
  TMemoryStream stored(std::string("old contents"));
  {
    TCBlobStream s(stored, true);
    s.SetCompressed(true);
  }
  EXPECT_EQ(stored.Bytes(), "");
}

TEST(TCBlobStreamWrite, PlainStorageReplacesOldContents) {
  TMemoryStream stored(std::string(500, 'o'));
  {
    TCBlobStream s(stored, true);
    s.SetCompressed(true);
    s.WriteString("short");
  }
  EXPECT_EQ(stored.Bytes(), "short");
}

TEST(TCBlobStreamWrite, WithoutCompressedWritesGoStraightThrough) {
  TMemoryStream stored;
  const std::string plain(1000, 'a');
  {
    TCBlobStream s(stored, true);
    EXPECT_FALSE(s.Compressed());
    s.WriteString(plain);
    EXPECT_EQ(stored.Bytes(), plain);  // already there, before destruction
    EXPECT_EQ(s.Size(), 1000);
  }
  EXPECT_EQ(stored.Bytes(), plain);
}

TEST(TCBlobStreamWrite, CollectedValueIsStoredOnlyAtTheEnd) {
  TMemoryStream stored;
  {
    TCBlobStream s(stored, true);
    s.SetCompressed(true);
    s.WriteString(std::string(1000, 'a'));
    EXPECT_EQ(s.Size(), 1000);
    EXPECT_EQ(s.Position(), 1000);
    EXPECT_EQ(stored.Size(), 0);
  }
  EXPECT_EQ(ZlibDecompress(ParseEnvelope(stored.Bytes()).payload), std::string(1000, 'a'));
}

TEST(TCBlobStreamWrite, CompressedMustBeSetBeforeTheFirstWrite) {
  for (bool collecting : {false, true}) {
    TMemoryStream stored;
    TCBlobStream s(stored, true);
    s.SetCompressed(collecting);
    s.WriteString("x");
    try {
      s.SetCompressed(!collecting);
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "Modify Compressed property before first write");
    }
    EXPECT_EQ(s.Compressed(), collecting);
    // Back at position 0 the property may change again.
    s.Seek(0, TSeekOrigin::soBeginning);
    s.SetCompressed(!collecting);
    EXPECT_EQ(s.Compressed(), !collecting);
  }
}

TEST(TCBlobStreamWrite, UnsupportedAlgorithmsAreRefusedInBothModes) {
  TMemoryStream stored;
  TCBlobStream writer(stored, true);
  TMemoryStream plain(std::string("plain"));
  TCBlobStream reader(plain, false);
  for (TCBlobStream* s : {&writer, &reader}) {
    EXPECT_EQ(s->CompressionAlg(), caZLIB);
    EXPECT_EQ(s->CompressionLevel(), clNormal);
    const std::pair<TvrCompressionAlgorithm, const char*> cases[] = {
        {caBZIP, "BZIP compression not defined"},
        {caPPM, "PPM compression not defined"},
        {caLZMA, "LZMA compression not defined"}};
    for (const auto& [alg, message] : cases) {
      try {
        s->SetCompressionAlg(alg);
        ADD_FAILURE() << "no error";
      } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), message);
      }
      EXPECT_EQ(s->CompressionAlg(), caZLIB);
    }
  }
}

class HeaderWriter : public TCBlobStream {
 public:
  using TCBlobStream::TCBlobStream;
  using TCBlobStream::WriteHeader;
};

TEST(TCBlobStreamWrite, AlgorithmWithoutLetterIsOutOfRangeAndStoresPlainly) {
  const std::string plain(1000, 'a');
  TMemoryStream stored;
  {
    HeaderWriter s(stored, true);
    s.SetCompressionAlg(static_cast<TvrCompressionAlgorithm>(4));
    try {
      s.WriteHeader();
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "CompressionAlg out of range");
    }
    s.SetCompressed(true);
    s.WriteString(plain);
  }
  EXPECT_EQ(stored.Bytes(), plain);
}

TEST(TCBlobStreamWrite, OwnedStreamIsDestroyedAfterTheValueIsStored) {
  std::string last;
  bool destroyed = false;
  {
    TCBlobStream s(std::make_unique<TrackedStream>("", &last, &destroyed), true);
    EXPECT_TRUE(s.OwnsStream());
    s.SetCompressed(true);
    s.WriteString(std::string(1000, 'a'));
  }
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(ZlibDecompress(ParseEnvelope(last).payload), std::string(1000, 'a'));
}

TEST(TCBlobStreamWrite, CloseStoresOnceAndTheDestructorAddsNothing) {
  TMemoryStream stored;
  {
    TCBlobStream s(stored, true);
    s.SetCompressed(true);
    s.WriteString(std::string(1000, 'a'));
    s.Close();
    const std::string afterClose = stored.Bytes();
    EXPECT_EQ(ZlibDecompress(ParseEnvelope(afterClose).payload), std::string(1000, 'a'));
    stored.SetSize(0);  // anything stored again would show here
    s.Close();
    EXPECT_EQ(stored.Size(), 0);
  }
  EXPECT_EQ(stored.Size(), 0);
}

TEST(TCBlobStreamWrite, CloseReportsAFailingWrappedStream) {
  for (int64_t room : {0, 10, 20}) {  // header refused, header cut, payload cut
    FullStream stored(room);
    TCBlobStream s(stored, true);
    s.SetCompressed(true);
    s.WriteString(std::string(1000, 'a'));
    EXPECT_THROW(s.Close(), EStreamError) << room;
  }
  FullStream plainTarget(10);
  TCBlobStream s(plainTarget, true);
  s.SetCompressed(true);
  s.WriteString(MakeData(DataKind::Random, 200));
  EXPECT_THROW(s.Close(), EStreamError);
}

TEST(TCBlobStreamWrite, DestructorNeverRaises) {
  FullStream stored(10);
  EXPECT_NO_THROW({
    TCBlobStream s(stored, true);
    s.SetCompressed(true);
    s.WriteString(std::string(1000, 'a'));
  });
  EXPECT_EQ(stored.Size(), 10);  // it tried, and the value is partly written
}

// The header holds the plain length as a signed 32-bit number: a longer value
// cannot be described and is stored plainly, never with a wrong length.
TEST(TCBlobStreamRegression, ValueLongerThanTheLengthFieldIsStoredPlainly) {
  TMemoryStream probe;
  EXPECT_EQ(TCBlobStream(probe, true).EnvelopeSizeLimit(), INT32_MAX);

  for (size_t size : {size_t{150}, size_t{151}}) {
    const std::string plain(size, 'a');
    TMemoryStream stored;
    {
      TCBlobStream s(stored, true);
      s.SetEnvelopeSizeLimit(150);  // stands for 2 GiB - 1
      s.SetCompressed(true);
      s.WriteString(plain);
    }
    if (size <= 150) {
      EXPECT_EQ(ParseEnvelope(stored.Bytes()).length, 150);
    } else {
      EXPECT_EQ(stored.Bytes(), plain);
    }
  }
}

}  // namespace
}  // namespace tersify
