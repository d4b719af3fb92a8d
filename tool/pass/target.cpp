#include "tool/pass/target.h"

#include <cstdlib>
#include <memory>
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

// How SQL Server stores the column: its type, its length in bytes (-1 for
// max) and whether it keeps trailing 0x00 bytes (ANSI_PADDING).
struct TStoredColumn {
  std::string type;
  int64_t max_length = -1;
  bool padded = true;
};

TStoredColumn ServerStoredColumn(providers::Provider& provider, const std::string& table,
                                 const std::string& column) {
  auto cursor = provider.Execute(
      "select t.name, c.max_length, c.is_ansi_padded from sys.columns c join sys.types t on t.user_type_id = "
      "c.user_type_id where c.object_id = OBJECT_ID(?) and c.name = ?",
      {Variant(table), Variant(column)});
  TStoredColumn stored;
  if (cursor->Next()) {
    stored.type = cursor->Value(0).AsString();
    stored.max_length = cursor->Value(1).AsInt64();
    stored.padded = cursor->Value(2).AsInt64() != 0;
  }
  while (cursor->Next()) {
  }
  return stored;
}

std::string BaseTypeName(const std::string& declared_type) {
  std::string base = declared_type.substr(0, declared_type.find('('));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  return base;
}

// Why a blob column still cannot hold envelopes: binary(n) pads every value
// with 0x00 bytes to its length, and an unpadded varbinary column drops the
// trailing 0x00 bytes of every value, which ends about one zlib stream in 256.
// Empty when it can.
std::string StorageRefusal(const std::string& column, const std::string& type, int64_t max_length,
                           bool padded) {
  if (SameText(type, "binary"))
    return "The column " + column + " has the type binary" +
           (max_length > 0 ? "(" + std::to_string(max_length) + ")" : std::string()) + ", which pads every value with zeros to its length; only a varbinary or blob column can hold "
           "compressed values";
  if (!padded)
    return "The column " + column +
           " was created with ANSI_PADDING OFF and drops the trailing zero bytes of every value it stores, "
           "which would cut compressed values short; recreate it with ANSI_PADDING ON";
  return std::string();
}

// Whether an index of the table leads with the column, so that a page, an
// update and a count by key seek instead of scanning the table.
bool LeadsAnIndex(providers::Provider& provider, const std::string& provider_name, const std::string& table,
                  const std::string& column) {
  std::unique_ptr<providers::Cursor> cursor;
  if (provider_name == "sqlite") {
    const std::string bare = BareSqlName(table);
    // An INTEGER PRIMARY KEY is the rowid itself, in no index of its own.
    cursor = provider.Execute(
        "select (select count(*) from pragma_index_list(?) l join pragma_index_info(l.name) i "
        "where i.seqno = 0 and i.name = ? collate nocase) + "
        "(select count(*) from pragma_table_info(?) p where p.pk = 1 and p.name = ? collate nocase "
        "and lower(p.type) = 'integer' and (select count(*) from pragma_table_info(?) where pk > 0) = 1)",
        {Variant(bare), Variant(column), Variant(bare), Variant(column), Variant(bare)});
  } else {
    cursor = provider.Execute(
        "select COUNT_BIG(*) from sys.index_columns ic join sys.columns c on c.object_id = ic.object_id and "
        "c.column_id = ic.column_id where ic.object_id = OBJECT_ID(?) and ic.key_ordinal = 1 and c.name = ?",
        {Variant(table), Variant(column)});
  }
  int64_t indexes = 0;
  if (cursor->Next()) indexes = cursor->Value(0).AsInt64();
  while (cursor->Next()) {
  }
  return indexes > 0;
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
  int64_t max_stored_bytes = 0;
  {
    std::string type = BaseTypeName(column.declared_type);
    int64_t max_length = -1;
    bool padded = true;
    if (provider_name != "sqlite") {
      const TStoredColumn stored = ServerStoredColumn(provider, table, column.name);
      if (!stored.type.empty()) type = stored.type;
      max_length = stored.max_length;
      padded = stored.padded;
    } else if (const size_t open = column.declared_type.find('('); open != std::string::npos) {
      max_length = std::atoll(column.declared_type.c_str() + open + 1);
    }
    const std::string refusal = StorageRefusal(column.name, type, max_length, padded);
    if (!refusal.empty()) {
      Exception error(Format("Field %s from table %s can't be compressed", field.c_str(), table.c_str()));
      error.SetDetail(refusal);
      throw error;
    }
    // SQLite keeps a value of any length whatever the declaration says.
    if (provider_name != "sqlite" && SameText(type, "varbinary") && max_length > 0) max_stored_bytes = max_length;
  }
  if (!key.empty()) ColumnNamed(columns, key);
  const std::vector<std::string> primary_key = connection.PrimaryKeyOf(table);
  TPassKey pass_key = ResolvePassKey(provider, primary_key, table, key, provider_name);
  const providers::ColumnInfo key_column = ColumnNamed(columns, pass_key.name);
    std::string key_warning;
  const bool primary = primary_key.size() == 1 && SameText(key_column.name, primary_key[0]);
  if (!primary && !LeadsAnIndex(provider, provider_name, table, key_column.name))
    key_warning = "Warning: no index of table " + table + " begins with the key field " + key_column.name +
                  "; every page, update and count of the pass reads the whole table";
  if (SameText(BareSqlName(pass_key.name), column.name))
    throw Exception(Format("Key field %s is the field to rewrite; name another key",
                           pass_key.name.c_str()));

  const int server_major = provider_name == "sqlite" ? 0 : MajorVersion(provider.ServerVersion());
  TPassStatements statements(provider_name, server_major, table, field, pass_key.name);
  return TPassTarget{&connection, provider_name, column.name, std::move(pass_key), std::move(statements),
                     key_column, max_stored_bytes, std::move(key_warning)};
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

}  // namespace tersify
