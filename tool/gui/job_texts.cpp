#include "tool/gui/job_texts.h"

#include <cmath>
#include <cstdio>

#include "tool/pass/estimate.h"

namespace tersify::gui {
namespace {

constexpr double kBytesPerMB = 1024.0 * 1024.0;

std::string Megabytes(double bytes) {
  char text[48];
  std::snprintf(text, sizeof text, "%.2f MB", bytes / kBytesPerMB);
  return text;
}

}  // namespace

std::string DurationText(double seconds) {
  if (!(seconds >= 0.5)) return "less than 1 s";  // also for a NaN
  const long whole = std::lround(seconds);
  if (whole < 60) return "about " + std::to_string(whole) + " s";
  if (whole < 600) {
    const long rest = whole % 60;
    return "about " + std::to_string(whole / 60) + " min" + (rest ? " " + std::to_string(rest) + " s" : "");
  }
  const long minutes = std::lround(seconds / 60.0);
  if (minutes < 60) return "about " + std::to_string(minutes) + " min";
  const long rest = minutes % 60;
  return "about " + std::to_string(minutes / 60) + " h" + (rest ? " " + std::to_string(rest) + " min" : "");
}

std::string EstimateText(const TEstimateResult& r) {
  const double stored = static_cast<double>(r.stored_bytes);
  const double saving = static_cast<double>(r.stored_bytes - r.bytes_after);
  const long share = r.stored_bytes > 0 ? std::lround(100.0 * saving / stored) : 0;
  return "Estimate of " + std::to_string(r.records) + (r.records == 1 ? " record" : " records") + ":\r\n" +
         Megabytes(stored) + " stored now,\r\n" + "about " + Megabytes(static_cast<double>(r.bytes_after)) +
         " after compression,\r\n" + "saving " + Megabytes(saving) + " (" + std::to_string(share) + " %);\r\n" +
         "a compress pass takes " + DurationText(r.pass_seconds);
}

}  // namespace tersify::gui
