#include "client/providers/odbc/odbc_catalog.h"

#include <algorithm>
#include <cctype>

#include "client/errors.h"
#include "client/providers/odbc/odbc_cursor.h"

namespace tersify::providers::odbc {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Catalogue arguments: a null pointer for a part not given.
struct NameParts {
  std::string catalog, schema, object;
  bool has_catalog = false, has_schema = false;
};

NameParts PartsOf(const std::string& name) {
  const std::vector<std::string> parts = SplitObjectName(name);
  NameParts n;
  n.object = parts.back();
  if (parts.size() >= 2) {
    n.schema = parts[parts.size() - 2];
    n.has_schema = !n.schema.empty();
  }
  if (parts.size() == 3) {
    n.catalog = parts[0];
    n.has_catalog = !n.catalog.empty();
  }
  return n;
}

SQLCHAR* Arg(const std::string& s, bool given) {
  return given ? reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str())) : nullptr;
}
SQLSMALLINT ArgLength(const std::string& s, bool given) {
  return given ? static_cast<SQLSMALLINT>(s.size()) : 0;
}

// Reads the row's catalogue columns in increasing order.
class RowReader {
 public:
  explicit RowReader(const StmtHandle& stmt) : stmt_(stmt) {}
  std::string Text(SQLUSMALLINT column) {
    ResultColumn c;
    c.sql_type = SQL_VARCHAR;
    Variant v = ReadColumnValue(stmt_, column, c, buffer_);
    return v.IsNull() ? std::string() : v.AsString();
  }
  int64_t Integer(SQLUSMALLINT column, int64_t if_null) {
    ResultColumn c;
    c.sql_type = SQL_INTEGER;
    Variant v = ReadColumnValue(stmt_, column, c, buffer_);
    return v.IsNull() ? if_null : v.AsInt64();
  }

 private:
  const StmtHandle& stmt_;
  std::vector<char> buffer_;
};

}  // namespace

std::vector<std::string> SplitObjectName(const std::string& name) {
  std::vector<std::string> parts;
  std::string current;
  size_t i = 0;
  bool quoted_part = false;
  while (i < name.size()) {
    const char c = name[i];
    if ((c == '[' || c == '"') && current.empty() && !quoted_part) {
      const char close = c == '[' ? ']' : '"';
      ++i;
      for (;;) {
        if (i >= name.size()) throw EMSError("Invalid object name '" + name + "'");
        if (name[i] == close) {
          if (i + 1 < name.size() && name[i + 1] == close) {  // doubled: one literal
            current += close;
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        current += name[i++];
      }
      quoted_part = true;
      continue;
    }
    if (c == '.') {
      parts.push_back(current);
      current.clear();
      quoted_part = false;
      ++i;
      continue;
    }
    current += c;
    ++i;
  }
  parts.push_back(current);
  for (std::string& p : parts) {
    // Blanks around an unquoted part are not part of it.
    const size_t b = p.find_first_not_of(" \t");
    const size_t e = p.find_last_not_of(" \t");
    p = b == std::string::npos ? std::string() : p.substr(b, e - b + 1);
  }
  if (parts.size() > 3 || parts.back().empty())
    throw EMSError("Invalid object name '" + name + "'");
  return parts;
}

std::vector<std::string> PrimaryKeyColumns(OdbcConnection& connection, const std::string& table) {
  const NameParts n = PartsOf(table);
  std::shared_ptr<StmtHandle> stmt = connection.NewStatement();
  stmt->Check(SQLPrimaryKeys(stmt->get(), Arg(n.catalog, n.has_catalog),
                             ArgLength(n.catalog, n.has_catalog), Arg(n.schema, n.has_schema),
                             ArgLength(n.schema, n.has_schema), Arg(n.object, true),
                             ArgLength(n.object, true)),
              "SQLPrimaryKeys");
  std::vector<std::pair<int64_t, std::string>> keys;
  RowReader row(*stmt);
  while (stmt->Check(SQLFetch(stmt->get()), "SQLFetch") != SQL_NO_DATA) {
    std::string column = row.Text(4);          // COLUMN_NAME
    const int64_t seq = row.Integer(5, 0);     // KEY_SEQ
    keys.emplace_back(seq, std::move(column));
  }
  int64_t ignored = -1;
  DrainResults(*stmt, ignored);
  std::stable_sort(keys.begin(), keys.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> columns;
  for (auto& k : keys) columns.push_back(std::move(k.second));
  return columns;
}

std::vector<ProcParamDetail> ProcedureParamDetails(OdbcConnection& connection,
                                                   const std::string& procedure) {
  const NameParts n = PartsOf(procedure);
  std::shared_ptr<StmtHandle> stmt = connection.NewStatement();
  stmt->Check(SQLProcedureColumns(stmt->get(), Arg(n.catalog, n.has_catalog),
                                  ArgLength(n.catalog, n.has_catalog), Arg(n.schema, n.has_schema),
                                  ArgLength(n.schema, n.has_schema), Arg(n.object, true),
                                  ArgLength(n.object, true), nullptr, 0),
              "SQLProcedureColumns");
  SQLSMALLINT column_count = 0;
  stmt->Check(SQLNumResultCols(stmt->get(), &column_count), "SQLNumResultCols");

  struct Row {
    int64_t ordinal;
    ProcParamDetail detail;
  };
  std::vector<Row> rows;
  const std::string wanted = Lower(n.object);
  RowReader row(*stmt);
  while (stmt->Check(SQLFetch(stmt->get()), "SQLFetch") != SQL_NO_DATA) {
    // The name argument is a pattern ('_' matches any character): keep only
    // this procedure's rows. SQL Server names it "name;1".
    std::string proc_name = row.Text(3);
    if (const size_t semi = proc_name.find(';'); semi != std::string::npos) proc_name.resize(semi);
    std::string column_name = row.Text(4);
    const int64_t column_type = row.Integer(5, SQL_PARAM_TYPE_UNKNOWN);
    const int64_t data_type = row.Integer(6, SQL_VARCHAR);
    const std::string type_name = row.Text(7);
    const int64_t column_size = row.Integer(8, 0);
    const int64_t digits = row.Integer(10, 0);
    const int64_t ordinal = column_count >= 18 ? row.Integer(18, 0) : static_cast<int64_t>(rows.size());
    if (Lower(proc_name) != wanted) continue;
    if (column_type == SQL_RETURN_VALUE || column_type == SQL_RESULT_COL) continue;

    Row r;
    r.ordinal = ordinal;
    ProcParamDetail& d = r.detail;
    if (!column_name.empty() && column_name.front() == '@') column_name.erase(0, 1);
    d.info.name = column_name;
    d.info.direction = column_type == SQL_PARAM_INPUT_OUTPUT ? ParamDirection::InputOutput
                       : column_type == SQL_PARAM_OUTPUT     ? ParamDirection::Output
                                                             : ParamDirection::Input;
    d.sql_type = static_cast<SQLSMALLINT>(data_type);
    d.column_size = static_cast<SQLULEN>(std::max<int64_t>(column_size, 0));
    d.decimal_digits = static_cast<SQLSMALLINT>(std::max<int64_t>(digits, 0));
    d.info.type = DescribeColumn(d.info.name, DeclaredTypeText(type_name, d.sql_type, d.column_size,
                                                               d.decimal_digits))
                      .type;
    rows.push_back(std::move(r));
  }
  int64_t ignored = -1;
  DrainResults(*stmt, ignored);
  std::stable_sort(rows.begin(), rows.end(),
                   [](const Row& a, const Row& b) { return a.ordinal < b.ordinal; });
  std::vector<ProcParamDetail> details;
  for (Row& r : rows) details.push_back(std::move(r.detail));
  return details;
}

}  // namespace tersify::providers::odbc
