#pragma once
// Start-up and shutdown of the database layer. C++ has no unit initialisation
// sections, so the program's main calls these two, in this one place:
// StartDatabaseLayer() before any component of the layer is made,
// ShutdownDatabaseLayer() at the end.

namespace tersify {

// Creates DatasetRegistry (when not yet created), DatabaseRegistry,
// DataSourceRegistry, StoredProcRegistry and ScriptRegistry (each when not yet
// created), clears DefaultDatabase and CreatingScript, sets
// DefaultConnectionType to ctSDAC and creates ReportCompanions.
void StartDatabaseLayer();

// In this order: waits (at most a few seconds) for transaction-log saving
// threads still running; destroys the default database (when set); closes
// every dataset still in DatasetRegistry and detaches it from its database and
// connection, without destroying it (datasets belong to their owners), then
// releases DatasetRegistry; releases ReportCompanions with any adapters left;
// releases DataSourceRegistry, StoredProcRegistry, ScriptRegistry and
// DatabaseRegistry. Components destroyed later leave their released registry
// without harm.
void ShutdownDatabaseLayer();

// Starts the layer for its lifetime and shuts it down at its end.
class TDatabaseLayerScope {
 public:
  TDatabaseLayerScope() { StartDatabaseLayer(); }
  ~TDatabaseLayerScope() { ShutdownDatabaseLayer(); }
  TDatabaseLayerScope(const TDatabaseLayerScope&) = delete;
  TDatabaseLayerScope& operator=(const TDatabaseLayerScope&) = delete;
};

}  // namespace tersify
