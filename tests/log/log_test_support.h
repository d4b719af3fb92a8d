#pragma once
// Helpers for the diagnostic log's suites: a scratch directory, reading table
// Log back with SQLite directly, and holding another connection's lock.

#include <sqlite3.h>

#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/rtl/platform.h"

namespace tersify::testing {

// A new empty directory, removed with everything in it at the end of the scope.
class ScratchDir {
 public:
  ScratchDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const std::string candidate = TempDirectoryPath() + "logtest." + std::to_string(random());
      if (std::filesystem::create_directory(candidate)) path_ = candidate;
    }
    if (path_.empty()) throw std::runtime_error("no scratch directory could be made");
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// One row of table Log: column name -> value as text (nullopt for NULL),
// plus "typeof(BuildNo)" and "typeof(TickCount)".
using LogRow = std::map<std::string, std::optional<std::string>>;

class SqliteConnection {
 public:
  explicit SqliteConnection(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      std::string message = sqlite3_errmsg(db_);
      sqlite3_close_v2(db_);
      throw std::runtime_error("cannot open " + path + ": " + message);
    }
    sqlite3_busy_timeout(db_, 5000);  // the log may be writing a batch just then
  }
  ~SqliteConnection() { sqlite3_close_v2(db_); }
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  void Exec(const std::string& sql) {
    char* error = nullptr;
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
    std::string message = error ? error : "";
    sqlite3_free(error);
    if (rc != SQLITE_OK) throw std::runtime_error(sql + ": " + message);
  }

  std::vector<LogRow> Query(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
      throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
    std::vector<LogRow> rows;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
      LogRow row;
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        std::optional<std::string> value;
        if (sqlite3_column_type(statement, i) != SQLITE_NULL) {
          const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
          value = std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement, i)));
        }
        row[sqlite3_column_name(statement, i)] = value;
      }
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE) throw std::runtime_error(sql + ": " + sqlite3_errstr(rc));
    return rows;
  }

 private:
  sqlite3* db_ = nullptr;
};

// Every row of table Log in the order of AnNo.
inline std::vector<LogRow> ReadLog(const std::string& path) {
  SqliteConnection connection(path);
  return connection.Query(
      "select *, typeof(BuildNo) as \"typeof(BuildNo)\", typeof(TickCount) as \"typeof(TickCount)\" "
      "from Log order by AnNo");
}

}  // namespace tersify::testing
