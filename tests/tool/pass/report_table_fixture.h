#pragma once
// The table the pass suites run against: tqz_reports (acReport the key,
// acTitle, acReportData the blob column) on a test database of one provider,
// filled with report-like text, and the database layer connected to it as
// the default database. TearDown undoes it all, in order.

#include <cstddef>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "db/database.h"
#include "db/registries.h"
#include "tests/db/layer_fixture.h"

namespace tersify::testing {

// Report-like text of n bytes, the same for the same seed; zlib shrinks it well.
inline std::string ReportText(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < n) text += "<Memo Name=\"M" + std::to_string(random() % 300) + "\"/>\r\n";
  text.resize(n);
  return text;
}

// The key of the i-th row, in key order.
inline std::string ReportKey(int i) { return "K" + std::to_string(1000 + i); }

template <class TestBase>
class ReportTableFixture : public TestBase {
 protected:
  void TearDown() override {
    database_.reset();
    if (layer_started_) ShutdownDatabaseLayer();
    layer_started_ = false;
    test_db_.reset();
  }

  // Starts the layer and creates the empty table on a new test database.
  void OpenTable(const std::string& provider, const TdsServerRules& rules = {}) {
    StartDatabaseLayer();
    layer_started_ = true;
    test_db_ = std::make_unique<TestDatabase>(provider, rules);
    test_db_->ExecDirect(
        "create table tqz_reports (acReport varchar(20) primary key, acTitle text, acReportData blob)");
  }
  // rows rows in one request, the i-th holding ReportText(bytes_of(i), i).
  void FillTable(int rows, const std::function<size_t(int)>& bytes_of) const {
    std::string sql;
    for (int i = 0; i < rows; ++i)
      sql += "insert into tqz_reports values ('" + ReportKey(i) + "', 'T', " +
             HexLiteral(ReportText(bytes_of(i), static_cast<unsigned>(i))) + ");";
    test_db_->ExecDirect(sql);
  }
  // The layer's default database, connected to the test database.
  void Connect() {
    database_ = std::make_unique<TvrDatabase>(nullptr);
    ConnectTo(*database_, *test_db_);
    DefaultDatabase = database_.get();
    database_->SetConnected(true);
  }

  std::unique_ptr<TestDatabase> test_db_;
  std::unique_ptr<TvrDatabase> database_;

 private:
  bool layer_started_ = false;
};

}  // namespace tersify::testing
