// Reading a SQL text without a server: macro expansion and the shape of a
// simple select. Quoted strings, [bracketed] and "quoted" names and comments
// are stepped over whole, so nothing inside them is ever taken for a keyword.

#include "client/sql_text.h"

#include <cctype>
#include <string_view>

#include "framework/rtl/platform.h"

namespace tersify {
namespace {

bool IsNameChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || c == '$' || c == '#' || c == '@' || u >= 0x80;
}

// The end of the quoted region, comment or bracketed name starting at i, or i
// when nothing of the kind starts there.
size_t SkipOpaque(std::string_view s, size_t i) {
  const char c = s[i];
  if (c == '\'' || c == '"' || c == '[') {
    const char close = c == '[' ? ']' : c;
    size_t j = i + 1;
    while (j < s.size()) {
      if (s[j] == close) {
        if (j + 1 < s.size() && s[j + 1] == close) {  // doubled: part of the text
          j += 2;
          continue;
        }
        return j + 1;
      }
      ++j;
    }
    return s.size();
  }
  if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
    const size_t eol = s.find('\n', i);
    return eol == std::string_view::npos ? s.size() : eol + 1;
  }
  if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
    const size_t end = s.find("*/", i + 2);
    return end == std::string_view::npos ? s.size() : end + 2;
  }
  return i;
}

enum class TokKind { Word, Quoted, Punct, Literal };

struct Token {
  TokKind kind;
  std::string text;  // a word as written; a quoted name without its quotes
  int depth;         // parentheses open before it
};

std::vector<Token> Tokenize(std::string_view s) {
  std::vector<Token> out;
  int depth = 0;
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    if ((c == '-' && i + 1 < s.size() && s[i + 1] == '-') ||
        (c == '/' && i + 1 < s.size() && s[i + 1] == '*')) {
      i = SkipOpaque(s, i);
      continue;
    }
    if (c == '[' || c == '"') {
      const char close = c == '[' ? ']' : '"';
      std::string name;
      size_t j = i + 1;
      while (j < s.size()) {
        if (s[j] == close) {
          if (j + 1 < s.size() && s[j + 1] == close) {  // doubled: part of the name
            name += close;
            j += 2;
            continue;
          }
          break;
        }
        name += s[j++];
      }
      out.push_back({TokKind::Quoted, name, depth});
      i = j < s.size() ? j + 1 : s.size();
      continue;
    }
    if (c == '\'') {
      const size_t end = SkipOpaque(s, i);
      out.push_back({TokKind::Literal, std::string(s.substr(i, end - i)), depth});
      i = end;
      continue;
    }
    if (IsNameChar(c)) {
      size_t j = i;
      while (j < s.size() && IsNameChar(s[j])) ++j;
      out.push_back({TokKind::Word, std::string(s.substr(i, j - i)), depth});
      i = j;
      continue;
    }
    if (c == ')') --depth;
    out.push_back({TokKind::Punct, std::string(1, c), depth});
    if (c == '(') ++depth;
    ++i;
  }
  return out;
}

bool Is(const Token& t, std::string_view word) {
  return t.kind == TokKind::Word && LowerCase(t.text) == word;
}
bool IsPunct(const Token& t, char c) { return t.kind == TokKind::Punct && t.text[0] == c; }
bool IsName(const Token& t) { return t.kind == TokKind::Word || t.kind == TokKind::Quoted; }

bool IsClauseWord(const Token& t) {
  for (std::string_view w : {"where", "order", "group", "having", "option", "for", "join", "inner",
                             "left", "right", "full", "cross", "outer", "union", "except",
                             "intersect", "on", "with", "into", "from", "select", "apply",
                             "pivot", "unpivot", "tablesample", "limit", "offset", "window"}) {
    if (Is(t, w)) return true;
  }
  return false;
}

// A dotted name starting at i ("dbo.t", "[a].[b]"); returns the index after it
// and the parts through the out parameters.
size_t ReadDottedName(const std::vector<Token>& toks, size_t i, std::vector<std::string>& parts,
                      std::string& written) {
  while (i < toks.size() && IsName(toks[i])) {
    parts.push_back(toks[i].text);
    written += toks[i].kind == TokKind::Quoted ? QuoteName(toks[i].text) : toks[i].text;
    if (i + 1 < toks.size() && IsPunct(toks[i + 1], '.') && i + 2 < toks.size() &&
        IsName(toks[i + 2])) {
      written += '.';
      i += 2;
      continue;
    }
    return i + 1;
  }
  return i;
}

// One item of the select list: records it as a plain column, a star, or the
// name an expression is given.
void ReadSelectItem(const std::vector<Token>& item, SelectShape& shape,
                    std::vector<std::string>& other_names) {
  if (item.empty()) return;
  if (item.size() == 1 && IsPunct(item[0], '*')) {
    shape.star = true;
    return;
  }
  std::vector<std::string> parts;
  std::string written;
  size_t end = ReadDottedName(item, 0, parts, written);
  if (!parts.empty() && end + 2 == item.size() && IsPunct(item[end], '.') &&
      IsPunct(item[end + 1], '*')) {
    shape.star = true;
    return;
  }
  if (!parts.empty() && end < item.size() && IsPunct(item[end], '.') && end + 1 < item.size() &&
      IsPunct(item[end + 1], '*')) {
    shape.star = true;
    return;
  }
  std::string alias;
  bool plain = !parts.empty() && IsName(item[0]) && !IsClauseWord(item[0]);
  if (plain && end < item.size()) {
    size_t k = end;
    if (Is(item[k], "as")) ++k;
    if (k + 1 == item.size() && IsName(item[k])) {
      alias = item[k].text;
      plain = LowerCase(alias) == LowerCase(parts.back());
    } else {
      plain = false;
    }
  }
  if (plain) {
    shape.plain_columns.push_back(parts.back());
    return;
  }
  // An expression: its name is the alias after it, or the name before "=".
  if (item.size() >= 2 && IsName(item.back()) &&
      (item.size() < 2 || !IsPunct(item[item.size() - 2], '.'))) {
    other_names.push_back(item.back().text);
  }
  if (item.size() >= 2 && IsName(item[0]) && IsPunct(item[1], '=')) other_names.push_back(item[0].text);
}

}  // namespace

std::string QuoteName(const std::string& name) {
  std::string out = "[";
  for (char c : name) {
    out += c;
    if (c == ']') out += ']';
  }
  out += ']';
  return out;
}

std::string ExpandMacros(const std::string& sql, const TStrings& macros) {
  if (macros.Count() == 0 || sql.find('&') == std::string::npos) return sql;
  std::string out;
  out.reserve(sql.size());
  size_t i = 0;
  while (i < sql.size()) {
    const size_t opaque_end = SkipOpaque(sql, i);
    if (opaque_end != i) {
      out.append(sql, i, opaque_end - i);
      i = opaque_end;
      continue;
    }
    if (sql[i] == '&' && i + 1 < sql.size() && IsNameChar(sql[i + 1])) {
      size_t j = i + 1;
      while (j < sql.size() && IsNameChar(sql[j])) ++j;
      const std::string name = LowerCase(sql.substr(i + 1, j - i - 1));
      int found = -1;
      for (int k = 0; k < macros.Count(); ++k) {
        if (LowerCase(macros.Names(k)) == name) {
          found = k;
          break;
        }
      }
      if (found >= 0) {
        out += macros.ValueFromIndex(found);
        i = j;
        continue;
      }
    }
    out += sql[i++];
  }
  return out;
}

bool SelectShape::NamesTableColumn(const std::string& column) const {
  const std::string wanted = LowerCase(column);
  for (const std::string& c : plain_columns)
    if (LowerCase(c) == wanted) return true;
  if (!star) return false;
  for (const std::string& c : expression_names)
    if (LowerCase(c) == wanted) return false;
  return true;
}

SelectShape AnalyzeSelect(const std::string& sql) {
  SelectShape shape;
  const std::vector<Token> toks = Tokenize(sql);

  size_t from = toks.size();
  for (size_t i = 0; i < toks.size(); ++i) {
    if (toks[i].depth == 0 && Is(toks[i], "from")) {
      from = i;
      break;
    }
  }
  if (from == toks.size()) return shape;
  std::vector<std::string> parts;
  size_t after = ReadDottedName(toks, from + 1, parts, shape.table);
  if (parts.empty()) return shape;

  // One statement, a select at the top: nothing before SELECT but filler.
  if (toks.empty() || !Is(toks[0], "select")) return shape;
  for (const Token& t : toks) {
    if (t.depth == 0 && (Is(t, "union") || Is(t, "except") || Is(t, "intersect") ||
                         Is(t, "join") || Is(t, "apply") || Is(t, "into"))) {
      return shape;
    }
  }
  for (size_t i = 0; i < toks.size(); ++i) {
    if (IsPunct(toks[i], ';') && toks[i].depth == 0) {
      for (size_t k = i + 1; k < toks.size(); ++k)
        if (!IsPunct(toks[k], ';')) return shape;  // a second statement
    }
  }

  // After the table: an alias, a table hint, then the end or a clause.
  size_t k = after;
  if (k < toks.size() && Is(toks[k], "as")) ++k;
  if (k < toks.size() && IsName(toks[k]) && !IsClauseWord(toks[k])) ++k;
  if (k < toks.size() && Is(toks[k], "with") && k + 1 < toks.size() && IsPunct(toks[k + 1], '(')) ++k;
  if (k < toks.size() && IsPunct(toks[k], '(')) {
    const int depth = toks[k].depth;
    ++k;
    while (k < toks.size() && !(IsPunct(toks[k], ')') && toks[k].depth == depth)) ++k;
    if (k < toks.size()) ++k;
  }
  if (k < toks.size() && !IsPunct(toks[k], ';')) {
    const Token& t = toks[k];
    if (!(Is(t, "where") || Is(t, "order") || Is(t, "group") || Is(t, "having") ||
          Is(t, "option") || Is(t, "for"))) {
      return shape;
    }
  }

  // The select list, item by item.
  size_t i = 1;
  while (i < from && (Is(toks[i], "distinct") || Is(toks[i], "all"))) ++i;
  if (i < from && Is(toks[i], "top")) {
    ++i;
    if (i < from && IsPunct(toks[i], '(')) {
      while (i < from && !(IsPunct(toks[i], ')') && toks[i].depth == 0)) ++i;
    }
    if (i < from) ++i;
    if (i < from && Is(toks[i], "percent")) ++i;
    if (i + 1 < from && Is(toks[i], "with") && Is(toks[i + 1], "ties")) i += 2;
  }
  std::vector<Token> item;
  for (; i <= from; ++i) {
    if (i == from || (toks[i].depth == 0 && IsPunct(toks[i], ','))) {
      ReadSelectItem(item, shape, shape.expression_names);
      item.clear();
      continue;
    }
    item.push_back(toks[i]);
  }
  shape.single_table = true;
  return shape;
}

}  // namespace tersify
