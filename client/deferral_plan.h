#pragma once
// Inside the client: what an open dataset knows to read a blob column later
// by the row's key (the query's one table, its key columns and where they are).

#include <string>
#include <vector>

#include "client/ms_dataset.h"
#include "client/sql_text.h"

namespace tersify {

// What an open needs to read a blob column later: the one table of the
// query, its key columns and where they are in the result.
struct TCustomMSDataSet::DeferralPlan {
  std::string table;
  std::vector<std::string> keys;  // the table's key columns, in key order
  SelectShape shape;
  std::vector<int> key_columns;       // result column of each key
  std::vector<std::string> columns;   // result column names
  std::vector<size_t> deferred_columns;  // blob columns read on demand
};

}  // namespace tersify
