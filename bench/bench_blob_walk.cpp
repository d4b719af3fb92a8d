// A pass over a table of large blobs must hold only a few copies of the
// largest one: 2,000 rows of 1 MB are opened with FetchAll, every blob is read
// once, and the process's peak resident memory has to stay below 100 MB.
//
// Prints the elapsed times and the peak; exits with 1 when the peak is too
// high or a value read differs from the one written, 2 on any other failure.

#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "bench/temp_dir.h"
#include "client/ms_connection.h"
#include "client/ms_dataset.h"

namespace {

using tersify::bench::TempDir;

constexpr int kRows = 2000;
constexpr size_t kBlobSize = 1024 * 1024;
constexpr long kLimitKiB = 100 * 1024;

// The blob of row `id`: bytes from a generator seeded by the id, so that
// every row differs and any mix-up between rows shows.
void FillBlob(int id, std::string& out) {
  out.resize(kBlobSize);
  uint64_t x = 0x9E3779B97F4A7C15ull * static_cast<uint64_t>(id + 1);
  for (size_t i = 0; i < out.size(); i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    for (size_t k = 0; k < 8 && i + k < out.size(); ++k) out[i + k] = static_cast<char>(x >> (8 * k));
  }
}


void Check(sqlite3* db, int rc, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

void CreateDatabase(const std::string& file) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open(file.c_str(), &db);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> guard(db, sqlite3_close);
  Check(db, rc, "open");
  Check(db, sqlite3_exec(db, "create table reports (acReport integer primary key, acTitle varchar(40),"
                             " acReportData blob); begin",
                         nullptr, nullptr, nullptr),
        "create");
  sqlite3_stmt* raw = nullptr;
  Check(db, sqlite3_prepare_v2(db, "insert into reports values (?, ?, ?)", -1, &raw, nullptr), "prepare");
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
  std::string blob;
  for (int id = 1; id <= kRows; ++id) {
    FillBlob(id, blob);
    const std::string title = "report " + std::to_string(id);
    sqlite3_bind_int(raw, 1, id);
    sqlite3_bind_text(raw, 2, title.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob(raw, 3, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
    Check(db, sqlite3_step(raw), "insert");
    sqlite3_reset(raw);
  }
  Check(db, sqlite3_exec(db, "commit", nullptr, nullptr, nullptr), "commit");
}

// Peak resident memory in KiB: VmHWM, else ru_maxrss.
long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main() {
  using namespace tersify;
  try {
    TempDir dir;
    const std::string file = dir.Path() + "/blobs.db";
    auto start = std::chrono::steady_clock::now();
    CreateDatabase(file);
    std::printf("created %d rows of %zu bytes in %.2f s\n", kRows, kBlobSize, Seconds(start));
    const long after_create = PeakResidentKiB();

    TMSConnection connection(nullptr);
    connection.SetServer("sqlite");
    connection.SetDatabase(file);
    TMSQuery query(nullptr);
    query.SetConnection(&connection);
    query.SetFetchAll(true);
    query.SetSQLText("select acReport, acTitle, acReportData from reports order by acReport");

    start = std::chrono::steady_clock::now();
    query.Open();
    const double open_seconds = Seconds(start);
    if (query.RecordCount() != kRows) {
      std::printf("FAIL: %d rows counted, %d expected\n", query.RecordCount(), kRows);
      return 1;
    }

    start = std::chrono::steady_clock::now();
    std::string expected;
    int64_t bytes = 0;
    int rows = 0;
    for (query.First(); !query.Eof(); query.Next()) {
      const int id = query.FieldByName("acReport")->AsInteger();
      const std::string value = query.FieldByName("acReportData")->AsString();
      FillBlob(id, expected);
      if (value != expected) {
        std::printf("FAIL: row %d read %zu bytes that differ from the %zu written\n", id, value.size(),
                    expected.size());
        return 1;
      }
      bytes += static_cast<int64_t>(value.size());
      ++rows;
    }
    const double walk_seconds = Seconds(start);
    const long peak = PeakResidentKiB();

    std::printf("opened in %.3f s; walked %d rows, %.1f MB, in %.2f s (%.1f MB/s)\n", open_seconds, rows,
                static_cast<double>(bytes) / 1048576.0, walk_seconds,
                static_cast<double>(bytes) / 1048576.0 / walk_seconds);
    std::printf("peak resident memory: %.1f MB (after creating the file: %.1f MB; limit %.0f MB)\n",
                static_cast<double>(peak) / 1024.0, static_cast<double>(after_create) / 1024.0,
                static_cast<double>(kLimitKiB) / 1024.0);
    if (rows != kRows) {
      std::printf("FAIL: walked %d rows, %d expected\n", rows, kRows);
      return 1;
    }
    if (peak >= kLimitKiB) {
      std::printf("FAIL: peak resident memory above the limit\n");
      return 1;
    }
    std::printf("OK\n");
    return 0;
  } catch (const std::exception& e) {
    std::printf("FAIL: %s\n", e.what());
    return 2;
  }
}
