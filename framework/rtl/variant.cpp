#include "framework/rtl/variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "framework/rtl/exception.h"

namespace tersify {
namespace {

const std::string kEmpty;

[[noreturn]] void CannotConvert(const Variant& v, const char* to) {
  throw EVariantError(Format("Could not convert variant of type (%s) into type (%s)",
                             v.TypeName().c_str(), to));
}

// A whole number or a decimal number, blanks around it allowed, a leading '+' too.
template <class T>
bool ParseNumber(const std::string& text, T& out) {
  size_t b = text.find_first_not_of(" \t");
  size_t e = text.find_last_not_of(" \t");
  if (b == std::string::npos) return false;
  const char* first = text.data() + b;
  const char* last = text.data() + e + 1;
  if (*first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, last, out);
  return ec == std::errc() && ptr == last;
}

bool ParseInt64(const std::string& text, int64_t& out) { return ParseNumber(text, out); }
bool ParseDouble(const std::string& text, double& out) { return ParseNumber(text, out); }

// Days from 0001-01-01 (proleptic Gregorian) to the given date, 1-based month/day.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;  // days since 1970-01-01
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

const int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);  // days 1970-01-01 -> 1899-12-30

}  // namespace

std::string Variant::TypeName() const {
  switch (Type()) {
    case TVarType::Null: return "Null";
    case TVarType::Boolean: return "Boolean";
    case TVarType::Integer: return "Int64";
    case TVarType::Float: return "Double";
    case TVarType::DateTime: return "Date";
    case TVarType::String: return "String";
    case TVarType::Bytes: return "Array Byte";
  }
  return "Unknown";
}

bool Variant::AsBoolean() const {
  switch (Type()) {
    case TVarType::Boolean: return std::get<bool>(value_);
    case TVarType::Integer: return std::get<int64_t>(value_) != 0;
    case TVarType::Float: return std::get<double>(value_) != 0;
    case TVarType::String: {
      const auto& s = std::get<std::string>(value_);
      if (s == "True" || s == "true" || s == "TRUE") return true;
      if (s == "False" || s == "false" || s == "FALSE") return false;
      int64_t n;
      if (ParseInt64(s, n)) return n != 0;
      break;
    }
    default: break;
  }
  CannotConvert(*this, "Boolean");
}

int64_t Variant::AsInt64() const {
  switch (Type()) {
    case TVarType::Boolean: return std::get<bool>(value_) ? -1 : 0;
    case TVarType::Integer: return std::get<int64_t>(value_);
    case TVarType::Float: {
      double d = std::get<double>(value_);
      if (std::isfinite(d) && std::fabs(d) < 9.2e18) return static_cast<int64_t>(std::llround(d));
      break;
    }
    case TVarType::DateTime: return static_cast<int64_t>(std::get<TDateTime>(value_).value);
    case TVarType::String: {
      int64_t n;
      if (ParseInt64(std::get<std::string>(value_), n)) return n;
      double d;
      if (ParseDouble(std::get<std::string>(value_), d) && std::isfinite(d) && std::fabs(d) < 9.2e18)
        return static_cast<int64_t>(std::llround(d));
      break;
    }
    default: break;
  }
  CannotConvert(*this, "Int64");
}

int32_t Variant::AsInteger() const {
  int64_t v = AsInt64();
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    CannotConvert(*this, "Integer");
  return static_cast<int32_t>(v);
}

double Variant::AsFloat() const {
  switch (Type()) {
    case TVarType::Boolean: return std::get<bool>(value_) ? -1 : 0;
    case TVarType::Integer: return static_cast<double>(std::get<int64_t>(value_));
    case TVarType::Float: return std::get<double>(value_);
    case TVarType::DateTime: return std::get<TDateTime>(value_).value;
    case TVarType::String: {
      double d;
      if (ParseDouble(std::get<std::string>(value_), d)) return d;
      break;
    }
    default: break;
  }
  CannotConvert(*this, "Double");
}

TDateTime Variant::AsDateTime() const {
  switch (Type()) {
    case TVarType::DateTime: return std::get<TDateTime>(value_);
    case TVarType::Integer:
    case TVarType::Float: return TDateTime{AsFloat()};
    case TVarType::String:
      try {
        return StrToDateTime(std::get<std::string>(value_));
      } catch (const EConvertError&) {
      }
      break;
    default: break;
  }
  CannotConvert(*this, "Date");
}

std::string Variant::AsString() const {
  switch (Type()) {
    case TVarType::Null: return {};
    case TVarType::Boolean: return std::get<bool>(value_) ? "True" : "False";
    case TVarType::Integer: return std::to_string(std::get<int64_t>(value_));
    case TVarType::Float: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15g", std::get<double>(value_));
      return buf;
    }
    case TVarType::DateTime: return DateTimeToStr(std::get<TDateTime>(value_));
    case TVarType::String: return std::get<std::string>(value_);
    case TVarType::Bytes: return std::get<TBytes>(value_).data;
  }
  return {};
}

const std::string& Variant::RawString() const {
  if (Type() == TVarType::String) return std::get<std::string>(value_);
  if (Type() == TVarType::Bytes) return std::get<TBytes>(value_).data;
  return kEmpty;
}

std::string Variant::TakeString() {
  std::string out;
  if (Type() == TVarType::String)
    out = std::move(std::get<std::string>(value_));
  else if (Type() == TVarType::Bytes)
    out = std::move(std::get<TBytes>(value_).data);
  else
    return AsString();
  value_ = std::monostate{};
  return out;
}

bool operator==(const Variant& a, const Variant& b) {
  const TVarType ta = a.Type(), tb = b.Type();
  if (ta == TVarType::Null || tb == TVarType::Null) return ta == tb;
  auto textual = [](TVarType t) { return t == TVarType::String || t == TVarType::Bytes; };
  if (textual(ta) && textual(tb)) return a.RawString() == b.RawString();
  if (ta == tb) return a.value_ == b.value_;
  if (!textual(ta) && !textual(tb)) return a.AsFloat() == b.AsFloat();
  // A number against text: equal when the text reads as the same number.
  const Variant& text = textual(ta) ? a : b;
  const Variant& other = textual(ta) ? b : a;
  double d;
  if (other.Type() == TVarType::DateTime) return text.AsString() == other.AsString();
  return ParseDouble(text.RawString(), d) && d == other.AsFloat();
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
  static const int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int monthDays =
      (month >= 1 && month <= 12) ? kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0) : 0;
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > monthDays ||
      hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    throw EConvertError("Invalid argument to date encode");
  double days = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month),
                                                  static_cast<unsigned>(day)) -
                                    kEpochOffset);
  double time = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) / 86400000.0;
  // Before 1899-12-30 the fraction still counts forward within the day.
  return TDateTime{days >= 0 ? days + time : days - time};
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& millisecond) {
  double whole = std::trunc(value.value);
  double fraction = std::fabs(value.value - whole);
  int64_t ms = std::llround(fraction * 86400000.0);
  if (ms >= 86400000) {
    ms -= 86400000;
    whole += value.value >= 0 ? 1 : -1;
  }
  CivilFromDays(static_cast<int64_t>(whole) + kEpochOffset, year, month, day);
  hour = static_cast<int>(ms / 3600000);
  minute = static_cast<int>(ms / 60000 % 60);
  second = static_cast<int>(ms / 1000 % 60);
  millisecond = static_cast<int>(ms % 1000);
}

std::string DateTimeToStr(TDateTime value) {
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(value, y, mo, d, h, mi, s, ms);
  char buf[48];
  if (h == 0 && mi == 0 && s == 0 && ms == 0)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, mo, d);
  else if (ms == 0)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, mo, d, h, mi, s, ms);
  return buf;
}

TDateTime StrToDateTime(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char sep = 0;
  int consumed = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &consumed) != 3)
    throw EConvertError(Format("'%s' is not a valid date and time", text.c_str()));
  const char* rest = text.c_str() + consumed;
  double fraction_ms = 0;
  if (*rest != '\0') {
    int more = 0;
    if (std::sscanf(rest, "%c%2d:%2d%n", &sep, &h, &mi, &more) != 3 || (sep != ' ' && sep != 'T'))
      throw EConvertError(Format("'%s' is not a valid date and time", text.c_str()));
    rest += more;
    if (*rest == ':') {
      double secs = 0;
      if (std::sscanf(rest + 1, "%lf", &secs) != 1)
        throw EConvertError(Format("'%s' is not a valid date and time", text.c_str()));
      s = static_cast<int>(secs);
      fraction_ms = std::round((secs - s) * 1000.0);
    }
  }
  return EncodeDateTime(y, mo, d, h, mi, s, static_cast<int>(std::min(fraction_ms, 999.0)));
}

}  // namespace tersify
