#include "framework/rtl/thread_slot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tersify {
namespace {

std::atomic<int> alive{0};

struct Counted {
  Counted() { ++alive; }
  ~Counted() { --alive; }
  int uses = 0;
};

TEST(ThreadSlot, EachThreadHasItsOwnObjectFreedWhenTheThreadEnds) {
  static TThreadSlot<Counted> slot;
  auto make = [] { return std::make_unique<Counted>(); };
  std::vector<int> uses(4, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&, i] {
      Counted& first = slot.Get(make);
      ++first.uses;
      Counted& again = slot.Get(make);  // the same object on the same thread
      ++again.uses;
      uses[static_cast<size_t>(i)] = again.uses;
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(alive.load(), 0) << "an object outlived its thread";
  for (int u : uses) EXPECT_EQ(u, 2) << "a thread got a new object on its second use";
}

}  // namespace
}  // namespace tersify
