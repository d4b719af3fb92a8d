#pragma once
// The framework's variant: the value of a field or parameter. Null is a value
// of its own; two nulls are equal and a null differs from every other value.

#include <cstdint>
#include <string>
#include <variant>

namespace tersify {

// Days since 1899-12-30; the fraction is the time of day.
struct TDateTime {
  double value = 0;
  bool operator==(const TDateTime&) const = default;
};

// Raw bytes of a blob, kept apart from text so that providers bind them as binary.
struct TBytes {
  std::string data;
  bool operator==(const TBytes&) const = default;
};

enum class TVarType { Null, Boolean, Integer, Float, DateTime, String, Bytes };

class Variant {
 public:
  Variant() = default;
  Variant(bool v) : value_(v) {}
  Variant(int v) : value_(static_cast<int64_t>(v)) {}
  Variant(long v) : value_(static_cast<int64_t>(v)) {}
  Variant(long long v) : value_(static_cast<int64_t>(v)) {}
  Variant(double v) : value_(v) {}
  Variant(TDateTime v) : value_(v) {}
  Variant(std::string v) : value_(std::move(v)) {}
  Variant(const char* v) : value_(std::string(v)) {}
  Variant(TBytes v) : value_(std::move(v)) {}

  static Variant Null() { return Variant(); }

  TVarType Type() const { return static_cast<TVarType>(value_.index()); }
  bool IsNull() const { return Type() == TVarType::Null; }

  // Conversions raise EVariantError when the value has no such form
  // (text that is no number, a null asked for a number).
  bool AsBoolean() const;
  int64_t AsInt64() const;
  int32_t AsInteger() const;
  double AsFloat() const;
  TDateTime AsDateTime() const;
  // Null gives the empty string; bytes give their content unchanged.
  std::string AsString() const;

  // The stored string or bytes without a copy; empty for other kinds.
  const std::string& RawString() const;
  // Moves the stored string or bytes out without a copy and leaves the value
  // Null; other kinds give their AsString() form and are left as they are.
  std::string TakeString();

  std::string TypeName() const;

  friend bool operator==(const Variant& a, const Variant& b);
  friend bool operator!=(const Variant& a, const Variant& b) { return !(a == b); }

 private:
  std::variant<std::monostate, bool, int64_t, double, TDateTime, std::string, TBytes> value_;
};

// Date-time text of the form "YYYY-MM-DD HH:MM:SS" (milliseconds when present,
// the time left out at midnight), and its inverse, which also takes "YYYY-MM-DD"
// and a 'T' between date and time. Raises EConvertError on other text.
std::string DateTimeToStr(TDateTime value);
TDateTime StrToDateTime(const std::string& text);
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0,
                         int second = 0, int millisecond = 0);
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& millisecond);

}  // namespace tersify
