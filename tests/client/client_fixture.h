#pragma once
// The client suite's fixture: a fresh database per test on one provider of the
// matrix, a TMSConnection set up for it, and helpers to open queries.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "client/ms_connection.h"
#include "client/ms_dataset.h"
#include "framework/rtl/platform.h"
#include "tests/support/provider_matrix.h"

namespace tersify::testing {

class ClientTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db_ = std::make_unique<TestDatabase>(GetParam());
    connection_ = std::make_unique<TMSConnection>(nullptr);
    const providers::ConnectionSettings& s = db_->Settings();
    connection_->SetServer(s.server);
    connection_->SetDatabase(s.database);
    connection_->SetUsername(s.username);
    connection_->SetPassword(s.password);
    connection_->SetPort(s.port);
  }

  void TearDown() override {
    connection_.reset();
    db_.reset();
  }

  TMSConnection& Connection() { return *connection_; }
  const TestDatabase& Db() const { return *db_; }

  // A query on the connection with the given text, not yet open.
  std::unique_ptr<TMSQuery> Query(const std::string& sql) {
    auto query = std::make_unique<TMSQuery>(nullptr);
    query->SetConnection(connection_.get());
    query->SetSQLText(sql);
    return query;
  }

  std::unique_ptr<TMSQuery> Opened(const std::string& sql) {
    auto query = Query(sql);
    query->Open();
    return query;
  }

  // The first value of a query's first row, read on a fresh query.
  Variant Scalar(const std::string& sql) {
    auto query = Opened(sql);
    if (query->IsEmpty()) return Variant();
    return query->Fields(0)->Value();
  }

  std::unique_ptr<TestDatabase> db_;
  std::unique_ptr<TMSConnection> connection_;
};

}  // namespace tersify::testing
