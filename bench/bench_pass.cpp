// Times a compress pass and a decompress pass of the tool over a generated
// SQLite table of report-like blobs, and plain zlib on the same bytes at the
// same level, in the same run.
//
//   bench_pass [--rows N] [--size BYTES] [--seed S] [--threads N] [--batch ROWS] [--budget MB]
//
// --threads, --batch and --budget are the pass engine's switches (/THREADS=,
// /BATCH= and its in-flight byte budget); left out, the engine's defaults.
//
// Prints rows/s, MB/s, the ratio pass time / codec time for both directions and
// the process's peak resident memory.

#include <malloc.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/report_data.h"
#include "bench/temp_dir.h"
#include "db/database.h"
#include "db/layer_unit.h"
#include "db/registries.h"
#include "tool/pass/rewrite_pool.h"
#include "tool/recompress.h"

namespace {

using tersify::bench::TempDir;

using Clock = std::chrono::steady_clock;

struct Options {
  int rows = 2000;
  size_t size = 40 * 1024;
  uint64_t seed = 1;
  tersify::TRecompressOptions pass;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::runtime_error(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--rows")
      options.rows = std::stoi(value());
    else if (arg == "--size")
      options.size = std::stoul(value());
    else if (arg == "--seed")
      options.seed = std::stoull(value());
    else if (arg == "--threads")
      options.pass.threads = std::stoi(value());
    else if (arg == "--batch")
      options.pass.batch_rows = std::stoi(value());
    else if (arg == "--budget")
      options.pass.budget_bytes = std::stoll(value()) << 20;
    else
      throw std::runtime_error("unknown option " + arg +
                               " (--rows N, --size BYTES, --seed S, --threads N, --batch ROWS, --budget MB)");
  }
  if (options.rows < 1 || options.size < 1) throw std::runtime_error("rows and size must be positive");
  if (options.pass.threads < 0 || options.pass.batch_rows < 1 || options.pass.budget_bytes < 1)
    throw std::runtime_error("threads must be 0 or more, batch and budget 1 or more");
  return options;
}


// The value of row i (1-based): the same bytes for the table and for the codec
// timing, made again rather than kept, so that neither holds the data set.
class RowValues {
 public:
  explicit RowValues(const Options& options) : options_(options), generator_(options.seed) {}
  std::string Next(int row) {
    char name[24];
    std::snprintf(name, sizeof name, "R%07d", row);
    std::string value = generator_.Report(name, options_.size);
    value.resize(options_.size, ' ');
    return value;
  }

 private:
  const Options& options_;
  tersify::bench::ReportGenerator generator_;
};

std::string RowKey(int row) {
  char name[24];
  std::snprintf(name, sizeof name, "R%07d", row);
  return name;
}

void CreateTable(const std::string& file, const Options& options) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open(file.c_str(), &raw);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
  if (rc != SQLITE_OK) throw std::runtime_error("cannot create the benchmark database");
  sqlite3_exec(raw, "create table tqz_reports(acReport varchar(20) primary key, acReportData blob); begin",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* stmt_raw = nullptr;
  sqlite3_prepare_v2(raw, "insert into tqz_reports values (?, ?)", -1, &stmt_raw, nullptr);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(stmt_raw, sqlite3_finalize);
  RowValues values(options);
  for (int i = 1; i <= options.rows; ++i) {
    const std::string key = RowKey(i);
    const std::string value = values.Next(i);
    sqlite3_bind_text(stmt.get(), 1, key.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob64(stmt.get(), 2, value.data(), value.size(), SQLITE_TRANSIENT);
    if (sqlite3_step(stmt.get()) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(raw));
    sqlite3_reset(stmt.get());
  }
  sqlite3_exec(raw, "commit", nullptr, nullptr, nullptr);
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Plain zlib at the level the layer uses by default (6) on the same values:
// each compressed and decompressed once; only the codec calls are timed.
void TimeCodec(const Options& options, double& deflate_seconds, double& inflate_seconds,
               double& megabytes) {
  RowValues values(options);
  deflate_seconds = inflate_seconds = megabytes = 0;
  std::string packed, plain;
  for (int i = 1; i <= options.rows; ++i) {
    const std::string value = values.Next(i);
    megabytes += static_cast<double>(value.size()) / (1024.0 * 1024.0);
    uLongf length = compressBound(static_cast<uLong>(value.size()));
    packed.resize(length);
    auto start = Clock::now();
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &length,
                  reinterpret_cast<const Bytef*>(value.data()), static_cast<uLong>(value.size()), 6) != Z_OK)
      throw std::runtime_error("compress2 failed");
    deflate_seconds += Seconds(Clock::now() - start);
    plain.resize(value.size());
    uLongf plain_length = static_cast<uLongf>(plain.size());
    start = Clock::now();
    if (uncompress(reinterpret_cast<Bytef*>(plain.data()), &plain_length,
                   reinterpret_cast<const Bytef*>(packed.data()), length) != Z_OK)
      throw std::runtime_error("uncompress failed");
    inflate_seconds += Seconds(Clock::now() - start);
  }
}

double RunPass(int command, int expected_rows, const tersify::TRecompressOptions& pass) {
  int32_t processed = 0, skipped = 0;
  auto start = Clock::now();
  if (!tersify::RecompressTable(false, command, "tqz_reports", "acReportData", "acReport",
                                tersify::TRecompressProgressEvent(), processed, skipped, nullptr, pass))
    throw std::runtime_error("the pass failed");
  double seconds = Seconds(Clock::now() - start);
  if (processed != expected_rows)
    throw std::runtime_error("the pass rewrote " + std::to_string(processed) + " of " +
                             std::to_string(expected_rows) + " rows");
  return seconds;
}

long PeakResidentKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Starts the resident-memory high-water mark again from the current size
// (Linux, glibc), so that the passes are measured without the codec timing before
// them; false where the system does not offer it.
bool ResetPeakResident() {
  malloc_trim(0);  // what the codec timing freed goes back to the system first
  std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (!f) return false;
  const bool ok = std::fputs("5", f) >= 0;
  return std::fclose(f) == 0 && ok;
}

// The high-water mark since the last reset (VmHWM), in KiB; -1 when unknown.
long PeakResidentSinceResetKiB() {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
  std::fclose(f);
  return kib;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = ParseOptions(argc, argv);
    TempDir dir;
    const std::string file = dir.Path() + "/pass.db";
    double deflate_seconds = 0, inflate_seconds = 0, megabytes = 0;
    CreateTable(file, options);
    TimeCodec(options, deflate_seconds, inflate_seconds, megabytes);

    tersify::TDatabaseLayerScope layer;
    auto owner = std::make_unique<tersify::TvrDatabase>(nullptr);
    tersify::TvrDatabase* database = owner.get();
    tersify::DefaultDatabase = database;
    database->SetServer("sqlite");
    database->SetDatabaseName(file);
    database->SetConnected(true);

    const bool peak_reset = ResetPeakResident();
    const double compress_seconds = RunPass(1, options.rows, options.pass);
    const double decompress_seconds = RunPass(2, options.rows, options.pass);
    owner.reset();

    std::printf("rows %d of %zu bytes (%.1f MB), threads %d, batch %d, budget %lld MB\n", options.rows,
                options.size, megabytes, tersify::TRewritePool::ThreadsFor(options.pass.threads),
                options.pass.batch_rows, static_cast<long long>(options.pass.budget_bytes >> 20));
    std::printf("compress pass:   %8.3f s  %9.0f rows/s  %7.1f MB/s  zlib %.3f s  pass/codec %.2f\n",
                compress_seconds, options.rows / compress_seconds, megabytes / compress_seconds,
                deflate_seconds, compress_seconds / deflate_seconds);
    std::printf("decompress pass: %8.3f s  %9.0f rows/s  %7.1f MB/s  zlib %.3f s  pass/codec %.2f\n",
                decompress_seconds, options.rows / decompress_seconds, megabytes / decompress_seconds,
                inflate_seconds, decompress_seconds / inflate_seconds);
    std::printf("peak resident memory: %.1f MB\n", PeakResidentKiB() / 1024.0);
    if (peak_reset)
      std::printf("peak resident memory of the passes: %.1f MB (target 96 MB + 2 x %.1f MB)\n",
                  PeakResidentSinceResetKiB() / 1024.0, static_cast<double>(options.size) / (1024.0 * 1024.0));
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_pass: %s\n", e.what());
    return 2;
  }
}
