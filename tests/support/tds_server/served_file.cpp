#include "tests/support/tds_server/served_file.h"

#include <memory>
#include <stdexcept>
#include <utility>

#include "tests/support/tds_server/server_functions.h"
#include "tests/support/tds_server/server_sql.h"

namespace tersify::testing::tds {
namespace {

using Statement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

constexpr int kAdoptWaitMs = 2000;

Statement Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK)
    throw std::runtime_error(std::string("cannot read the schema: ") + sqlite3_errmsg(db));
  return Statement(raw, sqlite3_finalize);
}

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  std::string message = error ? error : "";
  sqlite3_free(error);
  if (rc != SQLITE_OK) throw std::runtime_error(message);
}

std::string Quote(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

}  // namespace

void PrepareServedConnection(sqlite3* db) {
  RegisterCollations(db);
  RegisterServerFunctions(db);
}

std::vector<std::string> AdoptTables(sqlite3* db, const DatabaseCollation& collation) {
  std::vector<std::pair<std::string, std::string>> changed;  // name, new definition
  {
    Statement tables = Prepare(
        db, "select name, sql from sqlite_master where type = 'table' and sql is not null "
            "and name not like 'sqlite_%'");
    while (sqlite3_step(tables.get()) == SQLITE_ROW) {
      const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(tables.get(), 0));
      const std::string sql = reinterpret_cast<const char*>(sqlite3_column_text(tables.get(), 1));
      std::string adopted = DeclareColumnRules(sql, collation);
      if (adopted != sql) changed.emplace_back(name, std::move(adopted));
    }
  }
  std::vector<std::string> refused;
  if (changed.empty()) return refused;
  // Another session's lock is waited for briefly: a table it holds keeps
  // SQLite's rules until a later login.
  sqlite3_busy_timeout(db, kAdoptWaitMs);
  for (const auto& [name, sql] : changed) {
    // The definition is replaced in place and the table's indexes rebuilt,
    // all in one transaction: a unique key the collation breaks undoes it.
    try {
      Exec(db, "begin immediate");
      try {
        int version = 0;
        {
          Statement read = Prepare(db, "pragma schema_version");
          if (sqlite3_step(read.get()) == SQLITE_ROW) version = sqlite3_column_int(read.get(), 0);
        }
        Exec(db, "pragma writable_schema = on");
        {
          Statement update = Prepare(db, "update sqlite_master set sql = ? where type = 'table' and name = ?");
          sqlite3_bind_text(update.get(), 1, sql.c_str(), -1, SQLITE_TRANSIENT);
          sqlite3_bind_text(update.get(), 2, name.c_str(), -1, SQLITE_TRANSIENT);
          if (sqlite3_step(update.get()) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
        }
        Exec(db, "pragma schema_version = " + std::to_string(version + 1));
        Exec(db, "pragma writable_schema = off");
        Exec(db, "reindex " + Quote(name));
        Exec(db, "commit");
      } catch (...) {
        sqlite3_exec(db, "pragma writable_schema = off", nullptr, nullptr, nullptr);
        sqlite3_exec(db, "rollback", nullptr, nullptr, nullptr);
        throw;
      }
    } catch (const std::exception& error) {
      refused.push_back(name + ": " + error.what());
    }
  }
  return refused;
}

void TrimUnpaddedColumns(sqlite3* db) {
  std::vector<std::pair<std::string, std::string>> columns;  // table, column
  {
    Statement tables = Prepare(db, "select name, sql from sqlite_master where type = 'table' and sql like "
                                   "'%tds\\_unpadded\\_%' escape '\\'");
    while (sqlite3_step(tables.get()) == SQLITE_ROW) {
      const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(tables.get(), 0));
      const std::string sql = reinterpret_cast<const char*>(sqlite3_column_text(tables.get(), 1));
      const std::string mark = std::string("\"") + kUnpaddedMark;
      for (size_t at = sql.find(mark); at != std::string::npos; at = sql.find(mark, at + 1)) {
        const size_t begin = at + mark.size();
        const size_t end = sql.find('"', begin);
        if (end != std::string::npos) columns.emplace_back(name, sql.substr(begin, end - begin));
      }
    }
  }
  for (const auto& [table, column] : columns) {
    const std::string t = Quote(table), c = Quote(column);
    const std::string trim = " begin update " + t + " set " + c + " = tds_zero_trimmed(" + c +
                             ") where rowid = new.rowid and typeof(" + c + ") = 'blob' and " + c +
                             " <> tds_zero_trimmed(" + c + "); end";
    const std::string prefix = std::string(kUnpaddedMark) + table + "_" + column;
    Exec(db, "create trigger if not exists " + Quote(prefix + "_insert") + " after insert on " + t + trim);
    Exec(db, "create trigger if not exists " + Quote(prefix + "_update") + " after update of " + c + " on " + t +
                 trim);
  }
}

std::vector<std::string> AdoptTables(const std::string& file, const DatabaseCollation& collation) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
  if (rc != SQLITE_OK) throw std::runtime_error("cannot open " + file);
  PrepareServedConnection(raw);
  return AdoptTables(raw, collation);
}

}  // namespace tersify::testing::tds
