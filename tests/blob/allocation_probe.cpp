#include "tests/blob/allocation_probe.h"

#include <cstdlib>
#include <new>

namespace tersify::test {
namespace {

thread_local bool active = false;
thread_local std::size_t count = 0;
thread_local std::size_t largest = 0;

}  // namespace

AllocationProbe::AllocationProbe() {
  count = 0;
  largest = 0;
  active = true;
}
AllocationProbe::~AllocationProbe() { active = false; }
std::size_t AllocationProbe::Count() const { return count; }
std::size_t AllocationProbe::Largest() const { return largest; }

}  // namespace tersify::test

void* operator new(std::size_t size) {
  using namespace tersify::test;
  if (active) {
    ++count;
    if (size > largest) largest = size;
  }
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
