#pragma once
// A small JSON writer: one object of named members, each a string, a
// number, true or false, null, or an array of strings, written in the order
// they were added, one member a line. Strings are UTF-8: control characters,
// the quote and the backslash are escaped, other characters are kept as
// they are, and bytes that are no UTF-8 become U+FFFD.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tersify {

// text as a JSON string, quotes included.
std::string JsonString(const std::string& text);

class TJsonObject {
 public:
  TJsonObject& Add(const std::string& name, const std::string& text);
  TJsonObject& Add(const std::string& name, const char* text);
  TJsonObject& Add(const std::string& name, int64_t number);
  TJsonObject& Add(const std::string& name, int32_t number) { return Add(name, static_cast<int64_t>(number)); }
  // A number that is not finite has no JSON form: it is written as null.
  TJsonObject& Add(const std::string& name, double number);
  TJsonObject& Add(const std::string& name, bool flag);
  TJsonObject& Add(const std::string& name, const std::vector<std::string>& texts);
  // The text, or null when there is none.
  TJsonObject& Add(const std::string& name, const std::optional<std::string>& text);
  TJsonObject& AddNull(const std::string& name);

  // The object, ending in a line break.
  std::string Text() const;

 private:
  TJsonObject& Member(const std::string& name, std::string value);
  std::vector<std::pair<std::string, std::string>> members_;
};

}  // namespace tersify
