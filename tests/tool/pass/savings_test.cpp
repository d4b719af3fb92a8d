// The lines that tell what a pass did to a column's stored bytes, and the
// advice on getting the freed space back that follows them.

#include "tool/pass/savings.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

namespace tersify::testing {
namespace {

constexpr int64_t kKB = 1024;
constexpr int64_t kMB = 1024 * kKB;
constexpr int64_t kGB = 1024 * kMB;

struct SizeCase {
  int64_t bytes;
  const char* text;
};

TEST(StoredSizeText, ChoosesTheUnitThatKeepsTheNumberSmall) {
  const SizeCase cases[] = {
      {0, "0 bytes"},           {1, "1 byte"},
      {1023, "1023 bytes"},     {kKB, "1.00 KB"},
      {kKB + kKB / 2, "1.50 KB"}, {kMB - 6, "1023.99 KB"},
      {kMB - 1, "1.00 MB"},
      {kMB, "1.00 MB"},         {178247598, "169.99 MB"},
      {kGB * 21 / 10, "2.10 GB"}, {kGB * 1024 * 5, "5.00 TB"},
  };
  for (const SizeCase& c : cases) EXPECT_EQ(StoredSizeText(c.bytes), c.text) << c.bytes;
}

TSavingsPlace SqliteFile(const std::string& path) {
  TSavingsPlace place;
  place.table = "tqz_reports";
  place.field = "acReportData";
  place.sqlite = true;
  place.server = "sqlite";
  place.database = path;
  return place;
}

TSavingsPlace SqlServer(const std::string& server, const std::string& database) {
  TSavingsPlace place;
  place.table = "dbo.[tqz reports]";
  place.field = "acReportData";
  place.server = server;
  place.database = database;
  return place;
}

struct LineCase {
  const char* title;
  TSavingsPlace place;
  int64_t before, after;
  const char* line;
};

TEST(SavingsLine, NamesTheColumnAndItsPlaceAndTheChange) {
  const LineCase cases[] = {
      {"Shrank", SqliteFile("demo/reports.db"), 178247598, 26570424,
       "tqz_reports.acReportData on demo/reports.db: 169.99 MB -> 25.34 MB, 85 % smaller"},
      {"Grew", SqliteFile("demo/reports.db"), 100, 671,
       "tqz_reports.acReportData on demo/reports.db: 100 bytes -> 671 bytes, 571 % larger"},
      {"Unchanged", SqliteFile("r.db"), 5 * kMB, 5 * kMB, "tqz_reports.acReportData on r.db: 5.00 MB -> 5.00 MB, unchanged"},
      {"EmptyColumn", SqliteFile("r.db"), 0, 0, "tqz_reports.acReportData on r.db: 0 bytes -> 0 bytes, unchanged"},
      // A change is never rounded away, nor a column that still holds bytes to nothing.
      {"TinyChange", SqliteFile("r.db"), 1000000, 999999,
       "tqz_reports.acReportData on r.db: 976.56 KB -> 976.56 KB, 1 % smaller"},
      {"AlmostAll", SqliteFile("r.db"), 1000000, 1, "tqz_reports.acReportData on r.db: 976.56 KB -> 1 byte, 99 % smaller"},
      {"All", SqliteFile("r.db"), 1000, 0, "tqz_reports.acReportData on r.db: 1000 bytes -> 0 bytes, 100 % smaller"},
      {"SqlServerDatabase", SqlServer("sqlhost,1433", "reports"), 2 * kGB, kGB,
       "dbo.[tqz reports].acReportData in reports on sqlhost,1433: 2.00 GB -> 1.00 GB, 50 % smaller"},
      {"DataSourceDefaultDatabase", SqlServer("dsn:reports", ""), 2 * kGB, kGB,
       "dbo.[tqz reports].acReportData on dsn:reports: 2.00 GB -> 1.00 GB, 50 % smaller"},
  };
  for (const LineCase& c : cases) EXPECT_EQ(SavingsLine(c.place, c.before, c.after), c.line) << c.title;
}

const char kVacuumTail[] =
    " VACUUM; advice, never run by tersify: it rewrites the whole file, needs as much free disk space again and "
    "locks the file while it runs)";

TEST(ReclaimAdvice, OnSqliteTellsTheFreePagesAndVacuum) {
  TSavingsPlace place = SqliteFile("demo/reports.db");
  place.free_pages = 36680;
  place.free_bytes = 36680 * 4096;
  EXPECT_EQ(ReclaimAdvice(place, 100 * kMB, 20 * kMB),
            std::string("demo/reports.db keeps 36,680 free pages (143.28 MB) inside the file: VACUUM gives them "
                        "back (sqlite3 demo/reports.db") +
                kVacuumTail);

  place.free_pages = 1;
  place.free_bytes = 4096;
  EXPECT_NE(ReclaimAdvice(place, 200, 150).find(" keeps 1 free page (4.00 KB) inside"), std::string::npos);

  // Free pages not known: the column shrank, so there are some.
  place.free_pages = place.free_bytes = -1;
  EXPECT_EQ(ReclaimAdvice(place, 200, 150),
            std::string("demo/reports.db keeps the freed pages inside the file: VACUUM gives them back (sqlite3 "
                        "demo/reports.db") +
                kVacuumTail);

  // A path a shell would split is quoted in the command.
  place.database = "/srv/my db's.db";
  EXPECT_NE(ReclaimAdvice(place, 200, 150).find("(sqlite3 '/srv/my db'\\''s.db' VACUUM;"), std::string::npos)
      << ReclaimAdvice(place, 200, 150);
}

TEST(ReclaimAdvice, OnSqlServerTellsLobCompactionThenAShrink) {
  EXPECT_EQ(ReclaimAdvice(SqlServer("sqlhost", "reports"), 2 * kGB, kGB),
            "SQL Server gives the freed pages back only after LOB compaction: ALTER INDEX ALL ON dbo.[tqz reports] "
            "REORGANIZE WITH (LOB_COMPACTION = ON), then a file shrink (DBCC SHRINKFILE) if the file itself should "
            "shrink (advice, never run by tersify: both are work for a maintenance window)");
}

TEST(ReclaimAdvice, NothingWhenNothingWasFreed) {
  TSavingsPlace file = SqliteFile("r.db");
  file.free_pages = 500;
  file.free_bytes = 500 * 4096;
  for (const TSavingsPlace& place : {file, SqlServer("sqlhost", "reports")}) {
    EXPECT_EQ(ReclaimAdvice(place, kMB, kMB), "") << place.server;
    EXPECT_EQ(ReclaimAdvice(place, kMB, 2 * kMB), "") << place.server;
  }
  // A file that gives its pages back by itself (auto_vacuum) holds none.
  file.free_pages = file.free_bytes = 0;
  EXPECT_EQ(ReclaimAdvice(file, 2 * kMB, kMB), "");
}

}  // namespace
}  // namespace tersify::testing
