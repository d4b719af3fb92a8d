#include "db/layer_unit.h"

#include <chrono>
#include <memory>
#include <vector>

#include "db/database.h"
#include "db/dataset.h"
#include "db/registries.h"
#include "db/report_adapter.h"
#include "db/script.h"
#include "db/trans_log_thread.h"
#include "log/vr_log.h"

namespace tersify {

namespace {

// How long shutdown waits for transaction-log saving threads still running.
constexpr std::chrono::seconds kSavingThreadsWait{5};

template <class T>
void CreateWhenMissing(std::unique_ptr<T>& registry) {
  if (!registry) registry = std::make_unique<T>();
}

// How an error row of the diagnostic log describes one of the layer's
// components as its sender.
std::string DescribeSender(TObject* sender) {
  if (auto* dataset = dynamic_cast<TvrDataset*>(sender))
    return "TableName --> " + dataset->UpdatingTable() + "\r\n" + "SQL --> " + dataset->SQL().Text();
  if (auto* script = dynamic_cast<TvrScript*>(sender))
    return "SQL --> " + (script->SQL() ? script->SQL()->Text() : std::string());
  if (auto* stored_proc = dynamic_cast<TvrStoredProc*>(sender)) return "SP name --> " + stored_proc->StoredProcName();
  return {};
}

}  // namespace

void StartDatabaseLayer() {
  CreateWhenMissing(DatasetRegistry);
  CreateWhenMissing(DatabaseRegistry);
  CreateWhenMissing(DataSourceRegistry);
  CreateWhenMissing(StoredProcRegistry);
  CreateWhenMissing(ScriptRegistry);
  DefaultDatabase = nullptr;
  DefaultConnectionType = ctSDAC;
  CreatingScript = {};
  CreateWhenMissing(ReportCompanions);
  // The log learns the trace switch and how to describe the layer's components.
  SetLogLayerHooks({[] { return SQLTraceEnabled.load(); }, &DescribeSender});
}

void ShutdownDatabaseLayer() {
  // Saving threads still running read the default database and call its
  // handler: they end before it goes, unless one hangs past the bound.
  TSaveTransLogThread::WaitForAll(kSavingThreadsWait);
  SetLogLayerHooks({});
  // (1) The default database; its destructor clears the reference and leaves
  // DatabaseRegistry. A component destroyed while it is owned leaves its
  // owner's list.
  if (TvrDatabase* database = DefaultDatabase.load()) {
    std::unique_ptr<TvrDatabase> destroyed(database);
  }
  // (2) The datasets still alive belong to their owners, to a stack frame or
  // to static storage, never to the layer: they are closed and detached from
  // their connection, and destroyed by whoever holds them. A close runs the
  // dataset's handlers; shutdown has no caller to hand their error to.
  if (DatasetRegistry) {
    const std::vector<TvrDataset*> left = DatasetRegistry->List();
    for (TvrDataset* dataset : left) {
      try {
        dataset->Close();
      } catch (...) {
      }
      dataset->SetDatabase(nullptr);
      dataset->SetConnection(nullptr);
    }
    DatasetRegistry.reset();
  }
  // (3) Adapters left, (4) the plain registries.
  ReportCompanions.reset();
  DataSourceRegistry.reset();
  StoredProcRegistry.reset();
  ScriptRegistry.reset();
  DatabaseRegistry.reset();
}

}  // namespace tersify
