#include "tool/run_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "framework/rtl/exception.h"
#include "framework/rtl/json_writer.h"
#include "framework/rtl/platform.h"

namespace tersify {
namespace {

std::optional<std::string> KeyOrNone(const Variant& key) {
  if (key.IsNull()) return std::nullopt;
  return KeyText(key);
}

}  // namespace

const char* PassEndName(TPassEnd end) {
  switch (end) {
    case TPassEnd::Completed: return "completed";
    case TPassEnd::Stopped: return "stopped";
    case TPassEnd::Cancelled: return "cancelled";
    case TPassEnd::Failed: return "failed";
  }
  return "failed";
}

void TakePassReport(const TRecompressReport& report, int32_t processed, int32_t skipped, TRunAccount& account) {
  account.end = PassEndName(report.end);
  account.records_processed = processed;
  account.records_skipped = skipped;
  account.bytes_read = report.stored_bytes_read;
  account.bytes_written = report.stored_bytes_written;
  account.first_key = report.first_key;
  account.last_key = report.resume_key;
  account.changed_rows = report.changed_rows;
  account.deleted_rows = report.deleted_rows;
  account.unidentified_keys = report.unidentified_keys;
  account.damaged_keys = report.damaged_keys;
  if (!report.key_name.empty()) account.key = report.key_name;
  if (report.end == TPassEnd::Failed) account.error = report.error;
}

std::string Iso8601(std::chrono::system_clock::time_point moment) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(moment);
  const std::tm local = LocalTimeOf(seconds);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  // strftime writes the offset as +0100; ISO 8601's extended form is +01:00.
  std::string out = text;
  if (out.size() >= 5) out.insert(out.size() - 2, ":");
  return out;
}

std::string RunAccountJson(const TRunAccount& account) {
  const double seconds = std::chrono::duration<double>(account.ended - account.started).count();
  TJsonObject json;
  json.Add("command", account.command)
      .Add("server", account.server)
      .Add("database", account.database)
      .Add("table", account.table)
      .Add("field", account.field)
      .Add("key", account.key)
      .Add("start_time", Iso8601(account.started))
      .Add("end_time", Iso8601(account.ended))
      .Add("end", account.end)
      .Add("records_processed", account.records_processed)
      .Add("records_skipped", account.records_skipped)
      .Add("bytes_read", account.bytes_read)
      .Add("bytes_written", account.bytes_written)
      .Add("seconds", seconds > 0 ? seconds : 0.0)
      .Add("first_key", KeyOrNone(account.first_key))
      .Add("last_key", KeyOrNone(account.last_key))
      .Add("changed_rows", account.changed_rows)
      .Add("deleted_rows", account.deleted_rows)
      .Add("unidentified_keys", account.unidentified_keys)
      .Add("damaged_keys", account.damaged_keys)
      .Add("error", account.error);
  for (const auto& [name, value] : account.figures) json.Add(name, value);
  return json.Text();
}

void WriteRunAccount(const std::string& path, const TRunAccount& account) {
  const std::string text = RunAccountJson(account);
  const std::string beside = path + ".tmp";
  {
    std::ofstream out(beside, std::ios::binary | std::ios::trunc);
    if (!out) throw Exception("Cannot write the report " + beside + ": " + std::strerror(errno));
    out << text;
    out.flush();
    if (!out) {
      const std::string reason = std::strerror(errno);
      out.close();
      std::remove(beside.c_str());
      throw Exception("Cannot write the report " + beside + ": " + reason);
    }
  }
  // std::filesystem::rename replaces a file already there, on Windows too
  // (where the C library's rename refuses to).
  std::error_code error;
  std::filesystem::rename(beside, path, error);
  if (error) {
    const std::string reason = error.message();
    std::remove(beside.c_str());
    throw Exception("Cannot put the report in place as " + path + ": " + reason);
  }
}

}  // namespace tersify
