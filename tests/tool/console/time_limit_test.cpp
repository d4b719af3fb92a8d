// The time limit of a console pass: /MINUTES= and /UNTIL= read, and the
// options they set, with the values refused before anything connects.

#include "tool/console/time_limit.h"

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tool/console/command_line.h"
#include "tool/pass/options.h"

namespace tersify {
namespace {

TEST(TimeLimitTest, MinutesTakeADecimalPoint) {
  const std::vector<std::pair<const char*, double>> good = {{"90", 90}, {"2.5", 2.5}, {".5", 0.5}, {"1.", 1}};
  for (const auto& [text, expected] : good) {
    double minutes = 0;
    EXPECT_TRUE(ParseMinutes(text, minutes)) << text;
    EXPECT_DOUBLE_EQ(minutes, expected) << text;
  }
  for (const char* bad : {"", "x", "0", "0.0", "-5", "1.2.3", "5m", " 5", "1e3", ".", "999999999"}) {
    double minutes = -1;
    EXPECT_FALSE(ParseMinutes(bad, minutes)) << bad;
    EXPECT_EQ(minutes, -1) << bad;
  }
}

TEST(TimeLimitTest, ClockTimesAreHoursAndMinutesOfADay) {
  int hour = -1;
  int minute = -1;
  EXPECT_TRUE(ParseClockTime("06:30", hour, minute));
  EXPECT_EQ(hour, 6);
  EXPECT_EQ(minute, 30);
  EXPECT_TRUE(ParseClockTime("7:05", hour, minute));
  EXPECT_EQ(hour, 7);
  EXPECT_EQ(minute, 5);
  EXPECT_TRUE(ParseClockTime("23:59", hour, minute));
  EXPECT_TRUE(ParseClockTime("00:00", hour, minute));
  for (const char* bad : {"25:00", "24:00", "12:60", "12", "12:5", "123:00", ":30", "ab:cd", "12:30:00", "-1:30", ""})
    EXPECT_FALSE(ParseClockTime(bad, hour, minute)) << bad;
}

// A fixed zone without daylight saving, for the length of one test.
class FixedZone {
 public:
  explicit FixedZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old, had_ = true;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~FixedZone() {
    if (had_) ::setenv("TZ", saved_.c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::string saved_;
  bool had_ = false;
};

TEST(TimeLimitTest, UntilIsTheNextTimeTheLocalClockShowsIt) {
  const FixedZone zone("UTC-2");  // two hours east of UTC
  // 2024-03-10 10:15:00 UTC is 12:15 local.
  const std::time_t now = 1710065700;
  EXPECT_DOUBLE_EQ(SecondsUntilNext(12, 45, now), 30 * 60);
  EXPECT_DOUBLE_EQ(SecondsUntilNext(13, 0, now), 45 * 60);
  // Past today, or this very minute: tomorrow.
  EXPECT_DOUBLE_EQ(SecondsUntilNext(12, 15, now), 24 * 3600);
  EXPECT_DOUBLE_EQ(SecondsUntilNext(6, 0, now), (24 - 6) * 3600 - 15 * 60);
  EXPECT_DOUBLE_EQ(SecondsUntilNext(0, 0, now), 11 * 3600 + 45 * 60);
}

TEST(TimeLimitTest, TheOptionsTakeTheEarlierLimitAndTheStartKey) {
  ToolSettings settings;
  settings.minutes = "1.5";
  settings.from = "it's";
  TRecompressOptions options;
  std::string error;
  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(PassOptionsFrom(settings, options, error)) << error;
  const auto after = std::chrono::steady_clock::now();
  ASSERT_TRUE(options.stop_at.has_value());
  EXPECT_GE(*options.stop_at, before + std::chrono::seconds(90));
  EXPECT_LE(*options.stop_at, after + std::chrono::seconds(90));
  EXPECT_EQ(options.from_key, "it's");

  // With /UNTIL= as well, whichever comes first: a day's minutes lose to any clock time.
  settings.minutes = "1500";
  settings.until = "00:00";
  TRecompressOptions both;
  ASSERT_TRUE(PassOptionsFrom(settings, both, error)) << error;
  ASSERT_TRUE(both.stop_at.has_value());
  EXPECT_LE(*both.stop_at, std::chrono::steady_clock::now() + std::chrono::hours(24) + std::chrono::minutes(1));

  TRecompressOptions none;
  ASSERT_TRUE(PassOptionsFrom(ToolSettings(), none, error));
  EXPECT_FALSE(none.stop_at.has_value());
  EXPECT_FALSE(none.from_key.has_value());
}

TEST(TimeLimitTest, BadValuesAreRefusedWithTheSwitchNamed) {
  struct Bad {
    std::optional<std::string> ToolSettings::*field;
    const char* text;
    const char* named;
  };
  const std::vector<Bad> cases = {
      {&ToolSettings::minutes, "x", "/MINUTES="},
      {&ToolSettings::minutes, "0", "/MINUTES="},
      {&ToolSettings::until, "25:00", "/UNTIL="},
      {&ToolSettings::until, "noon", "/UNTIL="},
  };
  for (const Bad& c : cases) {
    ToolSettings settings;
    settings.*c.field = c.text;
    TRecompressOptions options;
    std::string error;
    EXPECT_FALSE(PassOptionsFrom(settings, options, error)) << c.text;
    EXPECT_NE(error.find(c.named), std::string::npos) << error;
    EXPECT_NE(error.find(c.text), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace tersify
