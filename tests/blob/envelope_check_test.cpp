// The check of a stored value: plain, a sound envelope, or damaged with a reason.
// Envelopes are built by hand with zlib, never by the code under test.

#include "blob/envelope_check.h"

#include <gtest/gtest.h>

#include <functional>

#include "blob_test_data.h"

namespace tersify {
namespace {

using test::EnvelopeHeader;
using test::ZlibCompress;

const std::string& Plain() {
  static const std::string plain = test::MakeData(test::DataKind::ReportText, 20000);
  return plain;
}

std::string SoundEnvelope() {
  return EnvelopeHeader('Z', static_cast<int32_t>(Plain().size())) + ZlibCompress(Plain(), 6);
}

TEST(EnvelopeCheck, ASoundEnvelopeIsCompressedWithItsLength) {
  const EnvelopeCheck check = CheckStoredValue(SoundEnvelope());
  EXPECT_EQ(check.form, StoredForm::Compressed) << check.reason;
  EXPECT_EQ(check.plain_length, static_cast<int64_t>(Plain().size()));
  EXPECT_EQ(check.header_length, static_cast<int64_t>(Plain().size()));
  EXPECT_TRUE(check.reason.empty());
}

TEST(EnvelopeCheck, EveryLevelGivesASoundEnvelope) {
  for (int level : {0, 1, 6, 9}) {
    const std::string stored =
        EnvelopeHeader('Z', static_cast<int32_t>(Plain().size())) + ZlibCompress(Plain(), level);
    EXPECT_EQ(CheckStoredValue(stored).form, StoredForm::Compressed) << "level " << level;
  }
}

struct PlainCase {
  const char* name;
  std::function<std::string()> make;
};

class PlainValues : public ::testing::TestWithParam<PlainCase> {};

TEST_P(PlainValues, AreReadAsPlain) {
  const EnvelopeCheck check = CheckStoredValue(GetParam().make());
  EXPECT_EQ(check.form, StoredForm::Plain);
  EXPECT_TRUE(check.reason.empty());
}

INSTANTIATE_TEST_SUITE_P(
    EnvelopeCheck, PlainValues,
    ::testing::Values(
        PlainCase{"Empty", [] { return std::string(); }},
        PlainCase{"ReportText", [] { return Plain(); }},
        // Fifteen bytes cannot hold a header, whatever they begin with.
        PlainCase{"ShorterThanAHeader", [] { return SoundEnvelope().substr(0, 15); }},
        PlainCase{"UnknownLetter",
                  [] {
                    std::string s = SoundEnvelope();
                    s[7] = 'X';
                    return s;
                  }},
        PlainCase{"SignatureOffByOne",
                  [] {
                    std::string s = SoundEnvelope();
                    s[6] = '1';
                    return s;
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

struct DamageCase {
  const char* name;
  std::function<std::string()> make;
  const char* reason_part;
};

class DamagedEnvelopes : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedEnvelopes, AreDamagedWithTheirReason) {
  const EnvelopeCheck check = CheckStoredValue(GetParam().make());
  EXPECT_EQ(check.form, StoredForm::Damaged);
  EXPECT_NE(check.reason.find(GetParam().reason_part), std::string::npos) << check.reason;
}

std::string WithPayload(const std::string& payload, int32_t length) {
  return EnvelopeHeader('Z', length) + payload;
}

INSTANTIATE_TEST_SUITE_P(
    EnvelopeCheck, DamagedEnvelopes,
    ::testing::Values(
        DamageCase{"Bzip", [] { return EnvelopeHeader('B', 10) + "whatever"; }, "BZIP"},
        DamageCase{"Ppm", [] { return EnvelopeHeader('P', 10) + "whatever"; }, "PPM"},
        DamageCase{"Lzma", [] { return EnvelopeHeader('M', 10); }, "LZMA"},
        DamageCase{"HeaderOnly", [] { return EnvelopeHeader('Z', 100); }, "no payload"},
        DamageCase{"CutShort",
                   [] {
                     const std::string z = ZlibCompress(Plain(), 6);
                     return WithPayload(z.substr(0, z.size() / 2), static_cast<int32_t>(Plain().size()));
                   },
                   "cut short"},
        DamageCase{"LastByteMissing",
                   [] {
                     const std::string z = ZlibCompress(Plain(), 6);
                     return WithPayload(z.substr(0, z.size() - 1), static_cast<int32_t>(Plain().size()));
                   },
                   "cut short"},
        DamageCase{"BadChecksum",
                   [] {
                     std::string z = ZlibCompress(Plain(), 6);
                     z.back() = static_cast<char>(z.back() ^ 0x55);
                     return WithPayload(z, static_cast<int32_t>(Plain().size()));
                   },
                   "not a valid zlib stream"},
        DamageCase{"NotZlibAtAll",
                   [] { return WithPayload(Plain(), static_cast<int32_t>(Plain().size())); },
                   "not a valid zlib stream"},
        DamageCase{"TrailingBytes",
                   [] { return SoundEnvelope() + "tail"; },
                   "4 bytes follow"},
        DamageCase{"LengthDisagrees",
                   [] {
                     return WithPayload(ZlibCompress(Plain(), 6),
                                        static_cast<int32_t>(Plain().size() + 1));
                   },
                   "the header says 20001"},
        DamageCase{"NegativeLength",
                   [] { return WithPayload(ZlibCompress(Plain(), 6), -5); },
                   "the header says -5"},
        DamageCase{"DecodesToNothing",
                   [] { return WithPayload(ZlibCompress(std::string(), 6), 0); },
                   "no bytes"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tersify
