#include "framework/data/field_conversions.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "framework/rtl/exception.h"
#include "framework/rtl/platform.h"

namespace tersify {

namespace {

bool ReadNumber(const std::string& s, size_t& i, int max_digits, int& out) {
  const size_t start = i;
  out = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9' && static_cast<int>(i - start) < max_digits)
    out = out * 10 + (s[i++] - '0');
  return i > start;
}

// "HH:MM[:SS[.mmm]]" as a fraction of a day.
bool ParseTime(const std::string& s, double& fraction) {
  size_t i = 0;
  int h, m, sec = 0, ms = 0;
  if (!ReadNumber(s, i, 2, h) || i >= s.size() || s[i++] != ':' || !ReadNumber(s, i, 2, m)) return false;
  if (i < s.size() && s[i] == ':') {
    ++i;
    if (!ReadNumber(s, i, 2, sec)) return false;
    if (i < s.size() && s[i] == '.') {
      ++i;
      const size_t start = i;
      if (!ReadNumber(s, i, 3, ms)) return false;
      for (size_t k = i - start; k < 3; ++k) ms *= 10;
    }
  }
  if (i != s.size() || h > 23 || m > 59 || sec > 59) return false;
  fraction = (h * 3600000.0 + m * 60000.0 + sec * 1000.0 + ms) / 86400000.0;
  return true;
}

std::vector<std::string> Sections(const std::string& format) {
  std::vector<std::string> sections(1);
  char quote = 0;
  for (char c : format) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      sections.emplace_back();
      continue;
    }
    sections.back() += c;
  }
  return sections;
}

std::string GroupThousands(const std::string& digits) {
  std::string out;
  const char sep = ThousandSeparator();
  const size_t n = digits.size();
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += sep;
    out += digits[i];
  }
  return out;
}

}  // namespace

bool TextToDateTime(const std::string& text, TFieldType type, TDateTime& out) {
  const std::string t = Trim(text);
  if (type == ftTime) {
    double fraction;
    if (ParseTime(t, fraction)) {
      out = TDateTime{fraction};
      return true;
    }
  }
  try {
    out = StrToDateTime(t);
    return true;
  } catch (const EConvertError&) {
    return false;
  }
}

std::string FormatFloat(const std::string& format, double value) {
  const std::vector<std::string> sections = Sections(format);
  std::string section = sections[0];
  bool negative = value < 0;
  if (value < 0 && sections.size() > 1 && !sections[1].empty()) {
    section = sections[1];
    negative = false;  // the section shows the sign itself
    value = -value;
  } else if (value == 0 && sections.size() > 2 && !sections[2].empty()) {
    section = sections[2];
  }
  // Layout of the placeholders.
  int int_zeros = 0, frac_zeros = 0, frac_digits = 0;
  bool seen_point = false, thousands = false, any_placeholder = false;
  size_t first = std::string::npos, last = std::string::npos;
  char quote = 0;
  for (size_t i = 0; i < section.size(); ++i) {
    const char c = section[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
      continue;
    }
    if (c == '0' || c == '#') {
      any_placeholder = true;
      if (first == std::string::npos) first = i;
      last = i;
      if (seen_point) {
        ++frac_digits;
        if (c == '0') frac_zeros = frac_digits;
      } else if (c == '0') {
        ++int_zeros;
      }
    } else if (c == '.' && !seen_point) {
      seen_point = true;
      if (first == std::string::npos) first = i;
      last = i;
    } else if (c == ',') {
      thousands = true;
    }
  }
  auto literal = [](const std::string& text) {
    std::string out;
    char q = 0;
    for (char c : text) {
      if (q) {
        if (c == q) q = 0;
        else out += c;
      } else if (c == '"' || c == '\'') {
        q = c;
      } else if (c != ',') {
        out += c;
      }
    }
    return out;
  };
  if (!any_placeholder) return literal(section);

  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::fixed, frac_digits);
  std::string number(buf, ec == std::errc() ? end : buf);
  const size_t point = number.find('.');
  std::string int_part = number.substr(0, point);
  std::string frac_part = point == std::string::npos ? "" : number.substr(point + 1);
  while (static_cast<int>(frac_part.size()) > frac_zeros && !frac_part.empty() && frac_part.back() == '0')
    frac_part.pop_back();
  if (int_part == "0" && int_zeros == 0) int_part.clear();
  while (static_cast<int>(int_part.size()) < int_zeros) int_part.insert(0, "0");
  if (thousands) int_part = GroupThousands(int_part);
  std::string text = int_part;
  if (!frac_part.empty()) text += DecimalSeparator() + frac_part;
  if (text.empty()) text = "0";
  const bool all_zero = text.find_first_of("123456789") == std::string::npos;
  if (negative && !all_zero) text.insert(0, "-");
  return literal(section.substr(0, first)) + text + literal(section.substr(last + 1));
}

std::string FormatDateTime(const std::string& format, TDateTime value) {
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(value, y, mo, d, h, mi, s, ms);
  std::string out;
  bool after_hour = false;
  char buf[16];
  for (size_t i = 0; i < format.size();) {
    const char c = format[i];
    const char lower = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    size_t run = 1;
    while (i + run < format.size() &&
           (format[i + run] == c || format[i + run] == (lower == c ? c - 32 : lower)))
      ++run;
    auto put = [&](int v, int width) {
      std::snprintf(buf, sizeof buf, "%0*d", width, v);
      out += buf;
    };
    if (c == '"' || c == '\'') {
      const size_t end = format.find(c, i + 1);
      const size_t stop = end == std::string::npos ? format.size() : end;
      out.append(format, i + 1, stop - i - 1);
      i = stop + 1;
      continue;
    }
    switch (lower) {
      case 'y': put(run >= 3 ? y : y % 100, run >= 3 ? 4 : 2); after_hour = false; break;
      case 'm':
        if (after_hour) put(mi, run >= 2 ? 2 : 1);
        else put(mo, run >= 2 ? 2 : 1);
        after_hour = false;
        break;
      case 'd': put(d, run >= 2 ? 2 : 1); after_hour = false; break;
      case 'h': put(h, run >= 2 ? 2 : 1); after_hour = true; break;
      case 'n': put(mi, run >= 2 ? 2 : 1); after_hour = false; break;
      case 's': put(s, run >= 2 ? 2 : 1); after_hour = false; break;
      case 'z': put(ms, run >= 3 ? 3 : 1); after_hour = false; break;
      default: out.append(run, c); break;
    }
    i += run;
  }
  return out;
}

}  // namespace tersify
