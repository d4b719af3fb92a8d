#include "tests/support/tds_server/catalog_views.h"

#include <strings.h>

#include <memory>
#include <stdexcept>
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
)";

void Check(sqlite3* db, int rc, const char* what) {
  if (rc != SQLITE_OK) throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

}  // namespace

void InstallCatalogViews(sqlite3* db, TableMarksOf marks) {
  auto owned = std::make_unique<TableMarksOf>(std::move(marks));
  Check(db,
        sqlite3_create_function_v2(db, "tds_table_mark", 2, SQLITE_UTF8, owned.release(), TableMark, nullptr, nullptr,
                                   [](void* p) { delete static_cast<TableMarksOf*>(p); }),
        "cannot install tds_table_mark");
  Check(db, sqlite3_create_function_v2(db, "tds_row_count", 1, SQLITE_UTF8, nullptr, RowCount, nullptr, nullptr, nullptr),
        "cannot install tds_row_count");
  Check(db, sqlite3_exec(db, kViews, nullptr, nullptr, nullptr), "cannot create the catalogue views");
}

}  // namespace tersify::testing::tds
