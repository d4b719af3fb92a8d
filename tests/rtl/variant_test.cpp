#include "framework/rtl/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "framework/rtl/exception.h"

namespace tersify {
namespace {

TEST(Variant, NullEqualsNullAndDiffersFromEveryValue) {
  EXPECT_TRUE(Variant() == Variant::Null());
  EXPECT_TRUE(Variant().IsNull());
  for (const Variant& v : {Variant(0), Variant(false), Variant(0.0), Variant(""), Variant(TBytes{}),
                           Variant(TDateTime{0})}) {
    EXPECT_FALSE(Variant() == v) << v.TypeName();
    EXPECT_FALSE(v == Variant()) << v.TypeName();
    EXPECT_TRUE(v != Variant());
  }
}

TEST(Variant, EqualityAcrossKinds) {
  EXPECT_EQ(Variant(3), Variant(3.0));
  EXPECT_EQ(Variant(3), Variant("3"));
  EXPECT_EQ(Variant(" 2.5 "), Variant(2.5));
  EXPECT_NE(Variant(3), Variant("three"));
  EXPECT_NE(Variant("a"), Variant("A"));
  EXPECT_EQ(Variant("bytes"), Variant(TBytes{"bytes"}));
  EXPECT_EQ(Variant(true), Variant(-1));
  EXPECT_EQ(Variant(TDateTime{2.5}), Variant(2.5));
  EXPECT_EQ(Variant(TDateTime{0}), Variant("1899-12-30"));
}

TEST(Variant, ConversionsOfEachKind) {
  EXPECT_EQ(Variant("42").AsInteger(), 42);
  EXPECT_EQ(Variant("+42").AsInt64(), 42);
  EXPECT_EQ(Variant(" -7 ").AsInt64(), -7);
  EXPECT_EQ(Variant("2.5").AsFloat(), 2.5);
  EXPECT_EQ(Variant(2.6).AsInt64(), 3);
  EXPECT_EQ(Variant(true).AsInteger(), -1);
  EXPECT_EQ(Variant("9000000000").AsInt64(), 9000000000LL);
  EXPECT_TRUE(Variant("True").AsBoolean());
  EXPECT_FALSE(Variant("0").AsBoolean());
  EXPECT_TRUE(Variant(2).AsBoolean());
  EXPECT_EQ(Variant().AsString(), "");
  EXPECT_EQ(Variant(12).AsString(), "12");
  EXPECT_EQ(Variant(false).AsString(), "False");
  EXPECT_EQ(Variant(0.1).AsString(), "0.1");
  EXPECT_EQ(Variant(TBytes{std::string("a\0b", 3)}).AsString(), std::string("a\0b", 3));
  EXPECT_EQ(Variant(TBytes{"raw"}).RawString(), "raw");
  EXPECT_EQ(Variant(5).RawString(), "");
  EXPECT_EQ(Variant("2024-02-29 13:45:10").AsDateTime(), EncodeDateTime(2024, 2, 29, 13, 45, 10));
  EXPECT_EQ(Variant(Variant(TDateTime{1.5}).AsString()).AsDateTime(), TDateTime{1.5});
}

TEST(Variant, TakeStringMovesTextAndBytesOutAndLeavesNull) {
  const std::string big(1 << 16, 'x');
  Variant bytes(TBytes{big});
  const char* buffer = bytes.RawString().data();
  std::string taken = bytes.TakeString();
  EXPECT_EQ(taken, big);
  EXPECT_EQ(taken.data(), buffer) << "the bytes were copied, not moved";
  EXPECT_TRUE(bytes.IsNull());
  Variant text(std::string("abc"));
  EXPECT_EQ(text.TakeString(), "abc");
  EXPECT_TRUE(text.IsNull());
  Variant number(12);
  EXPECT_EQ(number.TakeString(), "12");
  EXPECT_EQ(number, Variant(12));
}

TEST(Variant, ImpossibleConversionsRaise) {
  EXPECT_THROW(Variant().AsInteger(), EVariantError);
  EXPECT_THROW(Variant().AsFloat(), EVariantError);
  EXPECT_THROW(Variant("abc").AsInt64(), EVariantError);
  EXPECT_THROW(Variant("12abc").AsInteger(), EVariantError);
  EXPECT_THROW(Variant("").AsFloat(), EVariantError);
  EXPECT_THROW(Variant("maybe").AsBoolean(), EVariantError);
  EXPECT_THROW(Variant("9000000000").AsInteger(), EVariantError);  // beyond 32 bits
  EXPECT_THROW(Variant(NAN).AsInt64(), EVariantError);
  EXPECT_THROW(Variant("noon").AsDateTime(), EVariantError);
  try {
    Variant("x").AsInteger();
  } catch (const EVariantError& e) {
    EXPECT_EQ(e.Message(), "Could not convert variant of type (String) into type (Int64)");
  }
}

// Encode then decode gives the parts back, also before 1899-12-30 and at the
// ends of days, months and leap years.
class DateTimeRoundTrip : public ::testing::TestWithParam<std::tuple<int, int, int, int, int, int, int>> {};

TEST_P(DateTimeRoundTrip, DecodeGivesThePartsBack) {
  const auto [y, mo, d, h, mi, s, ms] = GetParam();
  const TDateTime value = EncodeDateTime(y, mo, d, h, mi, s, ms);
  int y2, mo2, d2, h2, mi2, s2, ms2;
  DecodeDateTime(value, y2, mo2, d2, h2, mi2, s2, ms2);
  EXPECT_EQ(std::make_tuple(y2, mo2, d2, h2, mi2, s2, ms2), GetParam());
  // And through the text form.
  EXPECT_EQ(DateTimeToStr(StrToDateTime(DateTimeToStr(value))), DateTimeToStr(value));
}

INSTANTIATE_TEST_SUITE_P(
    Dates, DateTimeRoundTrip,
    ::testing::Values(std::make_tuple(1899, 12, 30, 0, 0, 0, 0), std::make_tuple(1899, 12, 29, 12, 0, 0, 0),
                      std::make_tuple(1800, 1, 1, 6, 30, 0, 0), std::make_tuple(1900, 2, 28, 23, 59, 59, 999),
                      std::make_tuple(2000, 2, 29, 0, 0, 0, 1), std::make_tuple(2024, 12, 31, 23, 59, 59, 999),
                      std::make_tuple(2026, 1, 1, 0, 0, 0, 0), std::make_tuple(9999, 12, 31, 23, 59, 59, 0),
                      std::make_tuple(1, 1, 1, 0, 0, 0, 0)));

TEST(DateTime, KnownSerialNumbers) {
  EXPECT_EQ(EncodeDateTime(1899, 12, 30).value, 0.0);
  EXPECT_EQ(EncodeDateTime(1900, 1, 1).value, 2.0);
  EXPECT_EQ(EncodeDateTime(1899, 12, 29, 12).value, -1.5);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1, 18).value, 36526.75);
  EXPECT_EQ(DateTimeToStr(TDateTime{36526.75}), "2000-01-01 18:00:00");
  EXPECT_EQ(DateTimeToStr(TDateTime{36526}), "2000-01-01");
  EXPECT_EQ(StrToDateTime("2000-01-01T18:00"), TDateTime{36526.75});
}

TEST(DateTime, InvalidPartsRaise) {
  EXPECT_THROW(EncodeDateTime(2023, 2, 29), EConvertError);   // no leap year
  EXPECT_THROW(EncodeDateTime(2024, 4, 31), EConvertError);   // April has 30 days
  EXPECT_THROW(EncodeDateTime(1900, 2, 29), EConvertError);   // century, no leap year
  EXPECT_NO_THROW(EncodeDateTime(2000, 2, 29));               // every 400 years
  EXPECT_THROW(EncodeDateTime(2024, 13, 1), EConvertError);
  EXPECT_THROW(EncodeDateTime(2024, 1, 1, 24), EConvertError);
  EXPECT_THROW(StrToDateTime("2024-02-30"), EConvertError);
  EXPECT_THROW(StrToDateTime("yesterday"), EConvertError);
  EXPECT_THROW(StrToDateTime("2024-01-01 noon"), EConvertError);
}

}  // namespace
}  // namespace tersify
