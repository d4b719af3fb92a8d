#include "framework/rtl/json_writer.h"

#include <cmath>
#include <cstdio>

namespace tersify {
namespace {

// The length of the UTF-8 sequence that starts text at i, 0 when none does.
size_t Utf8Length(const std::string& text, size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  size_t more = 0;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) more = 1;
  else if (c >= 0xE0 && c <= 0xEF) more = 2;
  else if (c >= 0xF0 && c <= 0xF4) more = 3;
  else return 0;
  if (i + more >= text.size()) return 0;
  for (size_t k = 1; k <= more; ++k)
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  const auto second = static_cast<unsigned char>(text[i + 1]);
  // Overlong forms, UTF-16 surrogates and code points past U+10FFFF.
  if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second > 0x9F) || (c == 0xF0 && second < 0x90) ||
      (c == 0xF4 && second > 0x8F))
    return 0;
  return more + 1;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"': out += "\\\""; ++i; continue;
      case '\\': out += "\\\\"; ++i; continue;
      case '\n': out += "\\n"; ++i; continue;
      case '\r': out += "\\r"; ++i; continue;
      case '\t': out += "\\t"; ++i; continue;
      default: break;
    }
    if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
      ++i;
      continue;
    }
    const size_t length = Utf8Length(text, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD
      ++i;
      continue;
    }
    out.append(text, i, length);
    i += length;
  }
  return out + "\"";
}

TJsonObject& TJsonObject::Member(const std::string& name, std::string value) {
  members_.emplace_back(name, std::move(value));
  return *this;
}

TJsonObject& TJsonObject::Add(const std::string& name, const std::string& text) {
  return Member(name, JsonString(text));
}

TJsonObject& TJsonObject::Add(const std::string& name, const char* text) {
  return Add(name, std::string(text ? text : ""));
}

TJsonObject& TJsonObject::Add(const std::string& name, int64_t number) {
  return Member(name, std::to_string(number));
}

TJsonObject& TJsonObject::Add(const std::string& name, double number) {
  if (!std::isfinite(number)) return AddNull(name);
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", number);
  return Member(name, text);
}

TJsonObject& TJsonObject::Add(const std::string& name, bool flag) { return Member(name, flag ? "true" : "false"); }

TJsonObject& TJsonObject::Add(const std::string& name, const std::vector<std::string>& texts) {
  std::string array = "[";
  for (size_t i = 0; i < texts.size(); ++i) array += (i ? ", " : "") + JsonString(texts[i]);
  return Member(name, array + "]");
}

TJsonObject& TJsonObject::Add(const std::string& name, const std::optional<std::string>& text) {
  return text ? Add(name, *text) : AddNull(name);
}

TJsonObject& TJsonObject::AddNull(const std::string& name) { return Member(name, "null"); }

std::string TJsonObject::Text() const {
  if (members_.empty()) return "{}\n";
  std::string out = "{\n";
  for (size_t i = 0; i < members_.size(); ++i)
    out += "  " + JsonString(members_[i].first) + ": " + members_[i].second + (i + 1 < members_.size() ? ",\n" : "\n");
  return out + "}\n";
}

}  // namespace tersify
