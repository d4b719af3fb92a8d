// The loop a DBA would write instead of the tool, as the yardstick for the
// pass: the sqlite3 C API, every row selected, zlib's compress2 at level 6 (or
// uncompress), one UPDATE per row, in autocommit or inside one transaction.
// Rules as the tool's: values of 100 bytes or less, and values already in the
// wanted form, are left alone; an envelope is stored only when it is smaller.
//
//   bench_baseline make FILE [--rows N] [--size BYTES] [--min-size BYTES] [--seed S]
//       a tqz_reports table of report-like values, the data of bench_pass;
//       with --min-size each value's length is drawn from [min-size, size]
//   bench_baseline compress|decompress FILE [--transaction]
//       one pass; prints "rows N rewritten M seconds S"
//   bench_baseline odbc-compress|odbc-decompress --server HOST[,PORT]
//                  --database D --user U --password P [--transaction]
//       the same pass against SQL Server (or the TDS test server) through
//       ODBC, with the driver and connection keywords of the tool; prints
//       "rows N rewritten M seconds S"
//   bench_baseline zlib FILE
//       one core's plain codec over the stored values, nothing written: each
//       plain value through compress2 at level 6, each envelope through
//       uncompress; only the codec calls are timed; prints "rows N seconds S"
//
// Exits with 2 on any failure.

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "bench/baseline_odbc.h"
#include "bench/envelope_rules.h"
#include "bench/report_data.h"

namespace {

using Clock = std::chrono::steady_clock;
using tersify::bench::Compress;
using tersify::bench::Decompress;
using tersify::bench::IsEnvelope;
using tersify::bench::kSmallestRewritten;
using tersify::bench::Rewrite;

using Db = std::unique_ptr<sqlite3, int (*)(sqlite3*)>;
using Stmt = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
  throw std::runtime_error(what + ": " + sqlite3_errmsg(db));
}

Db Open(const std::string& file, int flags) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
  Db db(raw, sqlite3_close);
  if (rc != SQLITE_OK) Fail(raw, "cannot open " + file);
  return db;
}

Stmt Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) Fail(db, sql);
  return Stmt(raw, sqlite3_finalize);
}

void Exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(db, sql);
}

int Make(const std::string& file, int rows, size_t size, size_t min_size, uint64_t seed) {
  Db db = Open(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  Exec(db.get(), "create table tqz_reports(acReport varchar(20) primary key, acReportData blob); begin");
  Stmt insert = Prepare(db.get(), "insert into tqz_reports values (?, ?)");
  tersify::bench::ReportGenerator generator(seed);
  for (int i = 1; i <= rows; ++i) {
    const std::string key = tersify::bench::RowKey(i);
    const size_t length = min_size > 0 && min_size < size ? generator.Between(min_size, size) : size;
    const std::string value = tersify::bench::RowValue(generator, i, length);
    sqlite3_bind_text(insert.get(), 1, key.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob64(insert.get(), 2, value.data(), value.size(), SQLITE_TRANSIENT);
    if (sqlite3_step(insert.get()) != SQLITE_DONE) Fail(db.get(), "insert");
    sqlite3_reset(insert.get());
  }
  Exec(db.get(), "commit");
  return 0;
}

int Pass(const std::string& file, bool compress, bool transaction) {
  Db db = Open(file, SQLITE_OPEN_READWRITE);
  const Clock::time_point start = Clock::now();
  if (transaction) Exec(db.get(), "begin");
  Stmt select = Prepare(db.get(), "select acReport, acReportData from tqz_reports");
  Stmt update = Prepare(db.get(), "update tqz_reports set acReportData = ? where acReport = ?");
  int rows = 0, rewritten = 0;
  std::string out;
  int rc;
  while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
    ++rows;
    const char* data = static_cast<const char*>(sqlite3_column_blob(select.get(), 1));
    const size_t size = static_cast<size_t>(sqlite3_column_bytes(select.get(), 1));
    if (!Rewrite(compress, data, size, out)) continue;
    sqlite3_bind_blob64(update.get(), 1, out.data(), out.size(), SQLITE_STATIC);
    sqlite3_bind_value(update.get(), 2, sqlite3_column_value(select.get(), 0));
    if (sqlite3_step(update.get()) != SQLITE_DONE) Fail(db.get(), "update");
    if (sqlite3_changes(db.get()) != 1) throw std::runtime_error("an update wrote no row or several");
    sqlite3_reset(update.get());
    ++rewritten;
  }
  if (rc != SQLITE_DONE) Fail(db.get(), "select");
  select.reset();
  if (transaction) Exec(db.get(), "commit");
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("rows %d rewritten %d seconds %.3f\n", rows, rewritten, seconds);
  return 0;
}

// The codec alone, on one core, over the bytes a pass would rewrite: the
// yardstick for the pass's threads.
int Codec(const std::string& file) {
  Db db = Open(file, SQLITE_OPEN_READONLY);
  Stmt select = Prepare(db.get(), "select acReportData from tqz_reports");
  int rows = 0;
  Clock::duration codec{};
  std::string out;
  int rc;
  while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
    const char* data = static_cast<const char*>(sqlite3_column_blob(select.get(), 0));
    const size_t size = static_cast<size_t>(sqlite3_column_bytes(select.get(), 0));
    if (!data || size <= kSmallestRewritten) continue;
    ++rows;
    const Clock::time_point start = Clock::now();
    if (IsEnvelope(data, size))
      Decompress(data, size, out);
    else
      Compress(data, size, out);
    codec += Clock::now() - start;
  }
  if (rc != SQLITE_DONE) Fail(db.get(), "select");
  std::printf("rows %d seconds %.3f\n", rows, std::chrono::duration<double>(codec).count());
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: bench_baseline make FILE [--rows N] [--size BYTES] [--min-size BYTES] [--seed S]\n"
               "       bench_baseline compress|decompress FILE [--transaction]\n"
               "       bench_baseline odbc-compress|odbc-decompress --server HOST[,PORT] --database D\n"
               "                      --user U --password P [--transaction]\n"
               "       bench_baseline zlib FILE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  const bool odbc = command == "odbc-compress" || command == "odbc-decompress";
  if (!odbc && argc < 3) return Usage();
  const std::string file = odbc ? std::string() : argv[2];
  int rows = 2000;
  size_t size = 40 * 1024;
  size_t min_size = 0;
  uint64_t seed = 1;
  bool transaction = false;
  tersify::bench::OdbcTarget target;
  try {
    for (int i = odbc ? 2 : 3; i < argc; ++i) {
      const std::string arg = argv[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw std::runtime_error(arg + " needs a value");
        return argv[++i];
      };
      if (arg == "--transaction") transaction = true;
      else if (!odbc && arg == "--rows") rows = std::stoi(value());
      else if (!odbc && arg == "--size") size = std::stoul(value());
      else if (!odbc && arg == "--min-size") min_size = std::stoul(value());
      else if (!odbc && arg == "--seed") seed = std::stoull(value());
      else if (odbc && arg == "--server") target.server = value();
      else if (odbc && arg == "--database") target.database = value();
      else if (odbc && arg == "--user") target.user = value();
      else if (odbc && arg == "--password") target.password = value();
      else return Usage();
    }
    if (odbc) {
      if (target.server.empty()) return Usage();
      tersify::bench::OdbcPass(target, command == "odbc-compress", transaction);
      return 0;
    }
    if (command == "make") return Make(file, rows, size, min_size, seed);
    if (command == "compress" || command == "decompress")
      return Pass(file, command == "compress", transaction);
    if (command == "zlib") return Codec(file);
    return Usage();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_baseline: %s\n", e.what());
    return 2;
  }
}
