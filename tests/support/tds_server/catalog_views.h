#pragma once
// The catalogue views of SQL Server a client asks about a table, as
// temporary views of each session (ServerSql turns sys.<view> into
// tds_sys_<view>; sys.columns, sys.types, sys.indexes and sys.index_columns
// are derived tables of ServerSql's own):
//
//   sys.tables          object_id, name, temporal_type, is_tracked_by_cdc, is_replicated
//   sys.fulltext_index_columns   object_id, column_id
//   sys.security_policies        object_id, is_enabled
//   sys.security_predicates      object_id, target_object_id, predicate_type (0: filter)
//   sys.partitions      object_id, index_id (1), rows
//
// What SQLite cannot know about a table (system versioning, change data
// capture, replication, a full-text index, a row-level security policy) a
// test marks on the server (TableMarks).

#include <sqlite3.h>

#include <functional>
#include <string>

namespace tersify::testing::tds {

struct TableMarks {
  bool system_versioned = false;
  bool tracked_by_cdc = false;
  bool replicated = false;
  bool row_filter = false;      // a row-level security policy with a filter predicate
  std::string fulltext_column;  // the column a full-text index covers; empty: none
};

using TableMarksOf = std::function<TableMarks(const std::string& table)>;

// Creates the views on db; marks is asked for a table's marks as the views are read.
void InstallCatalogViews(sqlite3* db, TableMarksOf marks);

}  // namespace tersify::testing::tds
