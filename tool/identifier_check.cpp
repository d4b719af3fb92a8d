#include "tool/identifier_check.h"

#include "framework/rtl/exception.h"

namespace tersify {
namespace {

bool IsNameChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c == '#' || c == '@' || c >= 0x80;
}

}  // namespace

bool IsSafeSqlName(const std::string& name) {
  size_t i = 0;
  const size_t n = name.size();
  if (n == 0) return false;
  while (true) {
    // One part: bracketed or plain, never empty.
    if (i < n && name[i] == '[') {
      ++i;
      bool closed = false;
      size_t start = i;
      while (i < n) {
        if (name[i] == ']') {
          // "]]" is an escaped bracket to T-SQL and the end of the name to SQLite.
          if (i + 1 < n && name[i + 1] == ']') return false;
          closed = true;
          break;
        }
        if (static_cast<unsigned char>(name[i]) < ' ') return false;
        ++i;
      }
      if (!closed || i == start) return false;
      ++i;  // past ']'
    } else {
      size_t start = i;
      // A leading digit makes a number, a leading '$', '#' or '@' a parameter to SQLite.
      if (i < n && ((name[i] >= '0' && name[i] <= '9') || name[i] == '$' || name[i] == '#' ||
                    name[i] == '@'))
        return false;
      while (i < n && IsNameChar(static_cast<unsigned char>(name[i]))) ++i;
      if (i == start) return false;
    }
    if (i == n) return true;
    if (name[i] != '.') return false;
    ++i;
    if (i == n) return false;  // a trailing dot leaves an empty part
  }
}

void CheckSqlName(const std::string& what, const std::string& name) {
  if (!IsSafeSqlName(name))
    throw Exception(Format("Invalid %s name: %s", what.c_str(), name.c_str()));
}

std::string BareSqlName(const std::string& name) {
  // The last part starts after the last dot outside brackets.
  size_t start = 0;
  bool in_brackets = false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '[') in_brackets = true;
    else if (name[i] == ']') in_brackets = false;
    else if (name[i] == '.' && !in_brackets) start = i + 1;
  }
  std::string part = name.substr(start);
  if (part.size() >= 2 && part.front() == '[' && part.back() == ']') part = part.substr(1, part.size() - 2);
  return part;
}

}  // namespace tersify
