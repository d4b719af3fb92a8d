#pragma once
// What a pass did to the stored bytes of its column, told in one line for
// standard error after the summary, and how the server gives the freed space
// back. The way back is advice only: the tool never runs it (it locks, takes
// long, and is the DBA's to schedule).

#include <cstdint>
#include <string>

#include "tool/pass/options.h"

namespace tersify {

// Where the column lives, as the user named it.
struct TSavingsPlace {
  std::string table, field;
  bool sqlite = false;
  std::string server;    // SQL Server: as given (host, host,port, host\instance, a data source)
  std::string database;  // SQLite: the file's path; SQL Server: the database's name, may be empty
  // SQLite: the free pages inside the file and their bytes; -1 when not known.
  int64_t free_pages = -1;
  int64_t free_bytes = -1;
};

// A size for people: "512 bytes", "1.50 KB", "169.99 MB", "2.10 GB"
// (1 KB = 1,024 bytes).
std::string StoredSizeText(int64_t bytes);

// "tqz_reports.acReportData on demo/reports.db: 169.99 MB -> 25.34 MB, 85 % smaller",
// without a line break.
std::string SavingsLine(const TSavingsPlace& place, int64_t before, int64_t after);

// How to get the space a pass freed back, without a line break: empty unless
// the column shrank (and, on SQLite, unless the file holds free pages, when
// that is known).
std::string ReclaimAdvice(const TSavingsPlace& place, int64_t before, int64_t after);

// The savings line, followed on the same line by "; " and the advice when
// there is any, ending in a line break, for a pass that ran on the default
// database (which is asked for a SQLite file's free pages).
std::string PassSavingsLines(const std::string& table, const std::string& field,
                             const TRecompressReport& report);

}  // namespace tersify
