#pragma once
// Report-like blob values for the demo database and the pass benchmark: report
// definitions in the XML form a report designer saves (pages, bands, memos with
// expressions, fonts, frames), of a chosen size, deterministic for a seed.

#include <cstdint>
#include <random>
#include <string>

namespace tersify::bench {

class ReportGenerator {
 public:
  explicit ReportGenerator(uint64_t seed) : random_(seed) {}

  // A report definition of about target_bytes (at least a small header).
  std::string Report(const std::string& name, size_t target_bytes);
  // Bytes that do not compress (an embedded picture's compressed data).
  std::string Incompressible(size_t bytes);
  // A number in [low, high].
  size_t Between(size_t low, size_t high);

 private:
  std::string Word();
  std::mt19937_64 random_;
};

// The key of row i (1-based) of the benchmark table: "R0000001".
std::string RowKey(int row);
// The value of row i: a report of exactly `size` bytes named after its key, the
// generator's next.
std::string RowValue(ReportGenerator& generator, int row, size_t size);

}  // namespace tersify::bench
