#include "blob/zf_zlib.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <tuple>

#include "tests/blob/allocation_probe.h"
#include "tests/blob/blob_test_data.h"

namespace tersify {
namespace {

using test::DataKind;
using test::MakeData;

std::string Deflate(const std::string& plain, int level) {
  std::string out;
  int32_t bytes = -1;
  DeflateBuffer(plain.data(), static_cast<int32_t>(plain.size()), out, bytes, level);
  EXPECT_EQ(bytes, static_cast<int32_t>(out.size()));
  return out;
}

// The decoded bytes, or nullopt-like "failed" flag through ok.
std::string Inflate(const std::string& stream, int32_t estimate, bool* ok = nullptr) {
  std::string out = "left over";
  int32_t bytes = -1;
  InflateBuffer(stream.data(), static_cast<int32_t>(stream.size()), estimate, out, bytes);
  EXPECT_EQ(bytes, static_cast<int32_t>(out.size()));
  if (ok) *ok = bytes > 0;
  return out;
}

TEST(CheckZlibResult, PassesNonNegativeCodes) {
  EXPECT_EQ(CheckZlibResult(Z_OK), Z_OK);
  EXPECT_EQ(CheckZlibResult(Z_STREAM_END), Z_STREAM_END);
  EXPECT_EQ(CheckZlibResult(Z_NEED_DICT), Z_NEED_DICT);
}

TEST(CheckZlibResult, RaisesCompressionErrorForNegativeCodes) {
  for (int code : {Z_ERRNO, Z_STREAM_ERROR, Z_DATA_ERROR, Z_MEM_ERROR, Z_BUF_ERROR, Z_VERSION_ERROR}) {
    try {
      CheckZlibResult(code);
      ADD_FAILURE() << "no error for " << code;
    } catch (const ECompressionError& e) {
      EXPECT_EQ(e.Message(), "error");
      // The class family: a compression error is a zlib error is an Exception.
      EXPECT_NE(dynamic_cast<const EZlibError*>(&e), nullptr);
      EXPECT_NE(dynamic_cast<const Exception*>(&e), nullptr);
    }
  }
}

// Every level (libdeflate makes 1 to 6, zlib 0 and 7 to 9): a standard zlib
// stream that zlib's own uncompress decodes, and that the codec decodes with
// an exact, a short, a generous and no estimate of the plain length.
class CodecInterchange : public ::testing::TestWithParam<std::tuple<int, DataKind>> {};

TEST_P(CodecInterchange, EveryStreamIsPlainZlibAndDecodesWhateverTheEstimate) {
  const auto [level, kind] = GetParam();
  const std::string plain = MakeData(kind, 50000);
  const std::string stream = Deflate(plain, level);
  std::string unpacked(plain.size() + 1, '\0');
  uLongf length = static_cast<uLongf>(unpacked.size());
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(unpacked.data()), &length,
                       reinterpret_cast<const Bytef*>(stream.data()), static_cast<uLong>(stream.size())),
            Z_OK);
  unpacked.resize(length);
  EXPECT_TRUE(unpacked == plain);
  const int32_t n = static_cast<int32_t>(plain.size());
  for (int32_t estimate : {n, n / 3, n * 2 + 100, 0}) {
    EXPECT_TRUE(Inflate(stream, estimate) == plain) << "estimate " << estimate;
  }
  // zlib's own stream of the same bytes decodes alike, and trailing bytes are ignored.
  EXPECT_TRUE(Inflate(test::ZlibCompress(plain, level) + "trailing", n) == plain);
}

INSTANTIATE_TEST_SUITE_P(
    LevelsAndKinds, CodecInterchange,
    ::testing::Combine(::testing::Range(0, 10),
                       ::testing::Values(DataKind::ReportText, DataKind::Random, DataKind::MixedRecords)),
    [](const auto& info) {
      return "Level" + std::to_string(std::get<0>(info.param)) + "_" +
             test::DataKindName(std::get<1>(info.param));
    });

TEST(InflateBuffer, DamagedStreamGivesNothingWithAnExactEstimate) {
  const std::string plain = MakeData(DataKind::ReportText, 20000);
  std::string stream = Deflate(plain, 6);
  const int32_t n = static_cast<int32_t>(plain.size());
  bool ok = true;
  std::string damaged = stream;
  damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 0x55);
  EXPECT_EQ(Inflate(damaged, n, &ok), "");
  EXPECT_FALSE(ok);
  std::string bad_adler = stream;
  bad_adler.back() = static_cast<char>(bad_adler.back() ^ 1);
  EXPECT_EQ(Inflate(bad_adler, n, &ok), "");
  EXPECT_FALSE(ok);
  EXPECT_EQ(Inflate(stream.substr(0, stream.size() - 5), n, &ok), "");  // truncated
  EXPECT_FALSE(ok);
}

TEST(DeflateBuffer, BadLevelRaisesAndReturnsNoBuffer) {
  std::string plain(1000, 'x'), out = "stale";
  int32_t bytes = 7;
  EXPECT_THROW(DeflateBuffer(plain.data(), 1000, out, bytes, 42), ECompressionError);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(bytes, 0);
}

TEST(DeflateBuffer, NegativeLengthRaises) {
  std::string out;
  int32_t bytes = 0;
  EXPECT_THROW(DeflateBuffer("x", -1, out, bytes, 6), ECompressionError);
}

TEST(DeflateBuffer, EmptyInputGivesValidStreamThatInflatesToNothing) {
  const std::string stream = Deflate("", 6);
  ASSERT_FALSE(stream.empty());
  EXPECT_EQ(test::ZlibDecompress(stream), "");
  bool ok = true;
  EXPECT_EQ(Inflate(stream, 0, &ok), "");
  EXPECT_FALSE(ok);  // an empty result: the caller treats it like a failure
}

// Levels 0, 1, 6, 9 against every kind of data.
class CodecRoundTrip : public ::testing::TestWithParam<std::tuple<int, DataKind, size_t>> {};

TEST_P(CodecRoundTrip, DeflateThenInflateGivesTheInput) {
  const auto [level, kind, size] = GetParam();
  const std::string plain = MakeData(kind, size);
  const std::string stream = Deflate(plain, level);

  // zlib itself reads what we wrote: a complete stream with nothing after it.
  EXPECT_EQ(test::ZlibDecompress(stream), plain);
  // The zlib header names deflate with a 32 KiB window.
  ASSERT_GE(stream.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(stream[0]), 0x78);
  if (level == 0) {
    EXPECT_GT(stream.size(), plain.size());  // stored blocks only
  }
  if (!plain.empty()) {
    EXPECT_EQ(Inflate(stream, static_cast<int32_t>(plain.size())), plain);
    // And we read what zlib wrote.
    EXPECT_EQ(Inflate(test::ZlibCompress(plain, level), 0), plain);
  }
}

INSTANTIATE_TEST_SUITE_P(
    LevelsAndKinds, CodecRoundTrip,
    ::testing::Combine(::testing::Values(0, 1, 6, 9),
                       ::testing::Values(DataKind::Empty, DataKind::OneByte, DataKind::Zeros,
                                         DataKind::ReportText, DataKind::Random,
                                         DataKind::MixedRecords),
                       ::testing::Values(size_t{255}, size_t{256}, size_t{70000}, size_t{1} << 20)),
    [](const auto& info) {
      return "Level" + std::to_string(std::get<0>(info.param)) + "_" +
             test::DataKindName(std::get<1>(info.param)) + "_" +
             std::to_string(std::get<2>(info.param));
    });

TEST(DeflateBuffer, IncompressibleInputNeedsMoreThanTheFirstCapacityAndStillRoundTrips) {
  // Level 0 on 200 KiB: the stored blocks cost 5 bytes per 64 KiB block plus 6;
  // the first capacity (a tenth more) is enough, so try a small input where the
  // 256-byte rounding is all the slack there is.
  for (int size : {0, 1, 200, 244, 245, 1000}) {
    const std::string plain = MakeData(DataKind::Random, static_cast<size_t>(size));
    const std::string stream = Deflate(plain, 0);
    EXPECT_EQ(test::ZlibDecompress(stream), plain) << size;
  }
}

// The estimate only sizes the first buffer: any estimate gives the same bytes.
class InflateEstimate : public ::testing::TestWithParam<int32_t> {};

TEST_P(InflateEstimate, AnyEstimateGivesTheSameBytes) {
  const std::string plain = MakeData(DataKind::ReportText, 50000);
  const std::string stream = test::ZlibCompress(plain, 6);
  const int32_t estimate = GetParam() == -2 ? static_cast<int32_t>(plain.size()) : GetParam();
  EXPECT_EQ(Inflate(stream, estimate), plain);
}

INSTANTIATE_TEST_SUITE_P(Estimates, InflateEstimate,
                         ::testing::Values(0, -1, INT_MIN, 1, 255, 49999, -2 /* exact */, 50001,
                                           500000, INT_MAX));

TEST(InflateBuffer, StreamCutShortByOneByteGivesEmptyResult) {
  const std::string stream = test::ZlibCompress(MakeData(DataKind::ReportText, 5000), 6);
  bool ok = true;
  EXPECT_EQ(Inflate(stream.substr(0, stream.size() - 1), 5000, &ok), "");
  EXPECT_FALSE(ok);
}

TEST(InflateBuffer, BytesAfterTheStreamAreIgnored) {
  const std::string plain = MakeData(DataKind::MixedRecords, 3000);
  const std::string stream = test::ZlibCompress(plain, 9) + "trailing garbage \x01\x02";
  EXPECT_EQ(Inflate(stream, 3000), plain);
}

TEST(InflateBuffer, DamagedStreamsGiveEmptyResults) {
  const std::string plain = MakeData(DataKind::ReportText, 4000);
  const std::string good = test::ZlibCompress(plain, 6);

  std::string badAdler = good;
  badAdler.back() = static_cast<char>(badAdler.back() ^ 0x55);
  std::string badHeader = good;
  badHeader[1] = static_cast<char>(badHeader[1] ^ 0x01);  // header check fails
  std::string badData = good;
  badData[good.size() / 2] = static_cast<char>(badData[good.size() / 2] ^ 0xff);

  for (const std::string& damaged : {badAdler, badHeader, badData, std::string("x"), std::string()}) {
    bool ok = true;
    EXPECT_EQ(Inflate(damaged, 4000, &ok), "");
    EXPECT_FALSE(ok);
  }
}

TEST(InflateBuffer, RawDeflateWithoutZlibHeaderIsRefused) {
  const std::string plain(1000, 'q');
  z_stream z{};
  ASSERT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(2000, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
  z.avail_in = static_cast<uInt>(plain.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  EXPECT_EQ(Inflate(out, 1000), "");
}

TEST(InflateBuffer, StreamAskingForPresetDictionaryGivesEmptyResult) {
  const std::string plain = "dictionary words dictionary words";
  const std::string dictionary = "dictionary words";
  z_stream z{};
  ASSERT_EQ(deflateInit(&z, 6), Z_OK);
  ASSERT_EQ(deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(dictionary.data()),
                                 static_cast<uInt>(dictionary.size())),
            Z_OK);
  std::string out(256, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
  z.avail_in = static_cast<uInt>(plain.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  bool ok = true;
  EXPECT_EQ(Inflate(out, 100, &ok), "");
  EXPECT_FALSE(ok);
}

// A damaged header may claim 2 GiB for a payload of a few bytes; the first
// buffer must stay within what the payload can possibly decode to.
TEST(InflateBufferRegression, DamagedEstimateDoesNotAllocateTwoGiB) {
  const std::string stream = test::ZlibCompress("abc", 6);
  test::AllocationProbe probe;
  std::string out;
  int32_t bytes = 0;
  InflateBuffer(stream.data(), static_cast<int32_t>(stream.size()), INT_MAX, out, bytes);
  EXPECT_EQ(out, "abc");
  EXPECT_LT(probe.Largest(), size_t{1} << 20) << "first buffer sized by the damaged estimate";
  EXPECT_LE(InflateFirstCapacity(static_cast<int32_t>(stream.size()), INT_MAX),
            1032 * static_cast<int64_t>(stream.size()) + 512);
}

TEST(InflateBufferRegression, BoundStillCoversTheHighestDeflateRatio) {
  // 20 MiB of zeros at level 9 is about as dense as deflate gets (close to
  // 1,032 to 1): with the right estimate the first buffer is already exact.
  const std::string plain(20u << 20, '\0');
  const std::string stream = test::ZlibCompress(plain, 9);
  ASSERT_GT(plain.size() / stream.size(), 1000u);
  EXPECT_EQ(InflateFirstCapacity(static_cast<int32_t>(stream.size()),
                                 static_cast<int32_t>(plain.size())),
            static_cast<int64_t>(plain.size()));
  test::AllocationProbe probe;
  std::string out;
  int32_t bytes = 0;
  InflateBuffer(stream.data(), static_cast<int32_t>(stream.size()),
                static_cast<int32_t>(plain.size()), out, bytes);
  EXPECT_EQ(bytes, static_cast<int32_t>(plain.size()));
  EXPECT_TRUE(out == plain);
  EXPECT_LE(probe.Count(), 2u) << "the first buffer was not exact";
}

// Without an estimate the output grows from one input length; growing by that
// step each time copies the output over and over (quadratic). Growth is
// geometric: a 1,000-fold expansion needs only a handful of buffers.
TEST(InflateBufferRegression, GrowthWithoutEstimateIsGeometric) {
  const std::string plain(16u << 20, 'z');
  const std::string stream = test::ZlibCompress(plain, 9);
  test::AllocationProbe probe;
  std::string out;
  int32_t bytes = 0;
  InflateBuffer(stream.data(), static_cast<int32_t>(stream.size()), 0, out, bytes);
  EXPECT_EQ(bytes, static_cast<int32_t>(plain.size()));
  EXPECT_TRUE(out == plain);
  EXPECT_LT(probe.Count(), 40u) << "linear growth: one buffer per input length";
}

TEST(InflateBufferRegression, GrowthRuleDoublesAndIsCapped) {
  // Small buffers grow by at least one step (input length rounded up to 256).
  EXPECT_EQ(InflateGrownCapacity(256, 1000), 256 + 1024);
  EXPECT_EQ(InflateGrownCapacity(0, 0), 256);
  // Large ones at least double, whatever the input length.
  for (int64_t capacity : {int64_t{4096}, int64_t{1} << 20, int64_t{300} << 20})
    EXPECT_GE(InflateGrownCapacity(capacity, 100), 2 * capacity);
  EXPECT_EQ(InflateGrownCapacity(int64_t{1} << 30, 100), INT_MAX);
  EXPECT_EQ(InflateGrownCapacity(INT_MAX - 5, 100), INT_MAX);
}

}  // namespace
}  // namespace tersify
