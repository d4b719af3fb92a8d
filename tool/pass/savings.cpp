#include "tool/pass/savings.h"

#include <cctype>
#include <cmath>
#include <exception>
#include <iterator>

#include "client/ms_connection.h"
#include "db/database.h"
#include "db/registries.h"
#include "framework/rtl/exception.h"

namespace tersify {
namespace {

// 36680 -> "36,680" (counts are never negative).
std::string GroupedDigits(int64_t n) {
  const std::string digits = std::to_string(n);
  std::string grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

// "on demo/reports.db" or "in reports on sqlhost,1433".
std::string PlaceText(const TSavingsPlace& place) {
  if (place.sqlite || place.database.empty()) return "on " + (place.sqlite ? place.database : place.server);
  return "in " + place.database + " on " + place.server;
}

// A path as a shell takes it: quoted when it holds more than plain characters.
std::string ShellWord(const std::string& text) {
  bool plain = !text.empty();
  for (char c : text)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || std::string("/._-+,:@%=").find(c) != std::string::npos))
      plain = false;
  if (plain) return text;
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The file's free pages and their bytes, asked of SQLite; false when it does
// not say (the advice then goes by the column's bytes alone).
bool ReadFreePages(providers::Provider& provider, int64_t& pages, int64_t& bytes) {
  try {
    auto cursor = provider.Execute(
        "select f.freelist_count, p.page_size from pragma_freelist_count() f, pragma_page_size() p", {});
    if (!cursor->Next()) return false;
    pages = cursor->Value(0).AsInt64();
    bytes = pages * cursor->Value(1).AsInt64();
    cursor->Close();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

std::string StoredSizeText(int64_t bytes) {
  if (bytes < 1024 && bytes > -1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  double size = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  // A size that would print as 1024.00 of a unit is 1.00 of the next.
  while (std::fabs(size) >= 1023.995 && unit + 1 < std::size(kUnits)) {
    size /= 1024;
    ++unit;
  }
  return Format("%.2f %s", size, kUnits[unit]);
}

std::string SavingsLine(const TSavingsPlace& place, int64_t before, int64_t after) {
  std::string line = place.table + "." + place.field + " " + PlaceText(place) + ": " + StoredSizeText(before) +
                     " -> " + StoredSizeText(after) + ", ";
  if (before == after || before <= 0) return line + "unchanged";
  const double change = 100.0 * static_cast<double>(after > before ? after - before : before - after) /
                        static_cast<double>(before);
  // A change is never rounded away, nor a column that still holds bytes to nothing.
  int64_t percent = std::llround(change);
  if (percent == 0) percent = 1;
  if (after < before && after > 0 && percent >= 100) percent = 99;
  return line + std::to_string(percent) + (after < before ? " % smaller" : " % larger");
}

std::string ReclaimAdvice(const TSavingsPlace& place, int64_t before, int64_t after) {
  if (after >= before) return {};
  if (place.sqlite) {
    if (place.free_pages == 0) return {};  // the file gives pages back by itself (auto_vacuum)
    const std::string held =
        place.free_pages > 0 ? GroupedDigits(place.free_pages) + (place.free_pages == 1 ? " free page (" : " free pages (") +
                                   StoredSizeText(place.free_bytes) + ")"
                             : "the freed pages";
    return place.database + " keeps " + held + " inside the file: VACUUM gives them back (sqlite3 " +
           ShellWord(place.database) +
           " VACUUM; advice, never run by tersify: it rewrites the whole file, needs as much free disk space "
           "again and locks the file while it runs)";
  }
  return "SQL Server gives the freed pages back only after LOB compaction: ALTER INDEX ALL ON " + place.table +
         " REORGANIZE WITH (LOB_COMPACTION = ON), then a file shrink (DBCC SHRINKFILE) if the file itself "
         "should shrink (advice, never run by tersify: both are work for a maintenance window)";
}

std::string PassSavingsLines(const std::string& table, const std::string& field,
                             const TRecompressReport& report) {
  TSavingsPlace place;
  place.table = table;
  place.field = field;
  // The pass has just run on the default database, so its connection is open.
  TvrDatabase* database = DefaultDatabase;
  TMSConnection* connection = database ? database->ClientConnection() : nullptr;
  if (database) {
    place.server = database->Server();
    if (database->Port() != 0) place.server += " port " + std::to_string(database->Port());
    place.database = database->DatabaseName();
  }
  if (connection && connection->Connected()) {
    providers::Provider& provider = connection->GetProvider();
    place.sqlite = provider.Name() == "sqlite";
    if (place.sqlite && !ReadFreePages(provider, place.free_pages, place.free_bytes)) place.free_pages = -1;
  }
  // One line, so that the advice is never read apart from the change it is about.
  std::string line = SavingsLine(place, report.stored_bytes_read, report.stored_bytes_left);
  const std::string advice = ReclaimAdvice(place, report.stored_bytes_read, report.stored_bytes_left);
  if (!advice.empty()) line += "; " + advice;
  return line + "\n";
}

}  // namespace tersify
