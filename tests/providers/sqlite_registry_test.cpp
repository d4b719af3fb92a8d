// The registry of stand-in procedures and functions.

#include <gtest/gtest.h>

#include <thread>

#include "client/providers/sqlite/sqlite_registry.h"

namespace tersify::providers {
namespace {

ProcedureBody NoRows() {
  return [](Provider&, std::vector<Variant>&) { return std::unique_ptr<Cursor>(); };
}

TEST(SqliteRegistry, RegistrationLastsAsLongAsItsHandle) {
  {
    Registration r = RegisterProcedure("pQZ_Scoped", {{"a", ftInteger}}, NoRows());
    auto found = FindProcedure("PQZ_SCOPED");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->name, "pQZ_Scoped");
    ASSERT_EQ(found->params.size(), 1u);
    EXPECT_EQ(found->params[0].name, "a");
  }
  EXPECT_EQ(FindProcedure("pQZ_Scoped"), nullptr);
}

TEST(SqliteRegistry, ALaterRegistrationHidesAnEarlierOneUntilReleased) {
  Registration first = RegisterScalarFunction("fQZ_Twice", [](auto&) { return Variant(1); });
  Registration second = RegisterScalarFunction("FQZ_TWICE", [](auto&) { return Variant(2); });
  EXPECT_EQ(FindScalarFunction("fqz_twice")->body({}).AsInt64(), 2);
  size_t visible = 0;
  for (auto& f : ScalarFunctions())
    if (f->name == "fQZ_Twice" || f->name == "FQZ_TWICE") ++visible;
  EXPECT_EQ(visible, 1u);
  second.Release();
  EXPECT_FALSE(second.Active());
  EXPECT_EQ(FindScalarFunction("fQZ_Twice")->body({}).AsInt64(), 1);
  first.Release();
  EXPECT_EQ(FindScalarFunction("fQZ_Twice"), nullptr);
}

TEST(SqliteRegistry, MovedHandleUnregistersOnce) {
  Registration outer;
  {
    Registration inner = RegisterScalarFunction("fQZ_Moved", [](auto&) { return Variant(); });
    outer = std::move(inner);
    EXPECT_FALSE(inner.Active());
  }
  EXPECT_NE(FindScalarFunction("fQZ_Moved"), nullptr);
  const uint64_t before = ScalarFunctionGeneration();
  outer = Registration();
  EXPECT_EQ(FindScalarFunction("fQZ_Moved"), nullptr);
  EXPECT_NE(ScalarFunctionGeneration(), before);
}

TEST(SqliteRegistry, UsableFromSeveralThreadsAtOnce) {
  Registration keep = RegisterProcedure("pQZ_Shared", {}, NoRows());
  std::vector<std::thread> threads;
  std::atomic<int> misses{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &misses] {
      for (int i = 0; i < 500; ++i) {
        Registration mine = RegisterProcedure("pQZ_Thread" + std::to_string(t), {}, NoRows());
        if (!FindProcedure("pQZ_Thread" + std::to_string(t)) || !FindProcedure("pQZ_Shared"))
          ++misses;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(misses.load(), 0);
  for (int t = 0; t < 4; ++t) EXPECT_EQ(FindProcedure("pQZ_Thread" + std::to_string(t)), nullptr);
}

}  // namespace
}  // namespace tersify::providers
