#pragma once
// Fixtures of the database layer's suites: the layer started for each test,
// a TvrDatabase pointed at a provider's test database, raw reads of the stored
// bytes, and a log sink that keeps trace rows.

#include <sqlite3.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/database.h"
#include "db/dataset.h"
#include "db/layer_unit.h"
#include "db/registries.h"
#include "log/log_sink.h"
#include "log/vr_log.h"
#include "tests/support/provider_matrix.h"

namespace tersify::testing {

// Points db at the test database (server, database, login, port, options).
inline void ConnectTo(TvrDatabase& db, const TestDatabase& test_db) {
  const providers::ConnectionSettings& s = test_db.Settings();
  db.SetServer(s.server);
  db.SetDatabaseName(s.database);
  db.SetUsername(s.username);
  db.SetPassword(s.password);
  db.SetPort(s.port);
  db.SpecificOptions().Clear();
  for (const std::string& line : s.specific_options) db.SpecificOptions().Add(line);
}

// The first column of the first row of sql, read straight from the SQLite file
// (outside the connection under test); raises when there is no row.
inline std::string RawValue(const TestDatabase& test_db, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(test_db.FilePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot open the test database");
  }
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> guard(db, sqlite3_close);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
    throw std::runtime_error(std::string("cannot prepare: ") + sqlite3_errmsg(db));
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
  if (sqlite3_step(raw) != SQLITE_ROW) throw std::runtime_error("no row: " + sql);
  const void* bytes = sqlite3_column_blob(raw, 0);
  const int size = sqlite3_column_bytes(raw, 0);
  return bytes ? std::string(static_cast<const char*>(bytes), static_cast<size_t>(size)) : std::string();
}

// X'..' literal of bytes, for set-up statements.
inline std::string HexLiteral(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out = "X'";
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out + "'";
}

// Keeps the trace rows handed to the log.
class RecordingSink : public TLogSink {
 public:
  struct Row {
    TObject* sender;
    std::string operation;
    std::string detail;
  };
  void LogTrace(TObject* sender, const std::string& operation, const std::string& detail) override {
    std::lock_guard<std::mutex> lock(mutex_);
    rows_.push_back({sender, operation, detail});
  }
  void LogException(const Exception*, TObject*, const std::string&, const std::string&) override {}
  std::vector<Row> Rows() {
    std::lock_guard<std::mutex> lock(mutex_);
    return rows_;
  }

 private:
  std::mutex mutex_;
  std::vector<Row> rows_;
};

// The layer is started before each test and shut down after it.
class LayerTest : public ::testing::Test {
 protected:
  void SetUp() override { StartDatabaseLayer(); }
  void TearDown() override {
    SQLTraceEnabled = false;
    DeleteErrorHook = nullptr;
    ShutdownDatabaseLayer();
  }
};

// The same, with a fresh test database of the provider given as parameter.
class ProviderLayerTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    StartDatabaseLayer();
    test_db_ = std::make_unique<TestDatabase>(GetParam());
  }
  void TearDown() override {
    SQLTraceEnabled = false;
    DeleteErrorHook = nullptr;
    ShutdownDatabaseLayer();
    test_db_.reset();
  }

  // A database pointed at this test's database, not yet connected.
  std::unique_ptr<TvrDatabase> MakeDatabase() {
    auto db = std::make_unique<TvrDatabase>(nullptr);
    ConnectTo(*db, *test_db_);
    return db;
  }
  std::unique_ptr<TvrDatabase> ConnectedDatabase() {
    auto db = MakeDatabase();
    db->SetConnected(true);
    return db;
  }
  const TestDatabase& Db() const { return *test_db_; }

  std::unique_ptr<TestDatabase> test_db_;
};

}  // namespace tersify::testing
