#pragma once
// The client library's datasets: TCustomMSDataSet runs its SQL on a
// TMSConnection, keeps the rows, and writes edited rows back, with the
// application's SQLInsert/SQLUpdate/SQLDelete texts or with row statements of
// its own that identify the row by the table's primary key.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "client/ms_connection.h"
#include "framework/data/dataset.h"
#include "framework/data/params.h"
#include "framework/rtl/method.h"
#include "framework/rtl/strings.h"

namespace tersify {

// Kinds of statements the library generates, in the library's order (bit n = kind n).
enum TStatementType : uint16_t {
  stQuery,
  stInsert,
  stUpdate,
  stDelete,
  stLock,
  stRefresh,
  stCheck,
  stCustom,
  stRefreshQuick,
  stRefreshCheckDeleted,
  stBatchUpdate,
};
using TStatementTypes = uint16_t;  // a set: bit n stands for kind n
inline constexpr TStatementTypes StatementSet(TStatementType t) { return static_cast<TStatementTypes>(1u << t); }
inline constexpr bool Includes(TStatementTypes set, TStatementType t) { return (set >> t) & 1u; }

struct TMSDataSetOptions {
  bool QueryRecCount = false;
  bool StrictUpdate = true;
  bool TrimFixedChar = true;
  bool TrimVarChar = false;
  bool LocalMasterDetail = false;
  int DetailDelay = 0;
  bool NonBlocking = false;
  bool UpdateAllFields = false;
};

class TCustomMSDataSet;
using TUpdateExecuteEvent = TMethod<void(TDataSet* sender, TStatementTypes kinds, TParams& params)>;
using TAfterExecuteEvent = TMethod<void(TObject* sender, bool result)>;

class TCustomMSDataSet : public TDataSet {
 public:
  explicit TCustomMSDataSet(TComponent* owner);
  ~TCustomMSDataSet() override;

  TMSConnection* Connection() const { return connection_; }
  void SetConnection(TMSConnection* connection);

  // The SQL text; ":name" marks parameters, "&name" macros. Changing it closes
  // the dataset and re-reads the parameter names (keeping values of names that stay).
  TStrings& SQL() { return sql_; }
  void SetSQLText(const std::string& text);
  TParams& Params() { return params_; }
  TParam& ParamByName(const std::string& name) { return params_.ParamByName(name); }
  // "&name" in the SQL text is replaced by the macro's value before it runs.
  TStrings& Macros() { return macros_; }
  TMSDataSetOptions& Options() { return options_; }

  TStrings& SQLInsert() { return sql_insert_; }
  TStrings& SQLUpdate() { return sql_update_; }
  TStrings& SQLDelete() { return sql_delete_; }
  TStrings& SQLRefresh() { return sql_refresh_; }

  bool FetchAll() const { return fetch_all_; }
  virtual void SetFetchAll(bool value) { fetch_all_ = value; }
  int FetchRows() const { return fetch_rows_; }
  void SetFetchRows(int rows) { fetch_rows_ = rows; }
  int CommandTimeout() const { return command_timeout_; }
  void SetCommandTimeout(int seconds) { command_timeout_ = seconds; }
  bool ReadOnly() const { return read_only_; }
  virtual void SetReadOnly(bool value) { read_only_ = value; }
  bool UniDirectional() const { return uni_directional_; }
  void SetUniDirectional(bool value) { uni_directional_ = value; }
  bool CachedUpdates() const { return cached_updates_; }
  void SetCachedUpdates(bool value) { cached_updates_ = value; }
  // The table that generated row statements write; when empty, the first table
  // named after FROM in the SQL text.
  const std::string& UpdatingTable() const { return updating_table_; }
  void SetUpdatingTable(const std::string& table) { updating_table_ = table; }

  // A statement that returns rows is opened, any other executed.
  void Execute();
  // Rows written by the last Execute of a statement without rows.
  int64_t RowsAffected() const { return rows_affected_; }

  TAfterExecuteEvent AfterExecute;
  TUpdateExecuteEvent BeforeUpdateExecute;
  TUpdateExecuteEvent AfterUpdateExecute;

  TParams* DetailParams() override { return &params_; }

 protected:
  // Before running a generated row statement the library asks whether to perform
  // it for these statement kinds; false leaves the row unwritten without an error.
  virtual bool PerformStatement(TStatementTypes kinds);
  // After each statement that writes a row; fires AfterUpdateExecute.
  virtual void AfterRowStatement(TDataSet* sender, TStatementTypes kinds, TParams& params);

  void InternalOpen() override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  void InternalPost() override;
  void InternalDelete() override;
  Variant FetchDeferredValue(int record_index, int column) override;

 private:
  // The text that runs: macros expanded, ":name" replaced by '?'.
  ParsedSQL PreparedSQL() const;
  std::vector<Variant> ParamValues(const ParsedSQL& parsed) const;

  TMSConnection* connection_ = nullptr;
  TStringList sql_, macros_, sql_insert_, sql_update_, sql_delete_, sql_refresh_;
  TParams params_;
  TMSDataSetOptions options_;
  bool fetch_all_ = true;
  int fetch_rows_ = 25;
  int command_timeout_ = 0;
  bool read_only_ = false;
  bool uni_directional_ = false;
  bool cached_updates_ = false;
  std::string updating_table_;
  int64_t rows_affected_ = -1;
};

class TMSQuery : public TCustomMSDataSet {
 public:
  using TCustomMSDataSet::TCustomMSDataSet;
};

enum class TMSCursorType { ctDefaultResultSet, ctStatic, ctKeyset, ctDynamic };

class TMSStoredProc : public TCustomMSDataSet {
 public:
  using TCustomMSDataSet::TCustomMSDataSet;

  const std::string& StoredProcName() const { return stored_proc_name_; }
  // Setting the name reads the procedure's parameters from the server when connected.
  void SetStoredProcName(const std::string& name);
  // Asks the server for the procedure's parameters (connecting first when needed).
  void PrepareSQL();
  // Runs the procedure with its parameters; output parameters receive their values.
  void ExecProc();
  TMSCursorType CursorType() const { return cursor_type_; }
  void SetCursorType(TMSCursorType type) { cursor_type_ = type; }

 private:
  std::string stored_proc_name_;
  TMSCursorType cursor_type_ = TMSCursorType::ctDefaultResultSet;
  bool prepared_ = false;
};

}  // namespace tersify
