#include "framework/rtl/platform.h"

#include <atomic>

namespace tersify {
namespace {

std::atomic<char> decimal_override{'\0'};
std::atomic<char> thousand_override{'\0'};

}  // namespace

std::string UpperCase(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::string LowerCase(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

char DecimalSeparator() {
  if (const char forced = decimal_override.load()) return forced;
  const char user = platform_detail::UserDecimalSeparator();
  return user ? user : '.';
}

char ThousandSeparator() {
  if (const char forced = thousand_override.load()) return forced;
  // A locale without a plain one (C, or a non-ASCII space as in fr_FR) gets the
  // usual one that differs from its decimal separator.
  const char user = platform_detail::UserThousandSeparator();
  return user ? user : (DecimalSeparator() == ',' ? '.' : ',');
}

void SetNumericSeparatorsOverride(char decimal, char thousand) {
  decimal_override.store(decimal);
  thousand_override.store(thousand);
}

}  // namespace tersify
