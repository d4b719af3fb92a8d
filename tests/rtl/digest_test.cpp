#include "framework/rtl/digest.h"

#include <gtest/gtest.h>

#include <string>

namespace tersify {
namespace {

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

struct DigestCase {
  TDigestAlgorithm algorithm;
  std::string input;
  std::string hex;
};

class Digest : public ::testing::TestWithParam<DigestCase> {};

// The published test vectors: the same bytes on every platform's library.
TEST_P(Digest, MatchesThePublishedVector) {
  const DigestCase& c = GetParam();
  EXPECT_EQ(Hex(ComputeDigest(c.algorithm, c.input)), c.hex);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, Digest,
    ::testing::Values(
        DigestCase{TDigestAlgorithm::Sha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        DigestCase{TDigestAlgorithm::Sha256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        DigestCase{TDigestAlgorithm::Sha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        DigestCase{TDigestAlgorithm::Md5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        DigestCase{TDigestAlgorithm::Sha512, "abc",
                   "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
                   "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"}));

TEST(DigestOfLargeValue, CoversEveryByte) {
  std::string a(3 << 20, 'x'), b = a;
  b.back() = 'y';
  EXPECT_NE(ComputeDigest(TDigestAlgorithm::Sha256, a), ComputeDigest(TDigestAlgorithm::Sha256, b));
  EXPECT_EQ(ComputeDigest(TDigestAlgorithm::Sha256, a).size(), 32u);
}

}  // namespace
}  // namespace tersify
