#include "tests/support/tds_server/catalog_views.h"

#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

namespace tersify::testing::tds {
namespace {

std::string Text(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  return text ? reinterpret_cast<const char*>(text) : "";
}

// tds_table_mark(table, what): the mark of a table, 0/1 or the full-text column's name.
void TableMark(sqlite3_context* context, int, sqlite3_value** argv) {
  const TableMarks marks = (*static_cast<TableMarksOf*>(sqlite3_user_data(context)))(Text(argv[0]));
  const std::string what = Text(argv[1]);
  if (what == "fulltext") {
    if (marks.fulltext_column.empty()) sqlite3_result_null(context);
    else sqlite3_result_text(context, marks.fulltext_column.c_str(), -1, SQLITE_TRANSIENT);
    return;
  }
  bool mark = false;
  if (what == "temporal") mark = marks.system_versioned;
  else if (what == "cdc") mark = marks.tracked_by_cdc;
  else if (what == "replicated") mark = marks.replicated;
  else if (what == "row_filter") mark = marks.row_filter;
  sqlite3_result_int(context, mark ? 1 : 0);
}

// tds_row_count(table): the table's rows, as the catalogue counts them.
void RowCount(sqlite3_context* context, int, sqlite3_value** argv) {
  std::string name = Text(argv[0]);
  std::string quoted = "\"";
  for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  quoted += "\"";
  sqlite3* db = sqlite3_context_db_handle(context);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, ("select count(*) from main." + quoted).c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_result_error(context, sqlite3_errmsg(db), -1);
    return;
  }
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
  if (sqlite3_step(statement.get()) == SQLITE_ROW) sqlite3_result_int64(context, sqlite3_column_int64(statement.get(), 0));
  else sqlite3_result_error(context, sqlite3_errmsg(db), -1);
}

// tds_log_space_percent(): the number the log-space file holds, read at every
// call; 0 when there is no file or no number in it.
void LogSpacePercent(sqlite3_context* context, int, sqlite3_value**) {
  const auto* file = static_cast<const std::string*>(sqlite3_user_data(context));
  double percent = 0;
  if (!file->empty()) {
    std::ifstream in(*file);
    if (!(in >> percent)) percent = 0;
  }
  sqlite3_result_double(context, percent);
}

// Every catalogue view is a temporary view of the session that ServerSql
// names for sys.<view>, none a derived table spliced into the statement: a
// view is a name SQLite resolves as any other, so every spelling of the name
// reads the same rows; a test can drop one to stand for an older server that
// lacks it; and what must be read afresh at every statement (the log's use)
// is a function the view calls.
constexpr const char* kViews = R"(
create temp view if not exists tds_sys_tables as
  select object_id(m.name) as object_id, m.name as name,
         case when tds_table_mark(m.name, 'temporal') then 2 else 0 end as temporal_type,
         tds_table_mark(m.name, 'cdc') as is_tracked_by_cdc,
         tds_table_mark(m.name, 'replicated') as is_replicated
  from main.sqlite_master m where m.type = 'table';
create temp view if not exists tds_sys_fulltext_index_columns as
  select object_id(m.name) as object_id, p.cid + 1 as column_id
  from main.sqlite_master m, pragma_table_info(m.name) p
  where m.type = 'table' and lower(p.name) = lower(tds_table_mark(m.name, 'fulltext'));
create temp view if not exists tds_sys_security_policies as
  select object_id(m.name) + 1000000000 as object_id, 1 as is_enabled
  from main.sqlite_master m where m.type = 'table' and tds_table_mark(m.name, 'row_filter');
create temp view if not exists tds_sys_security_predicates as
  select object_id(m.name) + 1000000000 as object_id, object_id(m.name) as target_object_id, 0 as predicate_type
  from main.sqlite_master m where m.type = 'table' and tds_table_mark(m.name, 'row_filter');
create temp view if not exists tds_sys_partitions as
  select object_id(m.name) as object_id, 1 as index_id, tds_row_count(m.name) as rows
  from main.sqlite_master m where m.type = 'table';
create temp view if not exists tds_sys_columns as
  select m.rowid as object_id, p.name as name, p.cid + 1 as column_id,
         tds_type_id(p.type) as system_type_id, tds_type_id(p.type) as user_type_id,
         tds_max_length(p.type) as max_length,
         case when instr(m.sql, '"tds_unpadded_' || p.name || '"') > 0 then 0 else 1 end as is_ansi_padded,
         case when p."notnull" then 0 else 1 end as is_nullable
  from main.sqlite_master m join pragma_table_info(m.name) p where m.type = 'table';
create temp view if not exists tds_sys_types as
  select column1 as system_type_id, column1 as user_type_id, column2 as name from (values
    (34, 'image'), (35, 'text'), (36, 'uniqueidentifier'), (40, 'date'), (41, 'time'),
    (42, 'datetime2'), (48, 'tinyint'), (52, 'smallint'), (56, 'int'), (59, 'real'), (60, 'money'),
    (61, 'datetime'), (62, 'float'), (98, 'sql_variant'), (99, 'ntext'), (104, 'bit'),
    (106, 'decimal'), (108, 'numeric'), (127, 'bigint'), (165, 'varbinary'), (167, 'varchar'),
    (173, 'binary'), (175, 'char'), (189, 'timestamp'), (231, 'nvarchar'), (239, 'nchar'));
-- A table's primary key and unique constraints are SQLite indexes of their
-- own (origin 'pk' or 'u'); other indexes are those created by name.
create temp view if not exists tds_sys_indexes as
  select m.rowid as object_id, l.seq + 1 as index_id, l.name as name,
         case when l.origin = 'pk' then 1 else 0 end as is_primary_key, l."unique" as is_unique,
         case when l.origin = 'u' then 1 else 0 end as is_unique_constraint
  from main.sqlite_master m join pragma_index_list(m.name) l where m.type = 'table'
  union all
  select m.rowid, 1000, 'PK_' || m.name, 1, 1, 0 from main.sqlite_master m where m.type = 'table'
    and not exists (select 1 from pragma_index_list(m.name) l where l.origin = 'pk')
    and exists (select 1 from pragma_table_info(m.name) p where p.pk > 0);
create temp view if not exists tds_sys_index_columns as
  select m.rowid as object_id, l.seq + 1 as index_id, i.seqno + 1 as key_ordinal,
         (select p.cid + 1 from pragma_table_info(m.name) p where p.name = i.name) as column_id,
         0 as is_included_column
  from main.sqlite_master m join pragma_index_list(m.name) l join pragma_index_info(l.name) i
  where m.type = 'table'
  union all
  select m.rowid, 1000, p.pk, p.cid + 1, 0 from main.sqlite_master m join pragma_table_info(m.name) p
  where m.type = 'table' and p.pk > 0
    and not exists (select 1 from pragma_index_list(m.name) l where l.origin = 'pk');
)";

// sys.dm_db_log_space_usage: one row, the log's use now, of a log of kServedLogBytes.
std::string LogSpaceView() {
  const std::string bytes = std::to_string(kServedLogBytes);
  return "create temp view if not exists tds_sys_dm_db_log_space_usage as "
         "select 1 as database_id, percent as used_log_space_in_percent, " +
         bytes + " as total_log_size_in_bytes, CAST(" + bytes +
         " * percent / 100 AS INTEGER) as used_log_space_in_bytes "
         "from (select tds_log_space_percent() as percent)";
}

void Check(sqlite3* db, int rc, const char* what) {
  if (rc != SQLITE_OK) throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

}  // namespace

void InstallCatalogViews(sqlite3* db, TableMarksOf marks, const std::string& log_space_file) {
  auto owned = std::make_unique<TableMarksOf>(std::move(marks));
  Check(db,
        sqlite3_create_function_v2(db, "tds_table_mark", 2, SQLITE_UTF8, owned.release(), TableMark, nullptr, nullptr,
                                   [](void* p) { delete static_cast<TableMarksOf*>(p); }),
        "cannot install tds_table_mark");
  Check(db, sqlite3_create_function_v2(db, "tds_row_count", 1, SQLITE_UTF8, nullptr, RowCount, nullptr, nullptr, nullptr),
        "cannot install tds_row_count");
  auto file = std::make_unique<std::string>(log_space_file);
  Check(db,
        sqlite3_create_function_v2(db, "tds_log_space_percent", 0, SQLITE_UTF8, file.release(), LogSpacePercent,
                                   nullptr, nullptr, [](void* p) { delete static_cast<std::string*>(p); }),
        "cannot install tds_log_space_percent");
  Check(db, sqlite3_exec(db, kViews, nullptr, nullptr, nullptr), "cannot create the catalogue views");
  Check(db, sqlite3_exec(db, LogSpaceView().c_str(), nullptr, nullptr, nullptr), "cannot create the log-space view");
}

}  // namespace tersify::testing::tds
