#pragma once
// Fixtures of the database layer's suites: the layer started for each test,
// a TvrDatabase pointed at a provider's test database, raw reads of the stored
// bytes, and a log sink that keeps trace rows.


#include <memory>
#include <mutex>
#include <random>
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
  return test_db.StoredBytes(sql);
}

// n bytes that zlib cannot shrink, the same for the same seed.
inline std::string Incompressible(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
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
