#pragma once
// The catalogue views of SQL Server a client asks about a table, as
// temporary views of each session: ServerSql turns sys.<view>, in any letter
// case and quoted or not, into tds_sys_<view>. Object ids are sqlite_master's
// rowids, as OBJECT_ID gives them.
//
//   sys.tables          object_id, name, temporal_type, is_tracked_by_cdc, is_replicated
//   sys.columns         object_id, name, column_id, system_type_id, user_type_id,
//                       max_length, is_ansi_padded, is_nullable
//   sys.types           system_type_id, user_type_id, name
//   sys.indexes         object_id, index_id, name, is_primary_key, is_unique,
//                       is_unique_constraint
//   sys.index_columns   object_id, index_id, key_ordinal, column_id, is_included_column
//   sys.fulltext_index_columns   object_id, column_id
//   sys.security_policies        object_id, is_enabled
//   sys.security_predicates      object_id, target_object_id, predicate_type (0: filter)
//   sys.partitions      object_id, index_id (1), rows
//   sys.dm_db_log_space_usage    one row: database_id, used_log_space_in_percent
//                       (read from the log-space file at every statement, 0
//                       without one), total_log_size_in_bytes (kServedLogBytes),
//                       used_log_space_in_bytes
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

// The size sys.dm_db_log_space_usage gives the log: 2 GB.
inline constexpr long long kServedLogBytes = 2LL << 30;

// Creates the views on db; marks is asked for a table's marks as the views are
// read, and log_space_file (none: empty) holds the log's use in percent.
void InstallCatalogViews(sqlite3* db, TableMarksOf marks, const std::string& log_space_file);

}  // namespace tersify::testing::tds
