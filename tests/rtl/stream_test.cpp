#include "framework/rtl/stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <tuple>

#include "framework/rtl/exception.h"

namespace tersify {
namespace {

// Seek from each origin on a 10-byte stream positioned at 4.
class SeekOrigin : public ::testing::TestWithParam<std::tuple<TSeekOrigin, int64_t, int64_t>> {};

TEST_P(SeekOrigin, MovesRelativeToTheOrigin) {
  const auto [origin, offset, expected] = GetParam();
  TMemoryStream s(std::string("0123456789"));
  s.SetPosition(4);
  EXPECT_EQ(s.Seek(offset, origin), expected);
  EXPECT_EQ(s.Position(), expected);
  char c = 0;
  if (expected < 10) {
    ASSERT_EQ(s.Read(&c, 1), 1);
    EXPECT_EQ(c, static_cast<char>('0' + expected));
  } else {
    EXPECT_EQ(s.Read(&c, 1), 0);  // at or past the end nothing comes back
  }
}

INSTANTIATE_TEST_SUITE_P(
    Origins, SeekOrigin,
    ::testing::Values(std::make_tuple(TSeekOrigin::soBeginning, int64_t{0}, int64_t{0}),
                      std::make_tuple(TSeekOrigin::soBeginning, int64_t{7}, int64_t{7}),
                      std::make_tuple(TSeekOrigin::soCurrent, int64_t{0}, int64_t{4}),
                      std::make_tuple(TSeekOrigin::soCurrent, int64_t{3}, int64_t{7}),
                      std::make_tuple(TSeekOrigin::soCurrent, int64_t{-4}, int64_t{0}),
                      std::make_tuple(TSeekOrigin::soEnd, int64_t{0}, int64_t{10}),
                      std::make_tuple(TSeekOrigin::soEnd, int64_t{-1}, int64_t{9}),
                      std::make_tuple(TSeekOrigin::soEnd, int64_t{5}, int64_t{15})));

TEST(TMemoryStream, SeekingBeforeTheStartRaisesAndKeepsThePosition) {
  TMemoryStream s(std::string("abc"));
  s.SetPosition(2);
  EXPECT_THROW(s.Seek(-1, TSeekOrigin::soBeginning), EStreamError);
  EXPECT_THROW(s.Seek(-3, TSeekOrigin::soCurrent), EStreamError);
  EXPECT_THROW(s.Seek(-4, TSeekOrigin::soEnd), EStreamError);
  EXPECT_EQ(s.Position(), 2);
}

TEST(TMemoryStream, WritingPastTheEndFillsTheGapWithZeros) {
  TMemoryStream s(std::string("ab"));
  s.Seek(3, TSeekOrigin::soEnd);
  s.WriteString("z");
  EXPECT_EQ(s.Bytes(), std::string("ab\0\0\0z", 6));
  s.SetPosition(1);
  s.WriteString("XY");  // overwrites in the middle
  EXPECT_EQ(s.Bytes(), std::string("aXY\0\0z", 6));
  EXPECT_EQ(s.Position(), 3);
}

TEST(TMemoryStream, SetSizeTruncatesAndPullsThePositionBack) {
  TMemoryStream s(std::string("abcdef"));
  s.Seek(0, TSeekOrigin::soEnd);
  s.SetSize(2);
  EXPECT_EQ(s.Bytes(), "ab");
  EXPECT_EQ(s.Position(), 2);
  s.SetSize(4);
  EXPECT_EQ(s.Bytes(), std::string("ab\0\0", 4));
  EXPECT_THROW(s.SetSize(-1), EStreamError);
}

TEST(TStream, Seek32RaisesWhenThePositionDoesNotFit) {
  TMemoryStream s;
  EXPECT_EQ(s.Seek32(INT32_MAX, TSeekOrigin::soBeginning), INT32_MAX);
  EXPECT_THROW(s.Seek32(1, TSeekOrigin::soCurrent), EStreamError);
}

// A stream that only knows Read, Write and Seek: Size must come from Seek and
// leave the position where it was; SetSize is refused.
class TFixedStream : public TStream {
 public:
  explicit TFixedStream(std::string bytes, int64_t room = INT64_MAX) : inner_(std::move(bytes)), room_(room) {}
  int64_t Read(void* b, int64_t n) override { return inner_.Read(b, n); }
  int64_t Write(const void* b, int64_t n) override {
    n = std::min(n, room_ - inner_.Position());
    return n <= 0 ? 0 : inner_.Write(b, n);
  }
  int64_t Seek(int64_t o, TSeekOrigin origin) override { return inner_.Seek(o, origin); }
  TMemoryStream inner_;

 private:
  int64_t room_;
};

TEST(TStream, SizeWorksThroughSeekAndKeepsThePosition) {
  TFixedStream s("hello world");
  s.SetPosition(3);
  EXPECT_EQ(s.Size(), 11);
  EXPECT_EQ(s.Position(), 3);
  EXPECT_THROW(s.SetSize(0), EStreamError);
}

TEST(TStream, ReadBufferAndWriteBufferRaiseOnShortTransfers) {
  TFixedStream s("abc", 4);
  char buf[8];
  try {
    s.ReadBuffer(buf, 4);
    ADD_FAILURE() << "short read accepted";
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
  s.SetPosition(0);
  EXPECT_NO_THROW(s.ReadBuffer(buf, 3));
  EXPECT_NO_THROW(s.ReadBuffer(buf, 0));
  s.SetPosition(3);
  try {
    s.WriteBuffer("xy", 2);
    ADD_FAILURE() << "short write accepted";
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.Message(), "Stream write error");
  }
}

TEST(TStream, CopyFromWithZeroCopiesAllOfTheSourceFromItsStart) {
  const std::string big(200000, 'q');
  TMemoryStream source(big + "end");
  source.SetPosition(100);
  TMemoryStream target(std::string("pre:"));
  target.Seek(0, TSeekOrigin::soEnd);
  EXPECT_EQ(target.CopyFrom(source, 0), static_cast<int64_t>(big.size() + 3));
  EXPECT_EQ(target.Bytes(), "pre:" + big + "end");
  // A count copies from the current position.
  source.SetPosition(big.size());
  TMemoryStream part;
  EXPECT_EQ(part.CopyFrom(source, 3), 3);
  EXPECT_EQ(part.Bytes(), "end");
  EXPECT_THROW(part.CopyFrom(source, 1), EStreamError);  // nothing left
}

TEST(TMemoryStream, ReadAllTakeBytesLoadAndSave) {
  TMemoryStream s(std::string("content"));
  s.SetPosition(4);
  EXPECT_EQ(s.ReadAll(), "content");
  TFixedStream other("from elsewhere");
  other.SetPosition(5);
  s.LoadFromStream(other);
  EXPECT_EQ(s.Bytes(), "from elsewhere");
  EXPECT_EQ(s.Position(), 0);
  TMemoryStream copy;
  s.SaveToStream(copy);
  EXPECT_EQ(copy.Bytes(), "from elsewhere");
  EXPECT_EQ(copy.TakeBytes(), "from elsewhere");
  EXPECT_EQ(copy.Size(), 0);
  EXPECT_EQ(copy.Position(), 0);
  s.Clear();
  EXPECT_EQ(s.Size(), 0);
}

}  // namespace
}  // namespace tersify
