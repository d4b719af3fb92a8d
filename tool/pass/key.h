#pragma once
// The column that singles out each row of the pass, decided before the first
// row is touched, without loading the column into memory: the table's primary
// key, or a column the caller names that is unique and never NULL.

#include <cstdint>
#include <string>

#include "client/providers/provider.h"
#include "tool/pass/statements.h"

namespace tersify {

struct TPassKey {
  std::string name;  // as the SQL text names it: the caller's form, or the primary key's column
  int64_t rows = 0;  // rows of the table
  // Rows whose key is NULL (a primary key of SQLite may hold them): counted as
  // skipped, never written.
  int64_t null_rows = 0;
};

// key: the caller's key column (a safe SQL name) or empty for the table's
// single-column primary key. primary_key: the table's primary-key columns.
// Raises Exception with a clear message when there is no usable key: no or a
// composite primary key and none named, or a named key that is not the primary
// key and holds duplicates or NULLs.
TPassKey ResolvePassKey(providers::Provider& provider, const std::vector<std::string>& primary_key,
                        const std::string& table, const std::string& key,
                        const std::string& provider_name);

}  // namespace tersify
