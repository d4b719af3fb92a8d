#pragma once
// The account of one run (/REPORT=<file>): what was asked, how it ended and
// its figures, as a JSON object written at the end of the run whatever the
// end, beside the file first and then renamed over it, so that a reader
// never finds half an account.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "framework/rtl/variant.h"
#include "tool/pass/options.h"

namespace tersify {

struct TRunAccount {
  std::string command;  // "compress", "decompress", "verify" or "estimate"
  std::string server, database, table, field, key;  // never a password
  std::chrono::system_clock::time_point started{}, ended{};
  std::string end = "completed";  // "completed", "stopped", "cancelled" or "failed"
  int64_t records_processed = 0;
  int64_t records_skipped = 0;
  int64_t bytes_read = 0;
  int64_t bytes_written = 0;
  Variant first_key, last_key;  // NULL: none
  int64_t changed_rows = 0;
  int64_t deleted_rows = 0;
  std::vector<std::string> unidentified_keys;
  std::vector<std::string> damaged_keys;
  std::optional<std::string> error;
  // Figures of /verify and /estimate of their own, after the others.
  std::vector<std::pair<std::string, int64_t>> figures;
};

// The word of the report for how a pass ended.
const char* PassEndName(TPassEnd end);

// The counts, keys and error of a pass's report into the account.
void TakePassReport(const TRecompressReport& report, int32_t processed, int32_t skipped, TRunAccount& account);

// A moment as ISO 8601 local time with its offset: "2026-12-10T14:03:16+01:00".
std::string Iso8601(std::chrono::system_clock::time_point moment);

// The account as a JSON object. Keys are written as /FROM= reads them (bytes
// in hex), as strings, or null.
std::string RunAccountJson(const TRunAccount& account);

// Writes the account to path through "<path>.tmp" beside it. Raises with the
// reason when it cannot.
void WriteRunAccount(const std::string& path, const TRunAccount& account);

}  // namespace tersify
