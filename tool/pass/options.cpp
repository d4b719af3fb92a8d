#include "tool/pass/options.h"

#include <cstdio>
#include <string_view>

#include "framework/rtl/exception.h"

namespace tersify {

std::string KeyText(const Variant& key) {
  if (key.Type() != TVarType::Bytes) return key.AsString();
  static const char kHex[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (unsigned char c : key.RawString()) {
    text += kHex[c >> 4];
    text += kHex[c & 15];
  }
  return text;
}

std::string ResumeKeyArgument(const Variant& key) {
  std::string text;
  if (key.Type() == TVarType::Float) {
    // Every digit a double needs, so that the key read back is the same number.
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", key.AsFloat());
    text = buffer;
  } else {
    text = KeyText(key);
  }
  auto plain = [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("-_.,:@%+=/").find(static_cast<char>(c)) != std::string_view::npos;
  };
  bool quote = text.empty();
  bool control = false;
  for (unsigned char c : text) {
    if (!plain(c)) quote = true;
    if (c < 0x20 || c == 0x7F) control = true;
  }
  if (!quote) return text;
  std::string quoted;
  if (control) {
    // A line break or another control character would not survive being
    // pasted inside plain quotes: $'...' spells each one as an escape.
    static const char kHex[] = "0123456789abcdef";
    quoted = "$'";
    for (unsigned char c : text) {
      if (c < 0x20 || c == 0x7F) {
        quoted += "\\x";
        quoted += kHex[c >> 4];
        quoted += kHex[c & 15];
      } else if (c == '\\' || c == '\'') {
        quoted += '\\';
        quoted += static_cast<char>(c);
      } else {
        quoted += static_cast<char>(c);
      }
    }
    return quoted + "'";
  }
  // Inside single quotes everything is literal but the quote itself.
  quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string CountOf(int64_t n, const std::string& noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string PassNotes(const TRecompressReport& report) {
  std::string notes;
  // The singular or the plural form, after a count n.
  auto form = [](int32_t n, const char* one, const char* more) { return std::string(n == 1 ? one : more); };
  if (const int32_t n = report.changed_rows; n > 0)
    notes += CountOf(n, "row") + form(n, " was", " were") +
             " changed by another session during the pass and left as " + form(n, "it is", "they are") +
             "; run the pass again to include " + form(n, "it", "them") + "\n";
  if (const int32_t n = report.deleted_rows; n > 0)
    notes += CountOf(n, "row") + form(n, " was", " were") + " deleted by another session during the pass; " +
             form(n, "it is", "they are") + " counted as skipped\n";
  for (const std::string& key : report.unidentified_keys)
    notes += "The row with key '" + key +
             "' was left as it is: its key does not single out one row on this server; it is counted "
             "as skipped\n";
  if (const int32_t n = report.null_key_rows; n > 0)
    notes += CountOf(n, "row") + form(n, " has", " have") + " a NULL key and " + form(n, "was", "were") +
             " left as " + form(n, "it is", "they are") + "; " + form(n, "it is", "they are") +
             " counted as skipped\n";
  if (const int32_t n = report.too_long_rows; n > 0)
    notes += CountOf(n, "row") + form(n, " was", " were") + " left as " + form(n, "it is", "they are") +
             ": the new form is longer than the column holds; " + form(n, "it is", "they are") +
             " counted as skipped\n";
  if (const int32_t n = report.decoded_damaged_values; n > 0)
    notes += CountOf(n, "damaged envelope") + form(n, " was", " were") + " rewritten as the bytes " +
             form(n, "it decodes", "they decode") + " to\n";
  return notes;
}

}  // namespace tersify
