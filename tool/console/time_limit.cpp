#include "tool/console/time_limit.h"

#include <cstdlib>

#include "framework/rtl/platform.h"

namespace tersify {
namespace {

constexpr double kMostMinutes = 366.0 * 24 * 60;

}  // namespace

bool ParseMinutes(const std::string& text, double& minutes) {
  size_t digits = 0;
  size_t points = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9') ++digits;
    else if (c == '.') ++points;
    else return false;
  }
  if (digits == 0 || points > 1 || digits > 12) return false;
  const double value = std::strtod(text.c_str(), nullptr);
  if (!(value > 0) || value > kMostMinutes) return false;
  minutes = value;
  return true;
}

bool ParseClockTime(const std::string& text, int& hour, int& minute) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos || colon < 1 || colon > 2 || text.size() != colon + 3) return false;
  int h = 0;
  int m = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == colon) continue;
    if (text[i] < '0' || text[i] > '9') return false;
    int& part = i < colon ? h : m;
    part = part * 10 + (text[i] - '0');
  }
  if (h > 23 || m > 59) return false;
  hour = h;
  minute = m;
  return true;
}

double SecondsUntilNext(int hour, int minute, std::time_t now) {
  const std::tm local = LocalTimeOf(now);
  for (int days = 0; days < 3; ++days) {
    std::tm at = local;
    at.tm_mday += days;
    at.tm_hour = hour;
    at.tm_min = minute;
    at.tm_sec = 0;
    at.tm_isdst = -1;  // whatever is in force on that day
    const std::time_t when = std::mktime(&at);
    if (when > now) return std::difftime(when, now);
  }
  return 24 * 60 * 60;
}

}  // namespace tersify
