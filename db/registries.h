#pragma once
// The layer's process-wide state: the default database, the registries of
// live components, the connection type scripts are made for, the SQL trace
// switch and the delete-error hook.
//
// The registries exist between StartDatabaseLayer() and ShutdownDatabaseLayer()
// (db/layer_unit.h); a component registered before start-up creates its
// registry on first use. A component destroyed after shutdown (one owned by a
// window that outlives the layer) leaves its released registry safely: the
// Unregister... functions do nothing once the registry is gone.

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include "db/database.h"
#include "framework/data/db_error.h"

namespace tersify {

class TDataSet;
class TDataSource;
class TvrDataset;
class TvrScript;
class TvrStoredProc;
class TfrxDBDataset;

// A list of components that does not own them, in the order they were added.
template <class T>
class TComponentRegistry {
 public:
  void Add(T* item) { items_.push_back(item); }
  // Removes the first entry of item; nothing when it is not there.
  void Remove(const T* item) {
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it != items_.end()) items_.erase(it);
  }
  bool Contains(const T* item) const { return std::find(items_.begin(), items_.end(), item) != items_.end(); }
  int Count() const { return static_cast<int>(items_.size()); }
  T* Items(int index) const { return items_.at(static_cast<size_t>(index)); }
  const std::vector<T*>& List() const { return items_; }

 private:
  std::vector<T*> items_;
};

// The reporting-engine adapters, one per live dataset; the list owns them.
class TReportCompanions {
 public:
  TReportCompanions();
  ~TReportCompanions();  // releases every adapter left
  TReportCompanions(const TReportCompanions&) = delete;
  TReportCompanions& operator=(const TReportCompanions&) = delete;

  TfrxDBDataset* Add(std::unique_ptr<TfrxDBDataset> adapter);
  // The first adapter bound to dataset, from the first entry; nullptr when none.
  TfrxDBDataset* FindByDataSet(const TDataSet* dataset) const;
  // Removes the adapter from the list and releases it; nothing when absent.
  void Release(TfrxDBDataset* adapter);
  int Count() const { return static_cast<int>(items_.size()); }
  TfrxDBDataset* Items(int index) const { return items_.at(static_cast<size_t>(index)).get(); }

 private:
  std::vector<std::unique_ptr<TfrxDBDataset>> items_;
};

// The default database: none at start; read by every new dataset, script and
// stored procedure and by the transaction-log saving thread (hence atomic).
// Cleared by that component's destructor.
extern std::atomic<TvrDatabase*> DefaultDatabase;

// Registries; null before start-up (until first use) and after shutdown.
extern std::unique_ptr<TComponentRegistry<TvrDatabase>> DatabaseRegistry;
extern std::unique_ptr<TComponentRegistry<TDataSource>> DataSourceRegistry;
extern std::unique_ptr<TComponentRegistry<TvrStoredProc>> StoredProcRegistry;
extern std::unique_ptr<TComponentRegistry<TvrScript>> ScriptRegistry;
// Every live TvrDataset. Shutdown closes and detaches the datasets still in it
// and leaves them to whoever holds them.
extern std::unique_ptr<TComponentRegistry<TvrDataset>> DatasetRegistry;
extern std::unique_ptr<TReportCompanions> ReportCompanions;

// Adds to the registry, creating it on first use.
template <class T>
void RegisterIn(std::unique_ptr<TComponentRegistry<T>>& registry, T* item) {
  if (!registry) registry = std::make_unique<TComponentRegistry<T>>();
  registry->Add(item);
}
// Removes from the registry; nothing when the registry is released already.
template <class T>
void UnregisterFrom(std::unique_ptr<TComponentRegistry<T>>& registry, const T* item) {
  if (registry) registry->Remove(item);
}

// ctSDAC at start and never changed by the layer; used by TvrScript
// construction outside CreateScript and by DualTableSuffix.
extern TvrconnType DefaultConnectionType;

// Set only while TvrDatabase::CreateScript constructs a script, with that
// database's connection type.
struct TCreatingScript {
  bool Active = false;
  TvrconnType ConnectionType = ctSDAC;
};
extern TCreatingScript CreatingScript;

// While true, opening datasets and running scripts and stored procedures write
// trace rows to the diagnostic log. False at start; nothing in the program sets it.
extern std::atomic<bool> SQLTraceEnabled;

// Called by TvrDataset's default delete-error handler; Handled true turns the
// failed delete into a silent abort. Nil at start; nothing in the program sets it.
using TDeleteErrorHook = void (*)(TDataSet* dataset, EDatabaseError& error, bool& handled);
extern TDeleteErrorHook DeleteErrorHook;

}  // namespace tersify
