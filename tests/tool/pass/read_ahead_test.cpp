// The pages of a pass read on a second connection: each page but one whose
// values are as large as half the budget has the next one asked for as soon
// as it is handed out, so that across a network the writer never waits for a
// page it could have had; and every row is handed out once, in key order,
// within the in-flight budget.

#include "tool/pass/read_ahead.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/tool/pass/report_table_fixture.h"
#include "tool/pass/target.h"

namespace tersify::testing {
namespace {

constexpr int64_t kBudget = 1 << 20;

struct ReadAheadCase {
  const char* title;
  int rows;
  size_t value_bytes;
  bool reads_ahead;  // whether the pages after the first are read ahead
};

class ReadAhead
    : public ReportTableFixture<::testing::TestWithParam<std::tuple<std::string, ReadAheadCase>>> {};

TEST_P(ReadAhead, TheNextPageIsOnItsWayAsSoonAsAPageIsHandedOut) {
  const auto& [provider, c] = GetParam();
  OpenTable(provider);
  FillTable(c.rows, [&c](int) { return c.value_bytes; });
  Connect();
  TMSConnection& connection = PassConnection();
  const TPassTarget target = ResolvePassTarget("tqz_reports", "acReportData", "");
  TPassCompanion companion(connection);
  TPassPages pages(connection, target.statements, kBudget, &companion);

  std::vector<std::string> keys;
  int pages_read = 0;
  int64_t most_in_flight = 0;
  for (std::vector<TPassRow> page = pages.NextPage(); !page.empty();) {
    ++pages_read;
    for (const TPassRow& row : page) keys.push_back(row.key.AsString());
    // A page that is on its way arrives at once on this machine; one that is
    // not asked for never does.
    const auto wait = c.reads_ahead ? std::chrono::seconds(20) : std::chrono::seconds(1);
    const bool arrived = PollUntil([&] { return pages.NextPageArrived(); }, wait);
    // The first page is followed by the second in any case; the pages after
    // it hold values of the same size.
    if (pages_read > 1) {
      EXPECT_EQ(arrived, c.reads_ahead) << "after page " << pages_read << " of " << page.size() << " rows";
    }
    std::vector<TPassRow> next = pages.NextPage();
    if (arrived) most_in_flight = std::max(most_in_flight, StoredBytesOf(page) + StoredBytesOf(next));
    page = std::move(next);
  }

  std::vector<std::string> expected;
  for (int i = 0; i < c.rows; ++i) expected.push_back(ReportKey(i));
  EXPECT_EQ(keys, expected);
  EXPECT_GT(pages_read, 3) << "too few pages to tell";
  // A page in hand and the one read ahead of it: within three quarters of
  // the budget and one value.
  EXPECT_LE(most_in_flight, kBudget * 3 / 4 + static_cast<int64_t>(c.value_bytes));
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<std::string, ReadAheadCase>>& info) {
  return std::get<0>(info.param) + "_" + std::get<1>(info.param).title;
}

// Pages of values of 60 KB hold more than a quarter of the budget: they
// were read while the writer waited. A value of 600 KB holds more than half
// of it, and is read only when it is needed.
INSTANTIATE_TEST_SUITE_P(Providers, ReadAhead,
                         ::testing::Combine(::testing::ValuesIn(AvailableProviders()),
                                            ::testing::Values(ReadAheadCase{"SmallValues", 400, 4000, true},
                                                              ReadAheadCase{"PagesOverAQuarter", 80, 60000, true},
                                                              ReadAheadCase{"ValuesOverAHalf", 5, 600000, false})),
                         CaseName);

}  // namespace
}  // namespace tersify::testing
