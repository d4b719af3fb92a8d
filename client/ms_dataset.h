#pragma once
// The client library's datasets: TCustomMSDataSet runs its SQL on a
// TMSConnection, keeps the rows, and writes edited rows back, with the
// application's SQLInsert/SQLUpdate/SQLDelete texts or with row statements of
// its own that identify the row by the table's primary key.

#include <cstdint>
#include <functional>
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

// What a row update is (OnUpdateRecord, OnUpdateError).
enum class TUpdateKind { ukModify, ukInsert, ukDelete };
// What became of a row update: uaFail raises, uaAbort ends the post or delete
// silently (EAbort), uaSkip leaves the row unwritten without an error, uaRetry
// tries again, uaApplied counts the row as written.
enum class TUpdateAction { uaFail, uaAbort, uaSkip, uaRetry, uaApplied };
// Writes the row in place of the library's statement; Action starts as uaFail.
using TUpdateRecordEvent = TMethod<void(TDataSet* dataset, TUpdateKind kind, TUpdateAction& action)>;
// Decides what a failed row statement means; Action starts as uaFail.
using TUpdateErrorEvent =
    TMethod<void(TDataSet* dataset, EDatabaseError& error, TUpdateKind kind, TUpdateAction& action)>;
using TAfterExecuteEvent = TMethod<void(TObject* sender, bool result)>;

class TCustomMSDataSet : public TDataSet {
 public:
  explicit TCustomMSDataSet(TComponent* owner);
  ~TCustomMSDataSet() override;

  TMSConnection* Connection() const { return connection_; }
  void SetConnection(TMSConnection* connection);

  // The SQL text; ":name" marks parameters, "&name" macros. SetSQLText closes
  // the dataset. The parameter list follows the text: it is read again (keeping
  // the values of names that stay) whenever the text or a macro changed, also
  // after edits made through SQL() itself.
  TStrings& SQL() { return sql_; }
  void SetSQLText(const std::string& text);
  TParams& Params() {
    SyncParams();
    return params_;
  }
  TParam& ParamByName(const std::string& name) { return Params().ParamByName(name); }
  // When false the SQL text is not searched for parameters (stored procedures
  // take theirs from the server).
  bool ParamCheck() const { return param_check_; }
  void SetParamCheck(bool value) { param_check_ = value; }
  // "&name" in the SQL text is replaced by the macro's value before it runs.
  TStrings& Macros() { return macros_; }
  TMSDataSetOptions& Options() { return options_; }

  TStrings& SQLInsert() { return sql_insert_; }
  TStrings& SQLUpdate() { return sql_update_; }
  TStrings& SQLDelete() { return sql_delete_; }
  // A refresh runs the dataset's query again: a text here is refused at open.
  TStrings& SQLRefresh() { return sql_refresh_; }

  // All rows are fetched when the dataset opens, whatever FetchAll says: the
  // provider's cursor is forward-only and one statement at a time runs on a
  // connection, and deferred blobs are read with statements of their own.
  bool FetchAll() const { return fetch_all_; }
  virtual void SetFetchAll(bool value) { fetch_all_ = value; }
  int FetchRows() const { return fetch_rows_; }
  void SetFetchRows(int rows) { fetch_rows_ = rows; }
  // When not 0, the time limit of this dataset's statements instead of the
  // connection's CommandTimeout.
  int CommandTimeout() const { return command_timeout_; }
  void SetCommandTimeout(int seconds) { command_timeout_ = seconds; }
  bool ReadOnly() const { return read_only_; }
  virtual void SetReadOnly(bool value) { read_only_ = value; }
  // Rows are kept and visited in any order, and written when posted: true is
  // refused ("... is not supported").
  bool UniDirectional() const { return false; }
  void SetUniDirectional(bool value);
  bool CachedUpdates() const { return false; }
  void SetCachedUpdates(bool value);
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
  TUpdateRecordEvent OnUpdateRecord;
  TUpdateErrorEvent OnUpdateError;

  TParams* DetailParams() override { return &Params(); }

 protected:
  // Before running a generated row statement the library asks whether to perform
  // it for these statement kinds; false leaves the row unwritten without an error.
  virtual bool PerformStatement(TStatementTypes kinds);
  // Whether a row statement must write exactly one row ("... failed. Found %d
  // records" otherwise): one the library generated always, an application's
  // text under StrictUpdate, an insert text never.
  virtual bool HoldsToOneRow(TStatementType kind, bool generated);
  // After each statement that writes a row; fires AfterUpdateExecute.
  virtual void AfterRowStatement(TDataSet* sender, TStatementTypes kinds, TParams& params);

  void InternalOpen() override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  void InternalPost() override;
  void InternalDelete() override;
  Variant FetchDeferredValue(int record_index, int column) override;
  // Keeps the key values of an inserted row for reading its blobs later.
  void DoAfterPost() override;

  // The connection, opened when it is closed; raises when there is none.
  TMSConnection& ActiveConnection();
  // Runs the dataset's statement and returns its rows (a stored procedure runs
  // the procedure).
  virtual std::unique_ptr<providers::Cursor> OpenCursor();
  // Called once every row of the cursor has been read.
  virtual void CursorDone() {}
  // Whether a fetched row is kept (columns name its values; a blob read later
  // by key is null here). Every row is by default.
  virtual bool AcceptRow(const std::vector<providers::ColumnInfo>& /*columns*/,
                         const std::vector<Variant>& /*values*/) {
    return true;
  }
  void SetRowsAffected(int64_t rows) { rows_affected_ = rows; }

 private:
  friend class TMSConnection;
  struct DeferralPlan;

  // Re-reads the parameter names when the expanded SQL text changed.
  void SyncParams();
  // Values for the '?' marks of the expanded text, in order.
  std::vector<Variant> ParamValues();
  // Decides, before the query runs, which blob columns can be read later by key.
  void PlanDeferral(const std::string& sql);
  void FillFieldDefs(const std::vector<providers::ColumnInfo>& columns);
  void FetchRows(providers::Cursor& cursor);

  // Posting (ms_dataset_posting.cpp).
  struct RowStatement;
  // Both return whether a statement ran.
  // Writes the row through OnUpdateRecord when assigned, else through write,
  // asking OnUpdateError about its errors (except ERowCountError, which always
  // passes on); returns whether the row was written.
  bool ApplyRowUpdate(TUpdateKind kind, const std::function<bool()>& write);
  // Raises for options this library does not implement, set to other than
  // their default (Options' NonBlocking, LocalMasterDetail, DetailDelay; SQLRefresh).
  void CheckSupportedOptions();
  bool RunCustomStatement(const std::string& text, TStatementType kind);
  bool RunGeneratedStatement(TStatementType kind);
  void ReleasePostedBlobs();
  void ExecuteRowStatement(RowStatement& statement, TStatementType kind, bool generated);
  std::string TableToUpdate() const;
  Variant BindableValue(const TField* field, const Variant& value) const;
  bool ColumnStillDeferred(const TField* field) const;
  std::vector<Variant> KeyValuesOf(const Record& record) const;

  TMSConnection* connection_ = nullptr;
  TStringList sql_, macros_, sql_insert_, sql_update_, sql_delete_, sql_refresh_;
  TParams params_;
  TMSDataSetOptions options_;
  bool fetch_all_ = true;
  int fetch_rows_ = 25;
  int command_timeout_ = 0;
  bool read_only_ = false;
  std::string updating_table_;
  int64_t rows_affected_ = -1;
  bool param_check_ = true;
  std::string parsed_text_;  // the expanded text the parameters were read from
  ParsedSQL parsed_;
  std::unique_ptr<providers::Cursor> pending_cursor_;  // rows of Execute, opened next
  std::unique_ptr<DeferralPlan> deferral_;
  // The key values of every kept row, in row order, while blobs are deferred:
  // a blob of a row that is not the current one (Locate) is read by them.
  std::vector<std::vector<Variant>> row_keys_;
};

class TMSQuery : public TCustomMSDataSet {
 public:
  using TCustomMSDataSet::TCustomMSDataSet;
};

enum class TMSCursorType { ctDefaultResultSet, ctStatic, ctKeyset, ctDynamic };

class TMSStoredProc : public TCustomMSDataSet {
 public:
  explicit TMSStoredProc(TComponent* owner);

  const std::string& StoredProcName() const { return stored_proc_name_; }
  // Setting the name reads the procedure's parameters from the server when connected.
  void SetStoredProcName(const std::string& name);
  // Asks the server for the procedure's parameters (connecting first when needed).
  void PrepareSQL();
  // Runs the procedure with its parameters; output parameters receive their values.
  void ExecProc();
  TMSCursorType CursorType() const { return cursor_type_; }
  void SetCursorType(TMSCursorType type) { cursor_type_ = type; }

 protected:
  std::unique_ptr<providers::Cursor> OpenCursor() override;
  void CursorDone() override;

 private:
  std::vector<Variant> CallValues() const;
  void WriteOutputs();

  std::vector<Variant> call_values_;  // arguments of the open call; outputs land here
  std::string stored_proc_name_;
  TMSCursorType cursor_type_ = TMSCursorType::ctDefaultResultSet;
  bool prepared_ = false;
};

}  // namespace tersify
