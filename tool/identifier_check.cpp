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
          if (i + 1 < n && name[i + 1] == ']') {
            i += 2;
            continue;
          }
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

}  // namespace tersify
