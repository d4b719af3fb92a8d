#include "tests/support/tds_server/collation.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "tests/support/tds_server/date_text.h"

namespace tersify::testing::tds {
namespace {

struct ColumnRule {
  const char* name;
  CollationStrength strength;
  bool word_sort;
};

constexpr ColumnRule kRules[] = {
    {"SQL_Latin1_General_CP1_CI_AS", CollationStrength::CaseInsensitive, false},
    {"SQL_Latin1_General_CP1_CS_AS", CollationStrength::CaseSensitive, false},
    {"Latin1_General_CI_AS", CollationStrength::CaseInsensitive, true},
    {"Latin1_General_CS_AS", CollationStrength::CaseSensitive, true},
    {"Latin1_General_BIN2", CollationStrength::Binary, false},
};

const ColumnRule* FindRule(std::string_view name) {
  for (const ColumnRule& rule : kRules) {
    if (name.size() != std::char_traits<char>::length(rule.name)) continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i)
      same = std::tolower(static_cast<unsigned char>(name[i])) ==
             std::tolower(static_cast<unsigned char>(rule.name[i]));
    if (same) return &rule;
  }
  return nullptr;
}

// Base letters of U+0100..U+017F (Latin Extended-A), upper case for capitals.
constexpr char kLatinExtendedA[] =
    "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIiIiJjKkkLlLlLlLlLlNnNnNnnNnOoOoOoOo"
    "RrRrRrSsSsSsSsTtTtTtUuUuUuUuUuUuWwYyYZzZzZzs";
static_assert(sizeof kLatinExtendedA - 1 == 0x80);

// Base letters of U+00C0..U+00FF; '*' marks a character that is no Latin letter with a base.
constexpr char kLatin1[] = "AAAAAAACEEEEIIIIDNOOOOO*OUUUUY**aaaaaaaceeeeiiiidnooooo*ouuuuy*y";
static_assert(sizeof kLatin1 - 1 == 0x40);

struct Letter {
  uint32_t primary;  // what the first level compares
  uint32_t accent;   // the letter with its accent, case folded
  bool upper;
};

Letter Weigh(uint32_t c) {
  auto letter = [](char base, uint32_t folded, bool upper) {
    uint32_t lower = static_cast<uint32_t>(std::tolower(static_cast<unsigned char>(base)));
    return Letter{0x10000 + lower, folded, upper};
  };
  if (c < 0x80) {
    if (c >= 'A' && c <= 'Z') return letter(static_cast<char>(c), c + 0x20, true);
    if (c >= 'a' && c <= 'z') return letter(static_cast<char>(c), c, false);
    if (c >= '0' && c <= '9') return {0x8000 + c, 0, false};
    return {c, 0, false};  // blanks and punctuation come before digits and letters
  }
  if (c >= 0xC0 && c <= 0xFF && kLatin1[c - 0xC0] != '*') {
    const char base = kLatin1[c - 0xC0];
    const bool upper = c < 0xE0;
    return letter(base, upper ? c + 0x20 : c, upper);
  }
  if (c >= 0x100 && c <= 0x17F) {
    const char base = kLatinExtendedA[c - 0x100];
    const bool upper = std::isupper(static_cast<unsigned char>(base)) != 0;
    const uint32_t folded = !upper ? c : c == 0x178 ? 0xFF : c + 1;
    return letter(base, folded, upper);
  }
  uint32_t folded = c;
  bool upper = false;
  if ((c >= 0x391 && c <= 0x3A9) || (c >= 0x410 && c <= 0x42F)) folded = c + 0x20, upper = true;
  else if (c >= 0x400 && c <= 0x40F) folded = c + 0x50, upper = true;
  else if (c == 0x178) folded = 0xFF, upper = true;
  return {0x20000 + folded, folded, upper};
}

std::vector<uint32_t> CodePoints(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;  // trailing blanks never count
  std::vector<uint32_t> out;
  out.reserve(end);
  for (size_t i = 0; i < end;) {
    const auto b = static_cast<unsigned char>(text[i]);
    int extra = b < 0x80 ? 0 : (b >> 5) == 0x6 ? 1 : (b >> 4) == 0xE ? 2 : (b >> 3) == 0x1E ? 3 : -1;
    if (extra < 0 || i + static_cast<size_t>(extra) >= end) {
      out.push_back(0xDC00 + b);  // a stray byte keeps its own place
      ++i;
      continue;
    }
    uint32_t c = extra == 0 ? b : b & (0x3F >> extra);
    bool valid = true;
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
      valid &= (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (!valid) {
      out.push_back(0xDC00 + b);
      ++i;
      continue;
    }
    out.push_back(c);
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

struct Levels {
  std::vector<uint32_t> primary, accent, casing, ignorable;
};

Levels Weights(std::string_view text, const ColumnRule& rule) {
  Levels levels;
  std::vector<uint32_t> points = CodePoints(text);
  for (size_t i = 0; i < points.size(); ++i) {
    const uint32_t c = points[i];
    if (rule.word_sort && (c == '-' || c == '\'')) {
      levels.ignorable.push_back(static_cast<uint32_t>(i << 8) | c);
      continue;
    }
    const Letter w = Weigh(c);
    levels.primary.push_back(w.primary);
    levels.accent.push_back(w.accent);
    levels.casing.push_back(w.upper ? 1 : 0);
  }
  return levels;
}

int Compare(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

int CompareWith(const ColumnRule& rule, std::string_view a, std::string_view b) {
  if (rule.strength == CollationStrength::Binary) return Compare(CodePoints(a), CodePoints(b));
  const Levels x = Weights(a, rule), y = Weights(b, rule);
  if (int r = Compare(x.primary, y.primary)) return r;
  if (int r = Compare(x.accent, y.accent)) return r;
  if (rule.strength == CollationStrength::CaseSensitive)
    if (int r = Compare(x.casing, y.casing)) return r;
  return Compare(x.ignorable, y.ignorable);
}

int SqliteCompare(void* rule, int n1, const void* s1, int n2, const void* s2) {
  return CompareWith(*static_cast<const ColumnRule*>(rule),
                     std::string_view(static_cast<const char*>(s1), static_cast<size_t>(n1)),
                     std::string_view(static_cast<const char*>(s2), static_cast<size_t>(n2)));
}

// Date-times as SQL Server compares them (see date_text.h); text that is no
// date-time compares by its bytes.
template <bool kAsDatetime>
int SqliteCompareDateTimes(void*, int n1, const void* s1, int n2, const void* s2) {
  const std::string_view a(static_cast<const char*>(s1), static_cast<size_t>(n1));
  const std::string_view b(static_cast<const char*>(s2), static_cast<size_t>(n2));
  if (const std::optional<int> order = CompareDateTimeTexts(a, b, kAsDatetime)) return *order;
  return a.compare(b) < 0 ? -1 : a.compare(b) > 0 ? 1 : 0;
}

}  // namespace

DatabaseCollation DatabaseCollation::Parse(const std::string& name) {
  const ColumnRule* rule = FindRule(name);
  if (!rule) throw std::invalid_argument("unknown collation " + name);
  DatabaseCollation collation;
  collation.strength = rule->strength;
  collation.sql_collation = name.size() > 4 && (name[0] == 'S' || name[0] == 's');
  return collation;
}

std::string DatabaseCollation::Name() const {
  switch (strength) {
    case CollationStrength::Binary: return "Latin1_General_BIN2";
    case CollationStrength::CaseSensitive:
      return sql_collation ? "SQL_Latin1_General_CP1_CS_AS" : "Latin1_General_CS_AS";
    case CollationStrength::CaseInsensitive: break;
  }
  return sql_collation ? "SQL_Latin1_General_CP1_CI_AS" : "Latin1_General_CI_AS";
}

std::string DatabaseCollation::ColumnCollation(bool wide) const {
  if (strength == CollationStrength::Binary) return "Latin1_General_BIN2";
  // Unicode data sorts the Windows way under either kind of collation.
  const bool sql = sql_collation && !wide;
  if (strength == CollationStrength::CaseSensitive)
    return sql ? "SQL_Latin1_General_CP1_CS_AS" : "Latin1_General_CS_AS";
  return sql ? "SQL_Latin1_General_CP1_CI_AS" : "Latin1_General_CI_AS";
}

int CompareStrings(std::string_view collation, std::string_view a, std::string_view b) {
  const ColumnRule* rule = FindRule(collation);
  if (!rule) throw std::invalid_argument("unknown collation " + std::string(collation));
  return CompareWith(*rule, a, b);
}

void RegisterCollations(sqlite3* db) {
  for (const ColumnRule& rule : kRules) {
    void* arg = const_cast<ColumnRule*>(&rule);
    if (sqlite3_create_collation(db, rule.name, SQLITE_UTF8, arg, SqliteCompare) != SQLITE_OK)
      throw std::runtime_error(std::string("cannot register collation ") + rule.name + ": " +
                               sqlite3_errmsg(db));
  }
  if (sqlite3_create_collation(db, kDateTimeCollation, SQLITE_UTF8, nullptr,
                               SqliteCompareDateTimes<true>) != SQLITE_OK ||
      sqlite3_create_collation(db, kDateTime2Collation, SQLITE_UTF8, nullptr,
                               SqliteCompareDateTimes<false>) != SQLITE_OK)
    throw std::runtime_error(std::string("cannot register the date-time collations: ") +
                             sqlite3_errmsg(db));
}

}  // namespace tersify::testing::tds
