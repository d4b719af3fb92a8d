#include "tests/support/tds_server/database_access.h"

#include <strings.h>

#include <memory>
#include <stdexcept>

namespace tersify::testing::tds {
namespace {

struct AccessFacts {
  std::string database;
  DatabaseAccess access;
};

const AccessFacts& Facts(sqlite3_context* context) {
  return *static_cast<const AccessFacts*>(sqlite3_user_data(context));
}

std::string Text(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  return text ? reinterpret_cast<const char*>(text) : "";
}

void DbName(sqlite3_context* context, int, sqlite3_value**) {
  const std::string& name = Facts(context).database;
  sqlite3_result_text(context, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
}

void DatabasePropertyEx(sqlite3_context* context, int, sqlite3_value** argv) {
  const AccessFacts& facts = Facts(context);
  if (strcasecmp(Text(argv[0]).c_str(), facts.database.c_str()) != 0 ||
      strcasecmp(Text(argv[1]).c_str(), "Updateability") != 0) {
    sqlite3_result_null(context);
    return;
  }
  sqlite3_result_text(context, facts.access == DatabaseAccess::ReadOnlyDatabase ? "READ_ONLY" : "READ_WRITE", -1,
                      SQLITE_STATIC);
}

void HasPermsByName(sqlite3_context* context, int, sqlite3_value** argv) {
  const std::string permission = Text(argv[2]);
  const bool writes = strcasecmp(permission.c_str(), "UPDATE") == 0 ||
                      strcasecmp(permission.c_str(), "INSERT") == 0 ||
                      strcasecmp(permission.c_str(), "DELETE") == 0;
  sqlite3_result_int(context, writes && Facts(context).access == DatabaseAccess::ReadOnlyLogin ? 0 : 1);
}

void Check(sqlite3* db, int rc) {
  if (rc != SQLITE_OK) throw std::runtime_error(std::string("cannot set the database's access: ") + sqlite3_errmsg(db));
}

}  // namespace

void ApplyDatabaseAccess(sqlite3* db, const std::string& database, DatabaseAccess access) {
  auto facts = std::make_unique<AccessFacts>(AccessFacts{database, access});
  // The first function owns the facts; the others share them.
  AccessFacts* shared = facts.get();
  Check(db, sqlite3_create_function_v2(db, "db_name", 0, SQLITE_UTF8, facts.release(), DbName, nullptr, nullptr,
                                       [](void* p) { delete static_cast<AccessFacts*>(p); }));
  Check(db, sqlite3_create_function_v2(db, "databasepropertyex", 2, SQLITE_UTF8, shared, DatabasePropertyEx,
                                       nullptr, nullptr, nullptr));
  Check(db, sqlite3_create_function_v2(db, "has_perms_by_name", 3, SQLITE_UTF8, shared, HasPermsByName, nullptr,
                                       nullptr, nullptr));
  if (access != DatabaseAccess::ReadWrite) Check(db, sqlite3_exec(db, "PRAGMA query_only = 1", nullptr, nullptr, nullptr));
}

}  // namespace tersify::testing::tds
