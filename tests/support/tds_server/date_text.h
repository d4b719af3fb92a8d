#pragma once
// Date-times as the test server's SQLite file holds them, text such as
// "2024-03-01 10:15:00.003": read and written exactly, in days and 100 ns
// units, so that no value goes through a floating-point day on its way
// between the wire and the file.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tersify::testing::tds {

struct ExactDateTime {
  int64_t day = 0;          // days since 0001-01-01
  int64_t units = 0;        // 100 ns units since midnight
  int fraction_digits = 0;  // digits after the seconds' point in the text read
};

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS[.fffffff]" (or with 'T'); nullopt for other text.
// Digits beyond the seventh are cut.
std::optional<ExactDateTime> ParseDateTimeText(std::string_view text);

// The text of a date-time with `digits` fraction digits (0..7); the date alone
// when with_time is false.
std::string DateTimeText(int64_t day, int64_t units, int digits, bool with_time = true);

// datetime keeps 1/300 s ticks: a text's time as SQL Server converts it to
// datetime (rounded to the nearest tick), and a tick count as 100 ns units.
int64_t UnitsToTicks(int64_t units);
// The ticks of a datetime, exactly, in 1/30,000,000 s (the unit both 1/300 s
// and 100 ns are whole multiples of).
constexpr int64_t kFineUnitsPerTick = 100000;
constexpr int64_t kFineUnitsPer100ns = 3;

// -1, 0 or 1 as two date-time texts compare as SQL Server compares a datetime
// column (as_datetime: texts of at most three fraction digits are datetime
// values, converted exactly to 1/300 s; longer ones are datetime2 values, as
// from a datetime2 parameter) or a datetime2 column (every text taken as
// written). nullopt when either text is no date-time.
std::optional<int> CompareDateTimeTexts(std::string_view a, std::string_view b, bool as_datetime);

}  // namespace tersify::testing::tds
