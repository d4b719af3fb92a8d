#include "tests/support/tds_server/sql_parameters.h"

#include <strings.h>

#include <cctype>
#include <stdexcept>

#include "client/providers/sqlite/tsql_rewrites.h"

namespace tersify::testing::tds {
namespace {

bool NameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#' ||
         c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

}  // namespace

size_t SkipQuoted(std::string_view sql, size_t at, char close) {
  for (size_t i = at + 1; i < sql.size(); ++i) {
    if (sql[i] != close) continue;
    if (i + 1 < sql.size() && sql[i + 1] == close) {
      ++i;
      continue;
    }
    return i + 1;
  }
  return sql.size();
}

size_t CountMarks(std::string_view sql) {
  size_t marks = 0;
  for (size_t i = 0; i < sql.size();) {
    const size_t end = providers::SkipQuotedOrComment(sql, i);
    if (end > i) {
      i = end;
      continue;
    }
    if (sql[i++] == '?') ++marks;
  }
  return marks;
}

std::vector<std::string> DeclaredNames(const std::string& declarations) {
  std::vector<std::string> names;
  int depth = 0;
  bool expect_name = true;
  for (size_t i = 0; i < declarations.size(); ++i) {
    char c = declarations[i];
    if (c == '(') ++depth;
    else if (c == ')') --depth;
    else if (c == ',' && depth == 0) expect_name = true;
    else if (c == '@' && expect_name) {
      size_t end = i + 1;
      while (end < declarations.size() && NameChar(declarations[end])) ++end;
      names.push_back(declarations.substr(i, end - i));
      expect_name = false;
      i = end - 1;
    }
  }
  return names;
}

std::vector<std::string> DeclaredTypes(const std::string& declarations) {
  std::vector<std::string> types;
  int depth = 0;
  bool in_type = false;
  for (size_t i = 0; i < declarations.size(); ++i) {
    char c = declarations[i];
    if (c == '@' && depth == 0 && !in_type) {
      while (i + 1 < declarations.size() && NameChar(declarations[i + 1])) ++i;
      types.emplace_back();
      in_type = true;
      continue;
    }
    if (c == '(') ++depth;
    else if (c == ')') --depth;
    else if (c == ',' && depth == 0) {
      in_type = false;
      continue;
    }
    if (in_type && !(types.back().empty() && std::isspace(static_cast<unsigned char>(c))))
      types.back() += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return types;
}

PositionalStatement ToPositional(const std::string& sql, const std::string& declarations,
                                 const std::string& wide_collation) {
  std::vector<std::string> names = DeclaredNames(declarations);
  std::vector<std::string> types = DeclaredTypes(declarations);
  auto mark = [&](size_t k) -> std::string {
    const bool wide = k < types.size() && (types[k].rfind("nvarchar", 0) == 0 ||
                                           types[k].rfind("nchar", 0) == 0 ||
                                           types[k].rfind("ntext", 0) == 0);
    if (wide_collation.empty() || !wide) return "?";
    return "(? COLLATE " + wide_collation + ")";
  };
  PositionalStatement out;
  out.sql.reserve(sql.size());
  for (size_t i = 0; i < sql.size();) {
    const char c = sql[i];
    size_t end = providers::SkipQuotedOrComment(sql, i);
    // Quoted text, quoted names and comments are copied as they are.
    if (end == i && (c == '@' || NameChar(c))) {
      end = i + 1;
      while (end < sql.size() && NameChar(sql[end])) ++end;
      if (c == '@') {
        std::string name = sql.substr(i, end - i);
        for (size_t k = 0; k < names.size(); ++k) {
          if (strcasecmp(names[k].c_str(), name.c_str()) == 0) {
            out.sql += mark(k);
            out.value_index.push_back(k);
            i = end;
            break;
          }
        }
        if (i == end) continue;
      }
    } else if (end == i) {
      end = i + 1;
    }
    out.sql.append(sql, i, end - i);
    i = end;
  }
  return out;
}

std::vector<Variant> BindValues(const PositionalStatement& statement,
                                std::vector<Variant> declared_values) {
  std::vector<size_t> uses_left(declared_values.size(), 0);
  for (size_t index : statement.value_index) {
    if (index >= declared_values.size())
      throw std::invalid_argument("no value given for parameter " + std::to_string(index + 1));
    ++uses_left[index];
  }
  std::vector<Variant> values;
  values.reserve(statement.value_index.size());
  for (size_t index : statement.value_index) {
    if (--uses_left[index] == 0) values.push_back(std::move(declared_values[index]));
    else values.push_back(declared_values[index]);
  }
  return values;
}

}  // namespace tersify::testing::tds
