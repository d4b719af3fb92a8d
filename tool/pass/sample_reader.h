#pragma once
// Reads a random sample of the rows of a pass, in key order, without reading
// the values of the rows left out. The keys are read a page at a time (keys
// only, keyed on the last key like the pass's pages); each key is chosen on
// its own with the sample's probability, and the value of a chosen key is read
// by that key. A page is read to its end before the values are asked for, so
// one connection serves the whole run.

#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "client/providers/provider.h"
#include "framework/rtl/variant.h"
#include "tool/pass/reader.h"
#include "tool/pass/statements.h"

namespace tersify {

class TPassSampleReader {
 public:
  // share: the probability that a row is chosen, in (0, 1]. seed: the random
  // choice (the same seed chooses the same rows of the same table).
  TPassSampleReader(providers::Provider& provider, const TPassStatements& statements, double share,
                    int64_t budget_bytes, uint64_t seed);

  // The next chosen rows in key order, at most the budget of values (at least
  // one value); empty once every key was seen. A chosen row deleted before its
  // value is read is left out.
  std::vector<TPassRow> NextPage();

  // Seconds spent reading keys.
  double KeySeconds() const { return key_seconds_; }

  static constexpr int kKeysPerPage = 5000;
  static constexpr int kMostRowsPerPage = TPassReader::kMostRowsPerPage;

 private:
  // Reads the next page of keys and keeps the chosen ones; false when none is left.
  bool ReadKeys();

  providers::Provider& provider_;
  const TPassStatements& statements_;
  int64_t budget_bytes_;
  std::mt19937_64 random_;
  std::bernoulli_distribution choose_;
  std::deque<Variant> chosen_;  // chosen keys whose values are not read yet
  Variant last_key_;
  bool first_ = true;
  bool keys_done_ = false;
  double key_seconds_ = 0;
};

}  // namespace tersify
