#include "tests/support/tds_server/server_sql.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

#include "tests/support/tds_server/sql_parameters.h"

namespace tersify::testing::tds {
namespace {

struct Token {
  enum Kind { Blank, Comment, Text, Name, Quoted, Number, Variable, Symbol } kind;
  size_t at, size;
};

bool NameStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '#' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool NameChar(char c) {
  return NameStart(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '$' || c == '@';
}

std::vector<Token> Tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  for (size_t i = 0; i < sql.size();) {
    const char c = sql[i];
    size_t end = i + 1;
    Token::Kind kind = Token::Symbol;
    if (std::isspace(static_cast<unsigned char>(c))) {
      kind = Token::Blank;
      while (end < sql.size() && std::isspace(static_cast<unsigned char>(sql[end]))) ++end;
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      kind = Token::Comment;
      end = sql.find('\n', i);
      end = end == std::string_view::npos ? sql.size() : end;
    } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      kind = Token::Comment;
      end = sql.find("*/", i + 2);
      end = end == std::string_view::npos ? sql.size() : end + 2;
    } else if (c == '\'') {
      kind = Token::Text;
      end = SkipQuoted(sql, i, '\'');
    } else if ((c == 'N' || c == 'n') && i + 1 < sql.size() && sql[i + 1] == '\'') {
      kind = Token::Text;
      end = SkipQuoted(sql, i + 1, '\'');
    } else if (c == '[') {
      kind = Token::Quoted;
      end = SkipQuoted(sql, i, ']');
    } else if (c == '"') {
      kind = Token::Quoted;
      end = SkipQuoted(sql, i, '"');
    } else if (c == '@') {
      kind = Token::Variable;
      while (end < sql.size() && (NameChar(sql[end]) || sql[end] == '@')) ++end;
    } else if (NameStart(c)) {
      kind = Token::Name;
      while (end < sql.size() && NameChar(sql[end])) ++end;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      kind = Token::Number;
      while (end < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[end])) || sql[end] == '.'))
        ++end;
    }
    tokens.push_back({kind, i, end - i});
    i = end;
  }
  return tokens;
}

// The tokens that mean something, with their text.
class Statement {
 public:
  explicit Statement(std::string_view sql) : sql_(sql) {
    for (const Token& token : Tokenize(sql))
      if (token.kind != Token::Blank && token.kind != Token::Comment) tokens_.push_back(token);
  }
  size_t Size() const { return tokens_.size(); }
  const Token& At(size_t i) const { return tokens_[i]; }
  std::string_view Text(size_t i) const { return sql_.substr(tokens_[i].at, tokens_[i].size); }
  bool Is(size_t i, const char* word) const {
    if (i >= tokens_.size()) return false;
    std::string_view text = Text(i);
    return text.size() == std::char_traits<char>::length(word) &&
           strncasecmp(text.data(), word, text.size()) == 0 &&
           (tokens_[i].kind == Token::Name || tokens_[i].kind == Token::Symbol ||
            tokens_[i].kind == Token::Variable);
  }
  bool IsNamePart(size_t i) const {
    return i < tokens_.size() && (tokens_[i].kind == Token::Name || tokens_[i].kind == Token::Quoted);
  }
  // A name part without its quotes.
  std::string Bare(size_t i) const {
    std::string_view text = Text(i);
    if (tokens_[i].kind == Token::Quoted) text = text.substr(1, text.size() >= 2 ? text.size() - 2 : 0);
    return std::string(text);
  }
  // True when token i ends right where token j begins.
  bool Adjacent(size_t i, size_t j) const {
    return j < tokens_.size() && tokens_[i].at + tokens_[i].size == tokens_[j].at;
  }
  size_t Begin(size_t i) const { return i < tokens_.size() ? tokens_[i].at : sql_.size(); }
  size_t End(size_t i) const { return tokens_[i].at + tokens_[i].size; }
  // The index of the ')' matching the '(' at i, or Size().
  size_t Closing(size_t i) const {
    int depth = 0;
    for (size_t k = i; k < tokens_.size(); ++k) {
      if (Is(k, "(")) ++depth;
      else if (Is(k, ")") && --depth == 0) return k;
    }
    return tokens_.size();
  }

 private:
  std::string_view sql_;
  std::vector<Token> tokens_;
};

// Replacements of byte ranges of one text, applied together.
class Edits {
 public:
  void Replace(size_t at, size_t size, std::string text) { edits_.push_back({at, size, std::move(text)}); }
  void Insert(size_t at, std::string text) { Replace(at, 0, std::move(text)); }
  bool Empty() const { return edits_.empty(); }
  std::string Apply(const std::string& sql) {
    std::stable_sort(edits_.begin(), edits_.end(),
                     [](const Edit& a, const Edit& b) { return a.at < b.at; });
    std::string out;
    size_t from = 0;
    for (const Edit& edit : edits_) {
      if (edit.at < from) continue;  // overlaps an earlier edit: the first one wins
      out.append(sql, from, edit.at - from);
      out += edit.text;
      from = edit.at + edit.size;
    }
    out.append(sql, from, std::string::npos);
    return out;
  }

 private:
  struct Edit {
    size_t at, size;
    std::string text;
  };
  std::vector<Edit> edits_;
};

std::string QuoteName(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// One column definition of a CREATE TABLE, tokens [first, last).
void DeclareColumn(const Statement& s, size_t first, size_t last, const DatabaseCollation& collation,
                   bool unpadded, Edits& edits) {
  if (first + 1 >= last || !s.IsNamePart(first)) return;
  for (const char* constraint : {"constraint", "primary", "unique", "check", "foreign"})
    if (s.Is(first, constraint)) return;
  size_t type = first + 1;
  if (s.Is(type, "national")) ++type;
  if (type >= last || s.At(type).kind != Token::Name) return;
  const std::string name = Lower(s.Bare(type));
  const bool wide = name == "nchar" || name == "nvarchar" || s.Is(first + 1, "national");
  const bool text = wide || name == "char" || name == "varchar" || name == "character";
  const bool binary = name == "binary" || name == "varbinary";
  const bool datetime = name == "datetime" || name == "datetime2";
  if (!text && !binary && !datetime) return;
  size_t type_end = type;
  if (s.Is(type + 1, "varying")) ++type_end;
  std::string size;
  if (s.Is(type_end + 1, "(")) {
    const size_t close = s.Closing(type_end + 1);
    if (close >= last) return;
    if (close == type_end + 3) size = Lower(std::string(s.Text(type_end + 2)));
    type_end = close;
  }
  std::string added;
  const std::string column = s.Bare(first);
  // A column declared here before (a table taken over at an earlier login)
  // keeps what it has: declaring it again would change the file for nothing.
  bool has_collation = false;
  bool has_size_check = false;
  bool has_unpadded_mark = false;
  for (size_t k = type_end + 1; k < last; ++k) {
    has_collation |= s.Is(k, "collate");
    has_size_check |= s.Is(k, "constraint") && k + 1 < last && s.Bare(k + 1) == "tds_size_" + column;
    has_unpadded_mark |= s.Is(k, "constraint") && k + 1 < last && s.Bare(k + 1) == kUnpaddedMark + column;
  }
  if (text && !has_collation) added += " COLLATE " + collation.ColumnCollation(wide);
  if (datetime && !has_collation)
    added += std::string(" COLLATE ") + (name == "datetime" ? kDateTimeCollation : kDateTime2Collation);
  if (!datetime && !has_size_check && !size.empty() && size != "max" && std::all_of(size.begin(), size.end(), ::isdigit)) {
    added += " CONSTRAINT " + QuoteName("tds_size_" + column) + " CHECK (length(" +
             QuoteName(column) + ") <= " + size + ")";
  }
  // A varbinary column created with ANSI_PADDING OFF keeps that for good;
  // the mark is what sys.columns.is_ansi_padded reads.
  if (unpadded && name == "varbinary" && !has_unpadded_mark)
    added += " CONSTRAINT " + QuoteName(kUnpaddedMark + column) + " CHECK (1)";
  if (!added.empty()) edits.Insert(s.End(type_end), added);
}

void DeclareColumns(const Statement& s, const DatabaseCollation& collation, bool unpadded, Edits& edits) {
  for (size_t i = 0; i < s.Size(); ++i) {
    if (!s.Is(i, "create")) continue;
    size_t k = i + 1;
    if (s.Is(k, "temp") || s.Is(k, "temporary")) ++k;
    if (!s.Is(k, "table")) continue;
    ++k;
    if (s.Is(k, "if") && s.Is(k + 1, "not") && s.Is(k + 2, "exists")) k += 3;
    while (s.IsNamePart(k) || s.Is(k, ".")) ++k;
    if (!s.Is(k, "(")) continue;
    const size_t close = s.Closing(k);
    size_t item = k + 1;
    for (size_t t = k + 1; t <= close && t < s.Size(); ++t) {
      if (s.Is(t, "(")) {
        t = s.Closing(t);
        continue;
      }
      if (t == close || s.Is(t, ",")) {
        DeclareColumn(s, item, t, collation, unpadded, edits);
        item = t + 1;
      }
    }
    i = close;
  }
}

bool Named(const std::string& part, const std::string& wanted) {
  return strcasecmp(part.c_str(), wanted.c_str()) == 0;
}

// dbo.t, [dbo].[t], db.dbo.t and db..t -> t; functions keep their schema.
void ResolveNames(const Statement& s, const std::string& database, Edits& edits) {
  for (size_t i = 0; i < s.Size(); ++i) {
    if (!s.IsNamePart(i)) continue;
    if (i > 0 && s.Is(i - 1, ".") && s.Adjacent(i - 1, i)) continue;  // inside a chain
    // The chain's parts: a part, then '.' and a part, adjacent; an empty part between two dots.
    std::vector<size_t> parts = {i};
    std::vector<bool> empty = {false};
    size_t k = i;
    while (s.Is(k + 1, ".") && s.Adjacent(k, k + 1)) {
      if (s.Is(k + 2, ".") && s.Adjacent(k + 1, k + 2)) {
        parts.push_back(k + 1);
        empty.push_back(true);
        k += 1;
        continue;
      }
      if (!s.IsNamePart(k + 2) || !s.Adjacent(k + 1, k + 2)) break;
      parts.push_back(k + 2);
      empty.push_back(false);
      k += 2;
    }
    const bool function = s.Is(k + 1, "(");
    // sys.<view>: the session's own view of the catalogue (catalog_views.h),
    // by the view's name without the quotes the client may have put round it.
    if (parts.size() == 2 && !function && !empty[1] && Named(s.Bare(parts[0]), "sys")) {
      edits.Replace(s.Begin(i), s.End(parts[1]) - s.Begin(i), QuoteName("tds_sys_" + s.Bare(parts[1])));
      i = k;
      continue;
    }
    size_t drop = 0;
    if (parts.size() >= 3 && Named(s.Bare(parts[0]), database) &&
        (empty[1] || Named(s.Bare(parts[1]), "dbo")))
      drop = 2;
    else if (parts.size() >= 2 && Named(s.Bare(parts[0]), "dbo"))
      drop = 1;
    if (drop > 0 && !(function && parts.size() - drop == 1)) {
      const size_t keep = parts[drop];
      edits.Replace(s.Begin(i), s.Begin(keep) - s.Begin(i), "");
    }
    i = k;
  }
}

std::string Literal(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

std::string Property(const std::string& name, const ProductVersion& version) {
  if (Named(name, "ProductVersion")) return Literal(version.Text());
  if (Named(name, "ProductMajorVersion")) return Literal(std::to_string(version.major));
  if (Named(name, "ProductMinorVersion")) return Literal(std::to_string(version.minor));
  if (Named(name, "ProductLevel")) return Literal("RTM");
  if (Named(name, "Edition")) return Literal("Developer Edition (64-bit)");
  if (Named(name, "EngineEdition")) return "3";
  return "NULL";
}

void ServerValues(const Statement& s, const SqlRules& rules, Edits& edits) {
  const ProductVersion& version = rules.version;
  const bool exec = s.Is(0, "exec") || s.Is(0, "execute");
  for (size_t i = 0; i < s.Size(); ++i) {
    if (s.At(i).kind == Token::Text && s.Text(i).front() != '\'' && !exec) {
      // N'...' is Unicode text: it compares under the Unicode collation, also
      // with a varchar column (which SQL Server converts to compare).
      edits.Replace(s.Begin(i), s.At(i).size,
                    "(" + std::string(s.Text(i).substr(1)) + " COLLATE " +
                        rules.collation.ColumnCollation(true) + ")");
    } else if (s.Is(i, "count_big") && s.Is(i + 1, "(")) {
      edits.Replace(s.Begin(i), s.At(i).size, "count");  // SQLite's count is 64-bit already
    } else if (s.At(i).kind == Token::Variable && s.Is(i, "@@rowcount")) {
      edits.Replace(s.Begin(i), s.At(i).size, "changes()");
    } else if (s.At(i).kind == Token::Variable && s.Is(i, "@@version")) {
      edits.Replace(s.Begin(i), s.At(i).size, Literal(version.Banner()));
    } else if (s.Is(i, "serverproperty") && s.Is(i + 1, "(") && i + 3 < s.Size() &&
               s.At(i + 2).kind == Token::Text && s.Is(i + 3, ")")) {
      std::string_view text = s.Text(i + 2);
      if (text.front() != '\'') text.remove_prefix(1);
      const std::string name(text.substr(1, text.size() - 2));
      edits.Replace(s.Begin(i), s.End(i + 3) - s.Begin(i), Property(name, version));
      i += 3;
    }
  }
}

// Before 2016 a server compares varbinary values as if the shorter were
// padded with 0x00 bytes: CAST(x AS varbinary(max)) = y compares both sides
// without their trailing 0x00 bytes (y a parameter, a variable or a literal).
void OldBinaryComparisons(const Statement& s, Edits& edits) {
  for (size_t i = 0; i + 1 < s.Size(); ++i) {
    if (!s.Is(i, "cast") || !s.Is(i + 1, "(")) continue;
    const size_t close = s.Closing(i + 1);
    if (close >= s.Size() || close < i + 7) continue;
    const bool to_varbinary_max = s.Is(close - 5, "as") && s.Is(close - 4, "varbinary") &&
                                  s.Is(close - 3, "(") && s.Is(close - 2, "max") && s.Is(close - 1, ")");
    if (!to_varbinary_max || !s.Is(close + 1, "=") || close + 2 >= s.Size()) continue;
    const Token::Kind operand = s.At(close + 2).kind;
    if (operand != Token::Variable && operand != Token::Number && !s.Is(close + 2, "?")) continue;
    edits.Insert(s.Begin(i), "tds_zero_trimmed(");
    edits.Insert(s.End(close), ")");
    edits.Insert(s.Begin(close + 2), "tds_zero_trimmed(");
    edits.Insert(s.End(close + 2), ")");
    i = close + 2;
  }
}

// CONVERT(type, expression) -> CAST(expression AS type); one at a time, outermost first.
bool ConvertOne(const std::string& sql, std::string& out) {
  Statement s(sql);
  for (size_t i = 0; i + 1 < s.Size(); ++i) {
    if (!s.Is(i, "convert") || !s.Is(i + 1, "(")) continue;
    const size_t close = s.Closing(i + 1);
    if (close >= s.Size()) return false;
    size_t comma = 0, commas = 0;
    for (size_t k = i + 2; k < close; ++k) {
      if (s.Is(k, "(")) k = s.Closing(k);
      else if (s.Is(k, ",")) ++commas, comma = comma ? comma : k;
    }
    if (commas != 1 || comma == i + 2) continue;  // a style argument: left alone
    const std::string type = sql.substr(s.Begin(i + 2), s.End(comma - 1) - s.Begin(i + 2));
    const std::string expression = sql.substr(s.Begin(comma + 1), s.End(close - 1) - s.Begin(comma + 1));
    out = sql.substr(0, s.Begin(i)) + "CAST(" + expression + " AS " + type + ")" + sql.substr(s.End(close));
    return true;
  }
  return false;
}

}  // namespace

std::string DeclareColumnRules(const std::string& sql, const DatabaseCollation& collation) {
  Statement s(sql);
  Edits edits;
  DeclareColumns(s, collation, false, edits);
  return edits.Empty() ? sql : edits.Apply(sql);
}

std::string ServerSql(const std::string& sql, const SqlRules& rules) {
  std::string out;
  {
    Statement s(sql);
    Edits edits;
    DeclareColumns(s, rules.collation, !rules.ansi_padding, edits);
    ResolveNames(s, rules.database, edits);
    ServerValues(s, rules, edits);
    if (rules.version.major < 13) OldBinaryComparisons(s, edits);
    out = edits.Empty() ? sql : edits.Apply(sql);
  }
  std::string converted;
  for (int round = 0; round < 16 && ConvertOne(out, converted); ++round) out.swap(converted);
  return out;
}

namespace {

bool OnOff(const Statement& s, size_t i, bool& value) {
  if (s.Is(i, "on")) value = true;
  else if (s.Is(i, "off")) value = false;
  else return false;
  return true;
}

// The end (one past) of a SET statement of a session option at i, or i when none starts there.
size_t SetStatementEnd(const Statement& s, size_t i, SessionOptions& options) {
  if (!s.Is(i, "set") || i + 2 >= s.Size() + 1) return i;
  bool flag = false;
  if (s.Is(i + 1, "transaction") && s.Is(i + 2, "isolation") && s.Is(i + 3, "level")) {
    size_t k = i + 4;
    if (s.Is(k, "read") && (s.Is(k + 1, "uncommitted") || s.Is(k + 1, "committed"))) return k + 2;
    if (s.Is(k, "repeatable") && s.Is(k + 1, "read")) return k + 2;
    if (s.Is(k, "serializable") || s.Is(k, "snapshot")) return k + 1;
    return i;
  }
  for (const char* option : {"nocount", "xact_abort", "ansi_nulls", "ansi_null_dflt_on", "ansi_padding",
                             "ansi_warnings", "ansi_defaults", "quoted_identifier", "concat_null_yields_null",
                             "arithabort", "arithignore", "numeric_roundabort", "implicit_transactions",
                             "cursor_close_on_commit", "fmtonly", "nocount"}) {
    if (!s.Is(i + 1, option) || !OnOff(s, i + 2, flag)) continue;
    if (s.Is(i + 1, "nocount")) options.nocount = flag;
    if (s.Is(i + 1, "ansi_padding")) options.ansi_padding = flag;
    return i + 3;
  }
  for (const char* option : {"lock_timeout", "textsize", "rowcount", "datefirst", "deadlock_priority",
                             "query_governor_cost_limit", "language", "dateformat"}) {
    if (!s.Is(i + 1, option)) continue;
    size_t k = i + 2;
    const bool negative = s.Is(k, "-");
    if (negative) ++k;
    if (k >= s.Size()) return i;
    if (s.At(k).kind == Token::Number) {
      if (s.Is(i + 1, "lock_timeout")) {
        const int value = std::stoi(std::string(s.Text(k)));
        options.lock_timeout_ms = negative ? -value : value;
      }
      if (s.Is(i + 1, "textsize") && !negative) options.textsize = std::stoll(std::string(s.Text(k)));
      return k + 1;
    }
    if (!negative && (s.At(k).kind == Token::Name || s.At(k).kind == Token::Quoted)) return k + 1;
    return i;
  }
  return i;
}

}  // namespace

std::string TakeSetStatements(const std::string& sql, SessionOptions& options) {
  Statement s(sql);
  Edits edits;
  bool other = false;
  for (size_t i = 0; i < s.Size(); ++i) {
    const size_t end = SetStatementEnd(s, i, options);
    if (end == i) {
      other |= !s.Is(i, ";");
      continue;
    }
    edits.Replace(s.Begin(i), s.End(end - 1) - s.Begin(i), " ");
    if (s.Is(end, ";")) edits.Replace(s.Begin(end), 1, " ");
    i = end - 1;
  }
  if (!other || edits.Empty()) return sql;
  return edits.Apply(sql);
}

std::string TransactionStatements(const std::string& sql, std::vector<std::string>& savepoints) {
  Statement s(sql);
  Edits edits;
  auto is_savepoint = [&](const std::string& name) {
    return std::any_of(savepoints.begin(), savepoints.end(),
                       [&](const std::string& saved) { return Named(saved, name); });
  };
  for (size_t i = 0; i < s.Size(); ++i) {
    const bool begin = s.Is(i, "begin"), commit = s.Is(i, "commit"), rollback = s.Is(i, "rollback"),
               save = s.Is(i, "save");
    if (!begin && !commit && !rollback && !save) continue;
    size_t k = i + 1;
    const bool tran = s.Is(k, "tran") || s.Is(k, "transaction");
    // A bare COMMIT or ROLLBACK is SQLite's too; BEGIN alone opens a block.
    if (!tran && !((commit || rollback) && s.Is(k, "work"))) continue;
    ++k;
    std::string name;
    if (tran && k < s.Size() && (s.At(k).kind == Token::Name || s.At(k).kind == Token::Quoted) &&
        !s.Is(k, "select") && !s.Is(k, "update") && !s.Is(k, "insert") && !s.Is(k, "delete") &&
        !s.Is(k, "set") && !s.Is(k, "exec") && !s.Is(k, "if") && !s.Is(k, "commit") &&
        !s.Is(k, "rollback") && !s.Is(k, "begin") && !s.Is(k, "save")) {
      name = s.Bare(k);
      ++k;
    }
    std::string replacement;
    if (begin) replacement = "BEGIN TRANSACTION";
    else if (commit) replacement = "COMMIT";
    else if (save) {
      if (name.empty()) continue;
      savepoints.push_back(name);
      replacement = "SAVEPOINT " + QuoteName(name);
    } else if (!name.empty() && is_savepoint(name)) {
      replacement = "ROLLBACK TO " + QuoteName(name);
    } else {
      replacement = "ROLLBACK";
    }
    if (!save && !(rollback && !name.empty() && is_savepoint(name))) savepoints.clear();
    edits.Replace(s.Begin(i), s.End(k - 1) - s.Begin(i), replacement);
    i = k - 1;
  }
  return edits.Empty() ? sql : edits.Apply(sql);
}

bool IsSingleStatement(const std::string& sql) {
  Statement s(sql);
  for (size_t i = 0; i + 1 < s.Size(); ++i)
    if (s.Is(i, ";") && !s.Is(i + 1, ";")) return false;
  return true;
}

bool IsExec(const std::string& sql) {
  Statement s(sql);
  return s.Is(0, "exec") || s.Is(0, "execute");
}

}  // namespace tersify::testing::tds
