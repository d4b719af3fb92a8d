#include "tool/pass/target.h"

#include <vector>

#include "db/database.h"
#include "db/dataset.h"
#include "db/registries.h"
#include "framework/data/db_error.h"
#include "framework/rtl/exception.h"
#include "framework/rtl/platform.h"
#include "tool/identifier_check.h"

namespace tersify {
namespace {

// The columns of the table as a query describes them, without reading a row.
std::vector<providers::ColumnInfo> TableColumns(providers::Provider& provider, const std::string& table) {
  auto cursor = provider.Execute("select * from " + table + " where 1 = 0", {});
  std::vector<providers::ColumnInfo> columns = cursor->Columns();
  while (cursor->Next()) {
  }
  return columns;
}

const providers::ColumnInfo& ColumnNamed(const std::vector<providers::ColumnInfo>& columns,
                                         const std::string& name) {
  const std::string bare = BareSqlName(name);
  for (const providers::ColumnInfo& c : columns)
    if (SameText(c.name, bare)) return c;
  throw EDatabaseError(Format("Field '%s' not found", bare.c_str()));
}

// The blob types the dataset's binding compresses; a column without a declared
// type (SQLite) takes whatever is stored in it, so it is taken too.
bool CompressibleColumn(const providers::ColumnInfo& column) {
  return column.type == ftUnknown || TvrDataset::IsCompressibleFieldType(column.type);
}

// A column described without a row may take its type from its values (a
// SQLite column without a declared type, seen through the TDS test server):
// the rare path asks how one stored value is described.
bool StoredAsBlob(providers::Provider& provider, const std::string& table, const std::string& field) {
  auto cursor = provider.Execute("select top (1) " + field + " from " + table + " where " + field +
                                     " is not null",
                                 {});
  const bool blob = !cursor->Columns().empty() && CompressibleColumn(cursor->Columns()[0]);
  cursor.reset();
  return blob;
}

// Why a column cannot hold compressed values: its type.
std::string NotCompressibleReason(const providers::ColumnInfo& column) {
  const std::string type = column.declared_type.empty() ? "no declared type and values that are not binary"
                                                        : "the type " + column.declared_type;
  return "The column " + column.name + " has " + type +
         "; only a binary large object column (varbinary(max), image, blob) can hold compressed values";
}

}  // namespace

TMSConnection& PassConnection() {
  TvrDatabase* database = DefaultDatabase;
  TMSConnection* connection = database ? database->ClientConnection() : nullptr;
  if (connection == nullptr) throw Exception("The pass needs a connected default database");
  if (!connection->Connected()) connection->Open();
  return *connection;
}

TPassTarget ResolvePassTarget(const std::string& table, const std::string& field, const std::string& key) {
  // Names go into the SQL text as given: refuse anything that is no plain name
  // before a statement is built.
  CheckSqlName("table", table);
  CheckSqlName("field", field);
  if (!key.empty()) CheckSqlName("key field", key);
  // A key that is the field itself changes under the pass: every row would be
  // looked for by the value it is about to lose.
  if (!key.empty() && SameText(BareSqlName(key), BareSqlName(field)))
    throw Exception(Format("Key field %s is the field to rewrite; name another key", key.c_str()));

  TMSConnection& connection = PassConnection();
  providers::Provider& provider = connection.GetProvider();
  const std::string provider_name = provider.Name();

  const std::vector<providers::ColumnInfo> columns = TableColumns(provider, table);
  const providers::ColumnInfo& column = ColumnNamed(columns, field);
  if (!CompressibleColumn(column) && !StoredAsBlob(provider, table, field)) {
    Exception error(Format("Field %s from table %s can't be compressed", field.c_str(), table.c_str()));
    error.SetDetail(NotCompressibleReason(column));
    throw error;
  }
  if (!key.empty()) ColumnNamed(columns, key);
  const std::vector<std::string> primary_key = connection.PrimaryKeyOf(table);
  TPassKey pass_key = ResolvePassKey(provider, primary_key, table, key, provider_name);
  const providers::ColumnInfo key_column = ColumnNamed(columns, pass_key.name);
  if (SameText(BareSqlName(pass_key.name), column.name))
    throw Exception(Format("Key field %s is the field to rewrite; name another key",
                           pass_key.name.c_str()));

  const int server_major = provider_name == "sqlite" ? 0 : MajorVersion(provider.ServerVersion());
  TPassStatements statements(provider_name, server_major, table, field, pass_key.name);
  return TPassTarget{&connection, provider_name, column.name, std::move(pass_key), std::move(statements),
                     key_column};
}

TPassTimeLimit::TPassTimeLimit(TMSConnection& connection, int seconds) : connection_(connection) {
  if (seconds < 0) return;
  restore_ = connection_.CommandTimeout();
  connection_.SetCommandTimeout(seconds);
  changed_ = true;
}

TPassTimeLimit::~TPassTimeLimit() {
  if (!changed_) return;
  try {
    connection_.SetCommandTimeout(restore_);
  } catch (...) {
    // A connection that cannot take its limit back is lost; it gets it when it reopens.
  }
}

TPassDeadlockPriority::TPassDeadlockPriority(const TPassTarget& target) {
  if (target.provider_name != "odbc") return;
  target.connection->GetProvider().Execute("SET DEADLOCK_PRIORITY LOW", {});
  lowered_ = target.connection;
}

TPassDeadlockPriority::~TPassDeadlockPriority() {
  if (!lowered_ || !lowered_->Connected()) return;
  try {
    lowered_->GetProvider().Execute("SET DEADLOCK_PRIORITY NORMAL", {});
  } catch (...) {
    // A connection that cannot take it back is lost; it starts NORMAL when it reopens.
  }
}

}  // namespace tersify
