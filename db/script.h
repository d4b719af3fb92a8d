#pragma once
// The layer's two statement components that return nothing to their caller:
// TvrScript runs a SQL text through a client query, TvrStoredProc runs a
// stored procedure with parameters through a client stored procedure. Each
// attaches to a TvrDatabase instead of a raw client connection and, while
// SQLTraceEnabled is on, traces each run to the diagnostic log.
//
// Both attach to the default database when they are made and keep a plain
// reference to their database: they must not outlive it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "client/ms_dataset.h"
#include "db/filter_expression.h"
#include "framework/data/params.h"
#include "framework/rtl/component.h"
#include "framework/rtl/strings.h"

namespace tersify {

class TvrDatabase;
class TvrStoredProc;

// When a dataset refreshes a row (a set).
enum TRefreshOption : uint8_t { roAfterInsert = 1, roAfterUpdate = 2, roBeforeEdit = 4 };
using TRefreshOptions = uint8_t;

class TvrScript : public TComponent {
 public:
  // Makes the internal query when the connection type (the one CreateScript
  // records, else DefaultConnectionType) is ctSDAC; attaches to the default
  // database; joins ScriptRegistry.
  explicit TvrScript(TComponent* owner);
  ~TvrScript() override;

  // ---- published, in published order
  // False, and writes ignored, without an internal query.
  bool Debug() const;
  void SetDebug(bool value);
  // The internal query's macros; none without an internal query.
  TStrings* Macros() const;
  // The internal query's SQL lines; none without an internal query.
  TStrings* SQL() const;
  // Copies the lines into the internal query's SQL; ignored without one.
  void SetSQL(const TStrings& lines);
  TvrDatabase* Database() const { return database_; }
  // Stores the reference; with an internal query, points the query at the
  // database's client connection of this moment (none when not yet prepared).
  void SetDatabase(TvrDatabase* database);
  bool ORACompatibility() const { return ora_compatibility_; }
  void SetORACompatibility(bool value) { ora_compatibility_ = value; }

  // Runs the SQL text, traced before and after ("BeforeExecute"/"AfterExecute",
  // "SQL --> " and the text). Without an internal query nothing runs. An error
  // of the run propagates and the after-trace is not written.
  void Execute();

  // The client query; none when the script was made for another connection type.
  TMSQuery* InternalQuery() const { return query_; }

 private:
  std::string TraceDetail() const;

  TvrDatabase* database_ = nullptr;
  TMSQuery* query_ = nullptr;  // owned as a component of this one
  bool debug_ = false;         // the client query keeps no debug switch of its own
  bool ora_compatibility_ = false;
};

// A small object that refers back to its stored-procedure component; nothing
// in the program uses it further.
class TvrParamsInterface : public TObject {
 public:
  explicit TvrParamsInterface(TvrStoredProc* stored_proc) : stored_proc_(stored_proc) {}
  TvrStoredProc* StoredProc() const { return stored_proc_; }

 private:
  TvrStoredProc* stored_proc_;
};

class TvrStoredProc : public TComponent {
 public:
  // Prepares the default database's connection, makes the internal procedure,
  // joins StoredProcRegistry, trims char values, and takes the default database
  // as Database without giving the procedure its connection yet: the first
  // write of StoredProcName or Database does that.
  explicit TvrStoredProc(TComponent* owner);
  ~TvrStoredProc() override;

  // ---- published, in published order
  bool Active() const;
  void SetActive(bool value);
  bool AutoCalcFields() const { return auto_calc_fields_; }
  void SetAutoCalcFields(bool value) { auto_calc_fields_ = value; }
  bool CachedUpdates() const;
  void SetCachedUpdates(bool value);
  bool Debug() const { return debug_; }
  void SetDebug(bool value) { debug_ = value; }
  TvrDatabase* Database() const { return database_; }
  // Stores the reference; for a database, prepares its connection and gives
  // the internal procedure its client connection.
  void SetDatabase(TvrDatabase* database);
  bool FetchAll() const;
  // Takes effect only when the database has MultipleActiveResultSets on; the
  // internal procedure fetches everything otherwise.
  void SetFetchAll(bool value);
  int FetchRows() const;
  void SetFetchRows(int value);
  // While Filtered, the procedure keeps only the rows that pass Filter
  // (db/filter_expression.h) under FilterOptions. A change of the three is
  // checked first (a filter that cannot be read raises and changes nothing)
  // and, while the procedure is open, runs it again: rows are chosen as they
  // are fetched.
  const std::string& Filter() const { return filter_; }
  void SetFilter(const std::string& value) { UpdateFilter(value, filtered_, filter_options_); }
  bool Filtered() const { return filtered_; }
  void SetFiltered(bool value) { UpdateFilter(filter_, value, filter_options_); }
  TFilterOptions FilterOptions() const { return filter_options_; }
  void SetFilterOptions(TFilterOptions value) { UpdateFilter(filter_, filtered_, value); }
  // The procedure's parameters; writing copies the given ones into them.
  TParams& Params() const;
  void SetParams(const TParams& params);
  bool ReadOnly() const;
  void SetReadOnly(bool value);
  TRefreshOptions RefreshOptions() const { return refresh_options_; }
  void SetRefreshOptions(TRefreshOptions value) { refresh_options_ = value; }
  TStrings& SQLDelete() const;
  void SetSQLDelete(const TStrings& lines);
  TStrings& SQLInsert() const;
  void SetSQLInsert(const TStrings& lines);
  TStrings& SQLRefresh() const;
  void SetSQLRefresh(const TStrings& lines);
  TStrings& SQLUpdate() const;
  void SetSQLUpdate(const TStrings& lines);
  const std::string& StoredProcName() const;
  // A non-empty name on a component whose procedure has no connection yet
  // first connects its database (with the after-connect queries) when needed.
  void SetStoredProcName(const std::string& name);
  bool UniDirectional() const;
  void SetUniDirectional(bool value);
  TMSCursorType MSCursorType() const;
  void SetMSCursorType(TMSCursorType value);
  // MSCommandTimeout and CommandTimeout are one value: the internal CommandTimeout.
  int MSCommandTimeout() const;
  void SetMSCommandTimeout(int seconds);
  const std::string& MSUpdatingTable() const;
  void SetMSUpdatingTable(const std::string& table);
  // Reads false whatever was written.
  bool ORAAutoCommit() const { return false; }
  void SetORAAutoCommit(bool) {}
  bool ORALocalUpdate() const { return ora_local_update_; }
  void SetORALocalUpdate(bool value) { ora_local_update_ = value; }
  // Reads false whatever was written.
  bool ORANonBlocking() const { return false; }
  void SetORANonBlocking(bool) {}
  bool TrimFixedChar() const;
  void SetTrimFixedChar(bool value);
  bool TrimVarChar() const;
  void SetTrimVarChar(bool value);
  int CommandTimeout() const { return MSCommandTimeout(); }
  void SetCommandTimeout(int seconds) { SetMSCommandTimeout(seconds); }

  // Runs the procedure, traced before ("BeforeExecProc": the name and the
  // parameter listing) and after ("AfterExecProc"). Errors propagate.
  void ExecProc();
  // The internal procedure's parameter; the client's error for an unknown name.
  TParam& ParamByName(const std::string& name) const;
  // "@name := value" per parameter, joined by CR LF: empty for null, the bytes
  // of a blob, the date-time text of a date, the plain text otherwise.
  std::string ParamsText() const;

  TMSStoredProc& InternalProc() const { return *proc_; }
  TvrParamsInterface& ParamsInterface() const { return *params_interface_; }

 private:
  void UpdateFilter(std::string text, bool filtered, TFilterOptions options);

  TvrDatabase* database_ = nullptr;
  TMSStoredProc* proc_ = nullptr;  // owned as a component of this one
  std::unique_ptr<TvrParamsInterface> params_interface_;
  // Kept here: the client procedure has no such settings.
  bool auto_calc_fields_ = true;
  bool debug_ = false;
  std::string filter_;
  bool filtered_ = false;
  TFilterOptions filter_options_ = 0;
  std::optional<TFilterExpression> active_filter_;  // while Filtered
  TRefreshOptions refresh_options_ = 0;
  bool ora_local_update_ = false;
};

}  // namespace tersify
