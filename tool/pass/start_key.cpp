#include "tool/pass/start_key.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "tool/pass/options.h"
#include "tool/pass/target.h"

namespace tersify {
namespace {

bool WholeNumber(const std::string& text, int64_t& out) {
  if (text.empty() || text.find_first_not_of("+-0123456789") != std::string::npos) return false;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno == ERANGE || end != text.c_str() + text.size()) return false;
  out = value;
  return true;
}

bool Number(const std::string& text, double& out) {
  // Decimal digits only: no blanks, hex, "inf" or "nan".
  if (text.empty() || text.find_first_not_of("+-.0123456789eE") != std::string::npos) return false;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(value)) return false;
  out = value;
  return true;
}

bool HexBytes(const std::string& text, std::string& out) {
  if (text.size() < 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X') || text.size() % 2 != 0)
    return false;
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  out.clear();
  for (size_t i = 2; i < text.size(); i += 2) {
    const int high = digit(text[i]);
    const int low = digit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
  }
  return true;
}

// Well-formed UTF-8: what a text key is sent as.
bool Utf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t more = 0;
    if (c >= 0xC2 && c <= 0xDF) more = 1;
    else if ((c & 0xF0) == 0xE0) more = 2;
    else if (c >= 0xF0 && c <= 0xF4) more = 3;
    else if (c >= 0x80) return false;
    if (i + more >= text.size()) return false;
    for (size_t k = 1; k <= more; ++k)
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
    i += more + 1;
  }
  return true;
}

[[noreturn]] void Refuse(const std::string& text, const providers::ColumnInfo& column, const char* wanted) {
  const std::string type = column.declared_type.empty() ? std::string() : " (" + column.declared_type + ")";
  throw EStartKeyError("Invalid value for /FROM=: '" + text + "' is not " + wanted + ", which the key field " +
                       column.name + type + " holds");
}

}  // namespace

Variant StartKeyFrom(const std::string& text, const providers::ColumnInfo& key_column) {
  int64_t whole = 0;
  double number = 0;
  std::string bytes;
  switch (key_column.type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
    case ftBoolean:
      if (!WholeNumber(text, whole)) Refuse(text, key_column, "a whole number");
      return Variant(static_cast<long long>(whole));
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd:
      if (!Number(text, number)) Refuse(text, key_column, "a number");
      return Variant(number);
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftTypedBinary:
      if (!HexBytes(text, bytes)) Refuse(text, key_column, "0x and an even number of hex digits");
      return Variant(TBytes{std::move(bytes)});
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftTimeStamp:
      try {
        return Variant(StrToDateTime(text));
      } catch (const std::exception&) {
        Refuse(text, key_column, "a date and time (YYYY-MM-DD HH:MM:SS)");
      }
    case ftUnknown:
      // SQLite without a declared type: a value that reads as a number is
      // stored as one, and compared as one.
      if (WholeNumber(text, whole)) return Variant(static_cast<long long>(whole));
      if (Number(text, number)) return Variant(number);
      [[fallthrough]];
    default:
      if (!Utf8(text)) Refuse(text, key_column, "UTF-8 text");
      return Variant(text);
  }
}

Variant StartKeyOf(const TPassTarget& target, const TRecompressOptions& options) {
  if (!options.from_key) return Variant();
  return StartKeyFrom(*options.from_key, target.key_column);
}

}  // namespace tersify
