#include "tests/support/tds_server/date_text.h"

#include <cstdio>

namespace tersify::testing::tds {
namespace {

constexpr int64_t kUnitsPerSecond = 10'000'000;
constexpr int64_t kDaysFrom0001To1970 = 719162;

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = yoe + era * 400 + (m <= 2);
}

bool Digits(std::string_view text, size_t at, size_t n, int64_t& out) {
  if (at + n > text.size()) return false;
  out = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    out = out * 10 + (text[i] - '0');
  }
  return true;
}

int Sign(int64_t v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

}  // namespace

std::optional<ExactDateTime> ParseDateTimeText(std::string_view text) {
  int64_t y, mo, d;
  if (!Digits(text, 0, 4, y) || text.size() < 10 || text[4] != '-' || !Digits(text, 5, 2, mo) ||
      text[7] != '-' || !Digits(text, 8, 2, d) || mo < 1 || mo > 12 || d < 1 || d > 31)
    return std::nullopt;
  ExactDateTime out;
  out.day = DaysFromCivil(y, mo, d) + kDaysFrom0001To1970;
  if (text.size() == 10) return out;
  int64_t h, mi, s;
  if ((text[10] != ' ' && text[10] != 'T') || !Digits(text, 11, 2, h) || text.size() < 19 ||
      text[13] != ':' || !Digits(text, 14, 2, mi) || text[16] != ':' || !Digits(text, 17, 2, s) ||
      h > 23 || mi > 59 || s > 59)
    return std::nullopt;
  out.units = ((h * 60 + mi) * 60 + s) * kUnitsPerSecond;
  size_t at = 19;
  if (at < text.size() && text[at] == '.') {
    int64_t scale = kUnitsPerSecond;
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
      ++out.fraction_digits;
      if (scale == 1) continue;
      scale /= 10;
      out.units += (text[at] - '0') * scale;
    }
  }
  if (at != text.size()) return std::nullopt;
  return out;
}

std::string DateTimeText(int64_t day, int64_t units, int digits, bool with_time) {
  int64_t y, m, d;
  CivilFromDays(day - kDaysFrom0001To1970, y, m, d);
  char text[160];
  if (!with_time) {
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld", static_cast<long long>(y),
                  static_cast<long long>(m), static_cast<long long>(d));
    return text;
  }
  const int64_t seconds = units / kUnitsPerSecond;
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld",
                static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                static_cast<long long>(seconds % 60));
  std::string out = text;
  if (digits > 0) {
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, "%07lld", static_cast<long long>(units % kUnitsPerSecond));
    out += '.';
    out.append(fraction, static_cast<size_t>(digits > 7 ? 7 : digits));
  }
  return out;
}

int64_t UnitsToTicks(int64_t units) { return (units * 3 + 50000) / 100000; }

std::optional<int> CompareDateTimeTexts(std::string_view a, std::string_view b, bool as_datetime) {
  const std::optional<ExactDateTime> x = ParseDateTimeText(a), y = ParseDateTimeText(b);
  if (!x || !y) return std::nullopt;
  auto fine = [&](const ExactDateTime& t, int64_t& day) {
    day = t.day;
    if (!as_datetime || t.fraction_digits > 3) return t.units * kFineUnitsPer100ns;
    const int64_t ticks = UnitsToTicks(t.units);
    // The last tick of a day rounds to the next midnight.
    if (ticks >= 300LL * 86400) {
      ++day;
      return int64_t{0};
    }
    return ticks * kFineUnitsPerTick;
  };
  int64_t day_x, day_y;
  const int64_t fx = fine(*x, day_x), fy = fine(*y, day_y);
  if (day_x != day_y) return Sign(day_x - day_y);
  return Sign(fx - fy);
}

}  // namespace tersify::testing::tds
