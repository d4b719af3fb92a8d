#include "client/providers/sqlite/tsql_rewrites.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <optional>

#include "client/errors.h"

namespace tersify::providers {
namespace {

struct RewriteRule {
  const char* tsql;               // normalised: lower case, single blanks
  const char* sqlite;             // what runs instead
  const char* requires_function;  // the rule applies only when this function is registered
};

// First matching rule wins; see the header for the table's meaning.
constexpr RewriteRule kRewriteTable[] = {
    {"select @@spid", "select tersify_spid()", nullptr},
    {"select @@trancount", "select tersify_trancount()", nullptr},
    {"select @@rowcount", "select changes()", nullptr},
    {"if object_id('dbo.fqz_usergetcurrentuserid') is not null select "
     "dbo.fqz_usergetcurrentuserid() else select 0",
     "select fQZ_UserGetCurrentUserID()", "fQZ_UserGetCurrentUserID"},
    {"if object_id('dbo.fqz_usergetcurrentuserid') is not null select "
     "dbo.fqz_usergetcurrentuserid() else select 0",
     "select 0", nullptr},
    {"select convert(tinyint, parsename(cast(serverproperty('productversion') as varchar(30)), 4))",
     "select cast(parsename(sqlite_version(), 4) as integer)", nullptr},
};

// SET options of SQL Server sessions that have no meaning for SQLite; the
// statement is accepted and nothing is done.
constexpr const char* kIgnoredSetOptions[] = {
    "textsize",         "lock_timeout",        "transaction isolation level",
    "nocount",          "ansi_nulls",          "ansi_null_dflt_on",
    "ansi_padding",     "ansi_warnings",       "ansi_defaults",
    "quoted_identifier", "concat_null_yields_null", "arithabort",
    "arithignore",      "numeric_roundabort",  "implicit_transactions",
    "cursor_close_on_commit", "datefirst",     "dateformat",
    "language",         "deadlock_priority",   "xact_abort",
    "query_governor_cost_limit", "fmtonly",    "rowcount",
};

// Statements this long (blanks included) are never one of the fixed ones.
constexpr size_t kLongestFixedStatement = 1024;

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '$' || c == '#'; }

// True when text holds `word` (lower case) at `at`, in any letter case, not
// followed by another word character.
bool MatchesWordAt(std::string_view text, size_t at, std::string_view word) {
  if (at + word.size() > text.size()) return false;
  for (size_t k = 0; k < word.size(); ++k)
    if (Lower(text[at + k]) != word[k]) return false;
  return at + word.size() == text.size() || !IsWordChar(text[at + word.size()]);
}

// The position after a comment that starts at i ("-- ..." to the line end, or
// "/* ... */"); i itself when none starts there.
size_t SkipComment(std::string_view text, size_t i) {
  const size_t n = text.size();
  if (i + 1 >= n) return i;
  if (text[i] == '-' && text[i + 1] == '-') {
    const size_t end = text.find('\n', i);
    return end == std::string_view::npos ? n : end + 1;
  }
  if (text[i] == '/' && text[i + 1] == '*') {
    const size_t end = text.find("*/", i + 2);
    return end == std::string_view::npos ? n : end + 2;
  }
  return i;
}

// Past a quoted string, quoted name or bracketed name starting at `at`
// (doubled closing characters stay inside); `at` itself when none starts there.
size_t SkipQuoted(std::string_view text, size_t at) {
  const char open = text[at];
  char close;
  if (open == '\'' || open == '"') close = open;
  else if (open == '[') close = ']';
  else return at;
  size_t i = at + 1;
  while (i < text.size()) {
    if (text[i] == close) {
      if (i + 1 < text.size() && text[i + 1] == close) {
        i += 2;
        continue;
      }
      return i + 1;
    }
    ++i;
  }
  return text.size();
}

// The index of the ')' that closes the '(' at `open`, npos when none does.
size_t MatchingParenthesis(std::string_view text, size_t open) {
  int depth = 0;
  size_t i = open;
  while (i < text.size()) {
    const size_t skipped = SkipQuotedOrComment(text, i);
    if (skipped != i) {
      i = skipped;
      continue;
    }
    if (text[i] == '(') ++depth;
    if (text[i] == ')' && --depth == 0) return i;
    ++i;
  }
  return std::string_view::npos;
}

// For the inside of CAST( ... ): where its expression ends when the target is
// "varbinary(max)" (" AS varbinary ( max )" in any letter case and spacing),
// npos for any other target.
size_t VarbinaryMaxTarget(std::string_view inner) {
  size_t end = inner.size();
  auto back_blanks = [&] { while (end > 0 && IsBlank(inner[end - 1])) --end; };
  auto back_word = [&](std::string_view word) {
    if (end < word.size()) return false;
    for (size_t k = 0; k < word.size(); ++k)
      if (Lower(inner[end - word.size() + k]) != word[k]) return false;
    end -= word.size();
    return true;
  };
  back_blanks();
  if (!back_word(")")) return std::string_view::npos;
  back_blanks();
  if (!back_word("max")) return std::string_view::npos;
  back_blanks();
  if (!back_word("(")) return std::string_view::npos;
  back_blanks();
  if (!back_word("varbinary")) return std::string_view::npos;
  if (end == 0 || !IsBlank(inner[end - 1])) return std::string_view::npos;
  back_blanks();
  if (!back_word("as")) return std::string_view::npos;
  if (end == 0 || !IsBlank(inner[end - 1])) return std::string_view::npos;
  back_blanks();
  return end == 0 ? std::string_view::npos : end;
}

bool StartsWithWord(const std::string& text, std::string_view word) {
  if (!text.starts_with(word)) return false;
  if (text.size() == word.size()) return true;
  const char next = text[word.size()];
  return !(std::isalnum(static_cast<unsigned char>(next)) || next == '_');
}

// Reads the "exec" statement's parts from the raw text (quotes keep their case).
class ExecParser {
 public:
  explicit ExecParser(std::string_view text) : text_(text) {}

  TsqlRewrite Parse() {
    TsqlRewrite r;
    r.kind = TsqlRewrite::Kind::Procedure;
    SkipBlanks();
    ReadWord();  // exec / execute, checked by the caller
    SkipBlanks();
    r.procedure = UnqualifiedName(ReadName());
    if (r.procedure.empty()) Fail();
    SkipBlanks();
    if (AtEnd()) return r;
    while (true) {
      SkipBlanks();
      ProcArgument arg;
      if (Peek() == '@') {
        ++pos_;
        arg.name = ReadWord();
        SkipBlanks();
        if (Peek() != '=') Fail();
        ++pos_;
        SkipBlanks();
      }
      ReadValue(arg);
      r.arguments.push_back(std::move(arg));
      SkipBlanks();
      if (AtEnd()) break;
      if (Peek() != ',') Fail();
      ++pos_;
    }
    return r;
  }

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  void SkipBlanks() {
    while (!AtEnd() && IsBlank(text_[pos_])) ++pos_;
  }

  [[noreturn]] void Fail() const {
    std::string near(text_.substr(pos_ < text_.size() ? pos_ : text_.size(), 30));
    throw EMSError("Incorrect syntax near '" + near + "'.", "42000", 102);
  }

  std::string ReadWord() {
    const size_t start = pos_;
    while (!AtEnd() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) ||
                        text_[pos_] == '_' || text_[pos_] == '#' || text_[pos_] == '$'))
      ++pos_;
    return std::string(text_.substr(start, pos_ - start));
  }

  // name, [name], dbo.name, [dbo].[name]
  std::string ReadName() {
    const size_t start = pos_;
    while (!AtEnd()) {
      if (text_[pos_] == '[') {
        const size_t close = text_.find(']', pos_);
        if (close == std::string_view::npos) Fail();
        pos_ = close + 1;
      } else if (ReadWord().empty()) {
        Fail();
      }
      if (Peek() != '.') break;
      ++pos_;
    }
    return std::string(text_.substr(start, pos_ - start));
  }

  void ReadValue(ProcArgument& arg) {
    const char c = Peek();
    if (c == '?') {
      ++pos_;
      arg.is_parameter = true;
      return;
    }
    const bool national = (c == 'N' || c == 'n') && pos_ + 1 < text_.size() &&
                          text_[pos_ + 1] == '\'';
    if (c == '\'' || national) {
      if (c != '\'') ++pos_;
      arg.value = ReadQuoted();
      return;
    }
    if (c == '+' || c == '-' || c == '.' || std::isdigit(static_cast<unsigned char>(c))) {
      arg.value = ReadNumber();
      return;
    }
    const std::string word = ReadWord();
    std::string lower;
    for (char ch : word) lower += Lower(ch);
    if (lower != "null") Fail();
    arg.value = Variant::Null();
  }

  std::string ReadQuoted() {
    ++pos_;  // opening quote
    std::string value;
    while (true) {
      if (AtEnd()) Fail();
      const char c = text_[pos_++];
      if (c == '\'') {
        if (Peek() != '\'') return value;
        ++pos_;
      }
      value += c;
    }
  }

  Variant ReadNumber() {
    const size_t start = pos_;
    if (Peek() == '+' || Peek() == '-') ++pos_;
    bool fraction = false;
    while (!AtEnd()) {
      const char c = text_[pos_];
      if (std::isdigit(static_cast<unsigned char>(c))) {
        ++pos_;
      } else if (c == '.' || c == 'e' || c == 'E' ||
                 ((c == '+' || c == '-') && (text_[pos_ - 1] == 'e' || text_[pos_ - 1] == 'E'))) {
        fraction = true;
        ++pos_;
      } else {
        break;
      }
    }
    std::string literal(text_.substr(start, pos_ - start));
    if (!literal.empty() && literal[0] == '+') literal.erase(0, 1);
    if (!fraction) {
      int64_t n = 0;
      auto [ptr, ec] = std::from_chars(literal.data(), literal.data() + literal.size(), n);
      if (ec == std::errc() && ptr == literal.data() + literal.size()) return Variant(n);
    }
    double d = 0;
    auto [ptr, ec] = std::from_chars(literal.data(), literal.data() + literal.size(), d);
    if (ec != std::errc() || ptr != literal.data() + literal.size()) {
      pos_ = start;
      Fail();
    }
    return Variant(d);
  }

  std::string_view text_;
  size_t pos_ = 0;
};

// The layer's key-discovery query calls the table-valued function
// fQZ_GetPksFieldsAndProc('<table>'); SQLite has no such functions, so the
// call reads a table of that name instead, filtered by its acTableName column.
// Only the exact query with one quoted literal argument is taken; the literal
// is passed on as written.
bool RewriteKeyProcQuery(std::string_view statement, TsqlRewrite& r) {
  static constexpr std::string_view kFunction = "fqz_getpksfieldsandproc";
  std::string lowered(statement);
  for (char& c : lowered) c = Lower(c);
  const size_t name_at = lowered.find(kFunction);
  if (name_at == std::string::npos ||
      NormaliseStatement(statement.substr(0, name_at)) != "select acfieldname, acprocname from")
    return false;
  size_t i = name_at + kFunction.size();
  auto skip_blanks = [&] {
    while (i < statement.size() && IsBlank(statement[i])) ++i;
  };
  skip_blanks();
  if (i >= statement.size() || statement[i] != '(') return false;
  ++i;
  skip_blanks();
  if (i >= statement.size() || statement[i] != '\'') return false;
  const size_t literal_start = i++;
  while (true) {
    if (i >= statement.size()) return false;
    if (statement[i++] != '\'') continue;
    if (i < statement.size() && statement[i] == '\'') {
      ++i;  // a doubled quote inside the literal
      continue;
    }
    break;
  }
  const std::string_view literal = statement.substr(literal_start, i - literal_start);
  skip_blanks();
  if (i >= statement.size() || statement[i] != ')') return false;
  ++i;
  skip_blanks();
  if (i != statement.size()) return false;
  r.kind = TsqlRewrite::Kind::Replaced;
  r.sql = "select acFieldName, acProcName from fQZ_GetPksFieldsAndProc where acTableName = " +
          std::string(literal);
  return true;
}

}  // namespace

size_t SkipQuotedOrComment(std::string_view text, size_t at) {
  const size_t quoted = SkipQuoted(text, at);
  return quoted != at ? quoted : SkipComment(text, at);
}

std::string NormaliseStatement(std::string_view statement) {
  std::string out;
  out.reserve(statement.size());
  bool pending_blank = false;
  for (char c : statement) {
    if (IsBlank(c)) {
      pending_blank = !out.empty();
      continue;
    }
    if (pending_blank) out += ' ';
    pending_blank = false;
    out += Lower(c);
  }
  return out;
}

size_t StatementEnd(std::string_view text, size_t from) {
  size_t i = from;
  const size_t n = text.size();
  while (i < n) {
    const char c = text[i];
    if (c == ';') return i;
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : c;
      const size_t end = text.find(close, i + 1);
      // Doubled quotes inside a literal simply read as two adjacent literals here.
      i = end == std::string_view::npos ? n : end + 1;
    } else if (const size_t after = SkipComment(text, i); after != i) {
      i = after;
    } else {
      ++i;
    }
  }
  return n;
}

size_t SkipFiller(std::string_view text, size_t from) {
  size_t i = from;
  const size_t n = text.size();
  while (i < n) {
    if (IsBlank(text[i]) || text[i] == ';') {
      ++i;
    } else if (const size_t after = SkipComment(text, i); after != i) {
      i = after;
    } else {
      break;
    }
  }
  return i;
}

std::string UnqualifiedName(std::string_view name) {
  // The last part: after the last '.' that is outside brackets and quotes.
  size_t start = 0;
  char open = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (open) {
      if ((open == '[' && c == ']') || (open != '[' && c == open)) open = 0;
    } else if (c == '[' || c == '"' || c == '`') {
      open = c;
    } else if (c == '.') {
      start = i + 1;
    }
  }
  std::string_view part = name.substr(start);
  while (!part.empty() && IsBlank(part.front())) part.remove_prefix(1);
  while (!part.empty() && IsBlank(part.back())) part.remove_suffix(1);
  if (part.size() >= 2 && ((part.front() == '[' && part.back() == ']') ||
                           (part.front() == '"' && part.back() == '"') ||
                           (part.front() == '`' && part.back() == '`'))) {
    part = part.substr(1, part.size() - 2);
  }
  return std::string(part);
}

TsqlRewrite RewriteTsql(std::string_view statement,
                        const std::function<bool(const std::string&)>& has_function) {
  TsqlRewrite r;
  // Only short statements can be one of the fixed ones; a long insert with a
  // literal value is not normalised for nothing.
  const std::string head = NormaliseStatement(statement.substr(0, kLongestFixedStatement));
  if (StartsWithWord(head, "exec") || StartsWithWord(head, "execute"))
    return ExecParser(statement).Parse();
  if (StartsWithWord(head, "set")) {
    for (std::string_view option : kIgnoredSetOptions) {
      if (head.size() > 4 && StartsWithWord(head.substr(4), option)) {
        r.kind = TsqlRewrite::Kind::Ignored;
        return r;
      }
    }
    return r;
  }
  if (statement.size() < kLongestFixedStatement) {
    if (RewriteKeyProcQuery(statement, r)) return r;
    for (const RewriteRule& rule : kRewriteTable) {
      if (head != rule.tsql) continue;
      if (rule.requires_function && !has_function(rule.requires_function)) continue;
      r.kind = TsqlRewrite::Kind::Replaced;
      r.sql = rule.sqlite;
      return r;
    }
  }
  std::string text(statement);
  const bool cast_rewritten = RewriteVarbinaryCasts(text);
  const bool top_rewritten = RewriteSelectTop(text);
  if (cast_rewritten || top_rewritten) {
    r.kind = TsqlRewrite::Kind::Replaced;
    r.sql = std::move(text);
  }
  return r;
}

bool RewriteVarbinaryCasts(std::string& text) {
  bool changed = false;
  size_t i = 0;
  while (i < text.size()) {
    const size_t skipped = SkipQuoted(text, i);
    if (skipped != i) {
      i = skipped;
      continue;
    }
    const bool word_start = i == 0 || !IsWordChar(text[i - 1]);
    if (!word_start || !MatchesWordAt(text, i, "cast")) {
      ++i;
      continue;
    }
    size_t open = i + 4;
    while (open < text.size() && IsBlank(text[open])) ++open;
    if (open >= text.size() || text[open] != '(') {
      ++i;
      continue;
    }
    const size_t close = MatchingParenthesis(text, open);
    if (close == std::string::npos) break;
    const std::string_view inner(text.data() + open + 1, close - open - 1);
    const size_t expression_end = VarbinaryMaxTarget(inner);
    if (expression_end == std::string_view::npos) {
      i = open + 1;
      continue;
    }
    // SQLite's CAST to BLOB gives the bytes of text and blobs alike, as SQL
    // Server's CAST to varbinary(max) does.
    size_t expression_start = 0;
    while (IsBlank(inner[expression_start])) ++expression_start;
    const std::string replacement =
        "cast(" + std::string(inner.substr(expression_start, expression_end - expression_start)) + " as blob)";
    text.replace(i, close + 1 - i, replacement);
    changed = true;
    i += 1;  // casts inside the expression are rewritten too
  }
  return changed;
}

namespace {

// "select top (n) " or "select top n " at `at` (n an integer literal): n, and
// in `rest` where what follows the top begins. Nothing when the text does not
// read so there.
std::optional<std::string> SelectTopAt(std::string_view text, size_t at, size_t& rest) {
  size_t i = at;
  if (!MatchesWordAt(text, i, "select")) return std::nullopt;
  i += 6;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (!MatchesWordAt(text, i, "top")) return std::nullopt;
  i += 3;
  while (i < text.size() && IsBlank(text[i])) ++i;
  const bool parenthesised = i < text.size() && text[i] == '(';
  if (parenthesised) {
    ++i;
    while (i < text.size() && IsBlank(text[i])) ++i;
  }
  const size_t digits = i;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  if (i == digits) return std::nullopt;
  std::string count(text.substr(digits, i - digits));
  if (parenthesised) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i >= text.size() || text[i] != ')') return std::nullopt;
    ++i;
  } else if (i < text.size() && !IsBlank(text[i])) {
    return std::nullopt;
  }
  rest = i;
  return count;
}

// The select with a top from `at` to `end` (not included) as "select rest
// limit n"; false when there is none at `at`.
bool RewriteTopOf(std::string& text, size_t at, size_t end) {
  size_t rest = 0;
  const std::optional<std::string> count = SelectTopAt(text, at, rest);
  if (!count) return false;
  size_t rest_end = end;  // the blanks before `end` go
  while (rest_end > rest && IsBlank(text[rest_end - 1])) --rest_end;
  text.replace(at, end - at, "select" + text.substr(rest, rest_end - rest) + " limit " + *count);
  return true;
}

}  // namespace

bool RewriteSelectTop(std::string& text) {
  // The statement's own top; the blanks and comments before it go.
  const size_t start = SkipFiller(text, 0);
  bool changed = RewriteTopOf(text, start, text.size());
  if (changed) text.erase(0, start);
  // A derived table, "(select top (n) rest)", reads "(select rest limit n)".
  // Those inside one already rewritten are met further on.
  size_t i = 0;
  while (i < text.size()) {
    const size_t skipped = SkipQuotedOrComment(text, i);
    if (skipped != i) {
      i = skipped;
      continue;
    }
    if (text[i] == '(') {
      const size_t close = MatchingParenthesis(text, i);
      if (close == std::string::npos) break;
      size_t select = i + 1;
      while (select < close && IsBlank(text[select])) ++select;
      if (RewriteTopOf(text, select, close)) changed = true;
    }
    ++i;
  }
  return changed;
}

}  // namespace tersify::providers
