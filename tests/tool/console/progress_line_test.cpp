// The console's live progress line: its text, and what it writes to its stream.

#include "tool/console/progress_line.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace tersify {
namespace {

struct FormatCase {
  const char* title;
  int64_t done, total, bytes;
  double seconds;
  const char* text;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.title; }

class ProgressFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(ProgressFormat, GivesRowsPercentRateElapsedAndTimeLeft) {
  const FormatCase& c = GetParam();
  EXPECT_EQ(TProgressLine::Format(c.done, c.total, c.bytes, c.seconds), c.text);
}

constexpr int64_t MB = 1024 * 1024;

INSTANTIATE_TEST_SUITE_P(
    Table, ProgressFormat,
    ::testing::Values(
        FormatCase{"Start", 0, 0, 0, 0.0, "0 of 0 rows, 0.0 MB/s, 0:00 elapsed"},
        FormatCase{"NoTimeYet", 3, 10, 5 * MB, 0.0, "3 of 10 rows (30 %), 0.0 MB/s, 0:00 elapsed"},
        FormatCase{"TooEarlyToEstimate", 3, 10, 5 * MB, 0.9, "3 of 10 rows (30 %), 5.6 MB/s, 0:00 elapsed"},
        FormatCase{"Rate", 12, 300, 10 * MB, 2.0, "12 of 300 rows (4 %), 5.0 MB/s, 0:02 elapsed, 0:48 left"},
        FormatCase{"RateRounds", 1, 2, MB / 4, 1.0, "1 of 2 rows (50 %), 0.2 MB/s, 0:01 elapsed, 0:01 left"},
        FormatCase{"PercentRoundsDown", 299, 300, 3 * MB, 299.0,
                   "299 of 300 rows (99 %), 0.0 MB/s, 4:59 elapsed, 0:01 left"},
        FormatCase{"DoneLeavesNothingLeft", 300, 300, 3 * MB, 125.9,
                   "300 of 300 rows (100 %), 0.0 MB/s, 2:05 elapsed"},
        FormatCase{"NoRowDoneYet", 0, 300, 0, 30.0, "0 of 300 rows (0 %), 0.0 MB/s, 0:30 elapsed"},
        FormatCase{"AnHour", 5, 9, 7200 * MB, 3600.0, "5 of 9 rows (55 %), 2.0 MB/s, 1:00:00 elapsed, 48:00 left"},
        FormatCase{"HoursLeft", 1, 100, 0, 100.0, "1 of 100 rows (1 %), 0.0 MB/s, 1:40 elapsed, 2:45:00 left"},
        FormatCase{"OneRow", 1, 1, 1000 * MB, 0.5, "1 of 1 row (100 %), 2000.0 MB/s, 0:00 elapsed"},
        FormatCase{"BeyondThirtyTwoBits", 3000000000LL, 4000000000LL, 0, 59.99,
                   "3000000000 of 4000000000 rows (75 %), 0.0 MB/s, 0:59 elapsed, 0:20 left"}),
    [](const auto& info) { return std::string(info.param.title); });

// The lines drawn so far: the texts between carriage returns, control sequences removed.
std::vector<std::string> Drawn(const std::string& out) {
  std::vector<std::string> lines;
  size_t at = 0;
  while ((at = out.find('\r', at)) != std::string::npos) {
    ++at;
    const size_t end = out.find("\x1b[K", at);
    lines.push_back(out.substr(at, end == std::string::npos ? std::string::npos : end - at));
  }
  return lines;
}

TEST(ProgressLine, DrawsFromTheStartAndEndsOnTheLastRowWithALineEnd) {
  std::ostringstream out;
  {
    TProgressLine line(out);
    line.PassStarted(4);
    line.RowHandled(1000, true);
    line.RowHandled(50, false);
    line.RowHandled(0, false);
    line.RowHandled(-1, false);  // a null value adds no bytes
  }
  const std::string text = out.str();
  const std::vector<std::string> lines = Drawn(text);
  ASSERT_GE(lines.size(), 2u) << text;
  EXPECT_EQ(lines.front().rfind("0 of 4 rows (0 %), ", 0), 0u) << lines.front();
  EXPECT_EQ(lines.back().rfind("4 of 4 rows (100 %), ", 0), 0u) << lines.back();
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(text.find('\n'), text.size() - 1) << "one line end, at the end";
  for (const std::string& l : lines) EXPECT_NE(l.find(" elapsed"), std::string::npos) << l;
}

// A table past 2^31 rows keeps its count whole on the line.
TEST(ProgressLine, ShowsATotalPastTwoBillionRows) {
  std::ostringstream out;
  {
    TProgressLine line(out);
    line.PassStarted(3'000'000'000);
    line.RowHandled(1000, true);
  }
  const std::vector<std::string> lines = Drawn(out.str());
  ASSERT_FALSE(lines.empty()) << out.str();
  EXPECT_EQ(lines.front().rfind("0 of 3000000000 rows (0 %), ", 0), 0u) << lines.front();
  EXPECT_EQ(lines.back().rfind("1 of 3000000000 rows (0 %), ", 0), 0u) << lines.back();
}

TEST(ProgressLine, EndsItsLineOnceWhenThePassEnds) {
  std::ostringstream out;
  {
    TProgressLine line(out);
    line.PassStarted(3);
    line.RowHandled(500, true);
    line.PassEnded();
    const std::string ended = out.str();
    ASSERT_FALSE(ended.empty());
    EXPECT_EQ(ended.back(), '\n');
    EXPECT_EQ(Drawn(ended).back().rfind("1 of 3 rows (33 %), ", 0), 0u) << ended;
    // Whatever comes after (an error report on the same terminal) keeps its line.
    line.RowHandled(500, true);
    line.PassEnded();
    EXPECT_EQ(out.str(), ended);
  }
  const std::string text = out.str();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
}

// A warning during the pass stands on a line of its own, and the progress
// line is drawn again below it.
TEST(ProgressLine, AWarningGetsALineOfItsOwn) {
  std::ostringstream out;
  {
    TProgressLine line(out);
    line.PassStarted(2);
    line.RowHandled(500, true);
    line.PassWarning("Warning: a value");
    const std::string text = out.str();
    const size_t warning = text.find("\r\x1b[KWarning: a value\n");
    ASSERT_NE(warning, std::string::npos) << text;
    EXPECT_EQ(Drawn(text.substr(warning + 20)).back().rfind("1 of 2 rows (50 %), ", 0), 0u) << text;
    line.PassEnded();
    // After the end a warning is a plain line.
    line.PassWarning("Warning: later");
    EXPECT_EQ(out.str().substr(out.str().size() - 15), "Warning: later\n");
  }
}

TEST(ProgressLine, WritesNothingWhenThePassNeverStarted) {
  std::ostringstream out;
  {
    TProgressLine line(out);
    line.PassEnded();
  }
  EXPECT_EQ(out.str(), "");
}

TEST(ProgressLine, AStreamThatIsNoTerminalIsRecognised) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_FALSE(IsTerminal(fds[0]));
  EXPECT_FALSE(IsTerminal(fds[1]));
  close(fds[0]);
  close(fds[1]);
  EXPECT_FALSE(IsTerminal(-1));
}

}  // namespace
}  // namespace tersify
