#pragma once
// What the script and transaction-log suites share: the layer started for each
// test, a log sink that keeps trace and error rows in place of the log
// database, and a TvrDatabase pointed at the provider's test database (not connected).

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "db/database.h"
#include "db/layer_unit.h"
#include "db/registries.h"
#include "log/vr_log.h"
#include "tests/db/layer_fixture.h"
#include "tests/log/recording_log_sink.h"
#include "tests/support/provider_matrix.h"

namespace tersify::testing {

// Members are destroyed bottom-up: the database before the log sink and the layer.
class LayerFixture {
 protected:
  explicit LayerFixture(const std::string& provider)
      : test_database_(std::make_unique<TestDatabase>(provider)),
        database_(std::make_unique<TvrDatabase>(nullptr)) {
    ConnectTo(*database_, *test_database_);
  }
  ~LayerFixture() { SQLTraceEnabled = false; }

  void MakeDefault() { DefaultDatabase = database_.get(); }
  // The entries whose sender is sender, in order.
  std::vector<LogEntry> EntriesOf(const TObject* sender) const {
    std::vector<LogEntry> result;
    for (const LogEntry& entry : sink_->Entries())
      if (entry.sender == sender) result.push_back(entry);
    return result;
  }

  TDatabaseLayerScope layer_;
  std::shared_ptr<RecordingLogSink> sink_ = std::make_shared<RecordingLogSink>();
  TScopedLogSink sink_scope_{sink_};
  std::unique_ptr<TestDatabase> test_database_;
  std::unique_ptr<TvrDatabase> database_;
};

}  // namespace tersify::testing
