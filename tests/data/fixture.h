#pragma once
// Shared set-up: a people table with an integer key, a name, an amount, a
// binary blob and a memo.

#include <memory>
#include <string>
#include <vector>

#include "tests/data/mem_dataset.h"

namespace tersify::testing {

inline std::unique_ptr<TMemDataSet> MakePeople(bool deferred_blob = false) {
  auto ds = std::make_unique<TMemDataSet>();
  ds->columns = {{"id", ftInteger},
                 {"name", ftString},
                 {"amount", ftFloat},
                 {"data", ftBlob, deferred_blob},
                 {"note", ftMemo}};
  ds->rows = {{1, "Anna", 10.5, TBytes{"blob-1"}, "memo 1"},
              {2, "bob", Variant(), TBytes{"blob-2"}, Variant()},
              {3, "Bobby", 7.0, TBytes{"blob-3"}, "memo 3"},
              {4, "", 0.0, Variant(), ""}};
  return ds;
}

// Collects event names in order.
struct EventLog {
  std::vector<std::string> names;
  std::string Joined() const {
    std::string s;
    for (const auto& n : names) s += (s.empty() ? "" : ",") + n;
    return s;
  }
};

}  // namespace tersify::testing
