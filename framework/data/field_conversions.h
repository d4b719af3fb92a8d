#pragma once
// Text forms of field values in the user's locale: numbers with the locale's
// decimal separator, dates and times, and the display formats of fields.

#include <cstdint>
#include <string>

#include "framework/data/field_type.h"
#include "framework/rtl/variant.h"

namespace tersify {

// Whole text (blanks around it allowed) as a decimal integer / a number with the
// locale's decimal separator and an optional exponent; false when it is not one.
bool TextToInt64(const std::string& text, int64_t& out);
bool TextToFloat(const std::string& text, double& out);
// Up to 15 significant digits, the locale's decimal separator.
std::string FloatToText(double value);
// A date, time or date-time text for a field of the given type ("YYYY-MM-DD",
// "YYYY-MM-DD HH:MM[:SS[.mmm]]", and for time fields "HH:MM[:SS[.mmm]]").
bool TextToDateTime(const std::string& text, TFieldType type, TDateTime& out);

// Number formats: '0' a digit always shown, '#' a digit shown when significant,
// '.' the decimal point, ',' thousands grouping, "text" and 'text' literals;
// up to three sections "positive;negative;zero".
std::string FormatFloat(const std::string& format, double value);
// Date formats: yyyy yy m mm d dd h hh n nn s ss zzz (m after h means minutes),
// "text" and 'text' literals; other characters are copied.
std::string FormatDateTime(const std::string& format, TDateTime value);

}  // namespace tersify
