#include "tests/support/tds_server/catalog.h"

#include <strings.h>

#include "tests/support/tds_server/type_mapping.h"

namespace tersify::testing::tds {
namespace {

constexpr int16_t kParamInput = 1;
constexpr int16_t kParamInputOutput = 2;
constexpr int16_t kParamOutput = 4;
constexpr int16_t kReturnValue = 5;

// How the catalogue describes a column or parameter of a given TDS type.
struct CatalogType {
  int16_t data_type = 0;
  std::string type_name;
  Variant precision, length, scale, radix;
  int16_t sql_data_type = 0;
  Variant datetime_sub, octet_length;
  int ss_data_type = 0;
};

CatalogType Describe(const TypeInfo& info) {
  CatalogType t;
  t.type_name = info.SqlName();
  auto numeric = [&](int16_t type, int precision, int length, Variant scale, int ss) {
    t.data_type = t.sql_data_type = type;
    t.precision = precision;
    t.length = length;
    t.scale = scale;
    t.radix = 10;
    t.ss_data_type = ss;
  };
  // A string or binary type: its ODBC type, and its length in characters and bytes.
  auto sized = [&](int16_t type, const char* name, int characters, int bytes) {
    t.type_name = name;
    t.data_type = t.sql_data_type = type;
    t.precision = characters;
    t.length = t.octet_length = bytes;
  };
  const bool plp = info.IsPlp();
  switch (info.type) {
    case kIntN:
      if (info.max_length == 1) numeric(-6, 3, 1, 0, 38);
      else if (info.max_length == 2) numeric(5, 5, 2, 0, 38);
      else if (info.max_length == 8) numeric(-5, 19, 8, 0, 38);
      else numeric(4, 10, 4, 0, 38);
      break;
    case kBitN:
      numeric(-7, 1, 1, Variant(), 50);
      t.radix = Variant();
      break;
    case kFltN:
      if (info.max_length == 4) numeric(7, 7, 4, Variant(), 109);
      else numeric(6, 15, 8, Variant(), 109);
      break;
    case kMoneyN: numeric(3, 19, 21, 4, 110); break;
    case kDecimalN: case kNumericN:
      numeric(info.type == kNumericN ? 2 : 3, info.precision, info.precision + 2, info.scale, 106);
      t.type_name = info.type == kNumericN ? "numeric" : "decimal";
      break;
    case kDateTimeN:
      numeric(93, 23, 16, 3, 111);
      t.radix = Variant();
      t.sql_data_type = 9;
      t.datetime_sub = 3;
      break;
    case kDateTime2N:
      numeric(93, info.scale == 0 ? 19 : 20 + info.scale, 16, info.scale, 0);
      t.type_name = "datetime2";
      t.radix = Variant();
      t.sql_data_type = 9;
      t.datetime_sub = 3;
      break;
    case kDateN:
      numeric(91, 10, 6, Variant(), 0);
      t.radix = Variant();
      t.sql_data_type = 9;
      t.datetime_sub = 1;
      break;
    case kTimeN:
      numeric(92, 16, 12, 7, 0);
      t.radix = Variant();
      t.sql_data_type = 9;
      t.datetime_sub = 2;
      break;
    case kGuid: sized(-11, "uniqueidentifier", 36, 16); break;
    case kNVarChar:
      if (plp) sized(-10, "nvarchar", 1073741823, 2147483646);
      else sized(-9, "nvarchar", static_cast<int>(info.max_length / 2), static_cast<int>(info.max_length));
      break;
    case kNChar:
      sized(-8, "nchar", static_cast<int>(info.max_length / 2), static_cast<int>(info.max_length));
      break;
    case kBigVarChar:
      if (plp) sized(-1, "varchar", 2147483647, 2147483647);
      else sized(12, "varchar", static_cast<int>(info.max_length), static_cast<int>(info.max_length));
      break;
    case kBigChar:
      sized(1, "char", static_cast<int>(info.max_length), static_cast<int>(info.max_length));
      break;
    case kBigBinary:
      sized(-2, "binary", static_cast<int>(info.max_length), static_cast<int>(info.max_length));
      break;
    case kBigVarBinary:
      if (plp) sized(-4, "varbinary", 2147483647, 2147483647);
      else sized(-3, "varbinary", static_cast<int>(info.max_length), static_cast<int>(info.max_length));
      break;
    case kText: sized(-1, "text", 2147483647, 2147483647); break;
    case kNText: sized(-10, "ntext", 1073741823, 2147483646); break;
    default:  // image
      sized(-4, "image", 2147483647, 2147483647);
      break;
  }
  return t;
}

TypeInfo SmallInt() { return IntType(2); }
TypeInfo Int() { return IntType(4); }
TypeInfo SysName() { return NVarCharType(128); }

// The columns shared by sp_columns and sp_sproc_columns after the name columns.
void AddTypeColumns(std::vector<ResultColumn>& columns) {
  columns.push_back({"DATA_TYPE", SmallInt()});
  columns.push_back({"TYPE_NAME", SysName()});
  columns.push_back({"PRECISION", Int()});
  columns.push_back({"LENGTH", Int()});
  columns.push_back({"SCALE", SmallInt()});
  columns.push_back({"RADIX", SmallInt()});
  columns.push_back({"NULLABLE", SmallInt()});
  columns.push_back({"REMARKS", NVarCharType(254)});
  columns.push_back({"COLUMN_DEF", NVarCharType(4000)});
  columns.push_back({"SQL_DATA_TYPE", SmallInt()});
  columns.push_back({"SQL_DATETIME_SUB", SmallInt()});
  columns.push_back({"CHAR_OCTET_LENGTH", Int()});
  columns.push_back({"ORDINAL_POSITION", Int()});
  columns.push_back({"IS_NULLABLE", NVarCharType(254)});
  columns.push_back({"SS_DATA_TYPE", SmallInt()});
}

void AddTypeValues(std::vector<Variant>& row, const CatalogType& t, bool nullable, int ordinal) {
  row.insert(row.end(), {Variant(static_cast<int>(t.data_type)), Variant(t.type_name),
                         t.precision, t.length, t.scale, t.radix, Variant(nullable ? 1 : 0),
                         Variant(), Variant(), Variant(static_cast<int>(t.sql_data_type)),
                         t.datetime_sub, t.octet_length, Variant(ordinal),
                         Variant(nullable ? "YES" : "NO"), Variant(t.ss_data_type)});
}

std::string Text(const RpcRequest& request, const char* name) {
  const RpcParam* param = request.Named(name);
  return param ? param->value.AsString() : std::string();
}

// A name as the client may write it ("[dbo].[t]"): the last part, unbracketed.
std::string BareName(std::string name) {
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name = name.substr(dot + 1);
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
    name = name.substr(1, name.size() - 2);
  size_t semicolon = name.find(';');  // "p;1": procedure group number
  if (semicolon != std::string::npos) name.resize(semicolon);
  return name;
}

std::string QuoteName(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

int64_t PrimaryKeys(providers::Provider& provider, const RpcRequest& request,
                    const std::string& database, TokenWriter& out) {
  std::string table = BareName(Text(request, "table_name"));
  std::vector<ResultColumn> columns = {
      {"TABLE_QUALIFIER", SysName()}, {"TABLE_OWNER", SysName()}, {"TABLE_NAME", SysName()},
      {"COLUMN_NAME", SysName()},     {"KEY_SEQ", SmallInt()},    {"PK_NAME", SysName()}};
  std::vector<std::string> key = provider.PrimaryKey(table);
  out.ColMetadata(columns);
  for (size_t i = 0; i < key.size(); ++i) {
    out.Row(columns, {Variant(database), Variant("dbo"), Variant(table), Variant(key[i]),
                      Variant(static_cast<int>(i + 1)), Variant("PK_" + table)});
  }
  return static_cast<int64_t>(key.size());
}

int64_t TableColumns(providers::Provider& provider, const RpcRequest& request,
                     const std::string& database, TokenWriter& out) {
  std::string table = BareName(Text(request, "table_name"));
  std::vector<ResultColumn> columns = {{"TABLE_QUALIFIER", SysName()},
                                       {"TABLE_OWNER", SysName()},
                                       {"TABLE_NAME", SysName()},
                                       {"COLUMN_NAME", SysName()}};
  AddTypeColumns(columns);
  std::vector<providers::ColumnInfo> described;
  try {
    described = provider.Execute("select * from " + QuoteName(table) + " where 1=0", {})
                    ->Columns();
  } catch (const std::exception&) {
    // An unknown table has no columns: an empty result, as SQL Server answers.
  }
  out.ColMetadata(columns);
  int ordinal = 0;
  for (const providers::ColumnInfo& column : described) {
    std::vector<Variant> row = {Variant(database), Variant("dbo"), Variant(table),
                                Variant(column.name)};
    AddTypeValues(row, Describe(TypeForColumn(column, Variant())), column.nullable, ++ordinal);
    out.Row(columns, row);
  }
  return ordinal;
}

int64_t ProcedureColumns(providers::Provider& provider, const RpcRequest& request,
                         const std::string& database, TokenWriter& out) {
  std::string procedure = BareName(Text(request, "procedure_name"));
  std::vector<ResultColumn> columns = {{"PROCEDURE_QUALIFIER", SysName()},
                                       {"PROCEDURE_OWNER", SysName()},
                                       {"PROCEDURE_NAME", NVarCharType(134)},
                                       {"COLUMN_NAME", SysName()},
                                       {"COLUMN_TYPE", SmallInt()}};
  AddTypeColumns(columns);
  std::vector<providers::ProcParamInfo> params;
  bool found = true;
  try {
    params = provider.ProcedureParams(procedure);
  } catch (const std::exception&) {
    found = false;  // an unknown procedure has no rows
  }
  out.ColMetadata(columns);
  if (!found) return 0;
  auto emit = [&](const std::string& name, int16_t kind, const TypeInfo& type, int ordinal) {
    std::vector<Variant> row = {Variant(database), Variant("dbo"), Variant(procedure + ";1"),
                                Variant(name), Variant(static_cast<int>(kind))};
    AddTypeValues(row, Describe(type), kind != kReturnValue, ordinal);
    out.Row(columns, row);
  };
  emit("@RETURN_VALUE", kReturnValue, Int(), 0);
  int ordinal = 0;
  for (const providers::ProcParamInfo& param : params) {
    int16_t kind = param.direction == providers::ParamDirection::Output        ? kParamOutput
                   : param.direction == providers::ParamDirection::InputOutput ? kParamInputOutput
                                                                               : kParamInput;
    providers::ColumnInfo as_column;
    as_column.type = param.type;
    as_column.size = param.type == ftString || param.type == ftWideString ? 4000 : 0;
    ++ordinal;
    emit("@" + param.name, kind, TypeForColumn(as_column, Variant()), ordinal);
  }
  return ordinal + 1;
}

}  // namespace

bool IsCatalogProcedure(const std::string& procedure) {
  for (const char* name : {"sp_pkeys", "sp_columns", "sp_sproc_columns"})
    if (strcasecmp(BareName(procedure).c_str(), name) == 0) return true;
  return false;
}

int64_t SendCatalog(providers::Provider& provider, const RpcRequest& request,
                    const std::string& database, TokenWriter& out) {
  std::string name = BareName(request.procedure);
  if (strcasecmp(name.c_str(), "sp_pkeys") == 0)
    return PrimaryKeys(provider, request, database, out);
  if (strcasecmp(name.c_str(), "sp_columns") == 0)
    return TableColumns(provider, request, database, out);
  return ProcedureColumns(provider, request, database, out);
}

}  // namespace tersify::testing::tds
