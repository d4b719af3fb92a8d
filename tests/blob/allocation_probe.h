#pragma once
// Counts the heap allocations made through operator new while a probe is alive,
// and remembers the largest one. The test executable replaces the global
// operator new for this; outside a probe nothing is counted.

#include <cstddef>

namespace tersify::test {

class AllocationProbe {
 public:
  AllocationProbe();
  ~AllocationProbe();
  AllocationProbe(const AllocationProbe&) = delete;
  AllocationProbe& operator=(const AllocationProbe&) = delete;

  std::size_t Count() const;
  std::size_t Largest() const;
};

}  // namespace tersify::test
