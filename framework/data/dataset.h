#pragma once
// The framework's dataset: a component that presents the rows of a query one at a
// time, with states (inactive, browse, edit, insert), fields, events and blob
// streams. It keeps the fetched rows itself; descendants (the client library's
// datasets) fill them, write edited rows back and may defer large values.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/data/db_error.h"
#include "framework/data/field.h"
#include "framework/data/field_defs.h"
#include "framework/data/params.h"
#include "framework/rtl/component.h"
#include "framework/rtl/method.h"
#include "framework/rtl/stream.h"
#include "framework/rtl/variant.h"

namespace tersify {

class TDataSource;

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };
enum class TDataAction { daFail, daAbort, daRetry };

enum TLocateOption : unsigned { loCaseInsensitive = 1, loPartialKey = 2 };
using TLocateOptions = unsigned;

using TDataSetNotifyEvent = TMethod<void(TDataSet* dataset)>;
using TDataSetErrorEvent = TMethod<void(TDataSet* dataset, EDatabaseError& error, TDataAction& action)>;

class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* owner);
  ~TDataSet() override;

  // ---- state
  TDataSetState State() const { return state_; }
  bool Active() const { return state_ != TDataSetState::dsInactive; }
  // Open: before-open step (BeforeOpen), InternalOpen, default fields when the
  // dataset has none, fields bound to their columns by name, the first row
  // current (data sources and details notified), after-open step (AfterOpen,
  // then AfterScroll when there is a row). Close: before-close step
  // (BeforeClose), InternalClose, rows and default fields dropped, AfterClose;
  // while the dataset is being destroyed neither close event fires. Pending
  // edits are discarded by a close.
  virtual void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  // Reads the rows again (InternalClose, InternalOpen) without the open and
  // close events: BeforeRefresh, the first row current, AfterRefresh. A pending
  // edit is posted first (or cancelled when nothing changed).
  void Refresh();

  // ---- navigation
  void First();
  void Last();
  void Next();
  void Prior();
  int MoveBy(int distance);
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  bool IsEmpty() const { return records_.empty(); }
  virtual int RecordCount() const;
  int RecNo() const { return current_ + 1; }  // 1-based; 0 when there is no row
  void SetRecNo(int rec_no);

  // ---- editing
  void Edit();    // on an empty dataset: Insert
  void Insert();  // a new row before the current one
  void Append();  // a new row at the end
  virtual void Post();
  void Cancel();
  void Delete();
  bool Modified() const { return modified_; }
  // While editing: whether the field's new value differs from its old one; a
  // deferred value that was not assigned counts as unchanged without being
  // fetched. While inserting: whether the value is not null.
  bool FieldChanged(const TField* field) const;

  // ---- fields
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField* Fields(int index) const { return fields_.at(static_cast<size_t>(index)); }
  TField* FindField(const std::string& name) const;  // case-insensitive, nullptr when missing
  // Raises EDatabaseError "Field 'name' not found" ("<dataset name>: " first when
  // the dataset has a name).
  TField* FieldByName(const std::string& name) const;
  TFieldDefs& FieldDefs() { return field_defs_; }
  const TFieldDefs& FieldDefs() const { return field_defs_; }
  // The value of the named field in the active buffer / setting it (FieldByName).
  Variant FieldValues(const std::string& name) const;
  void SetFieldValues(const std::string& name, const Variant& value);
  // True while the fields were made by the dataset at open (no fields of its own).
  bool DefaultFields() const { return default_fields_; }
  std::vector<TField*> FieldList() const { return fields_; }

  // Finds the first row whose field has the value (options: loCaseInsensitive,
  // loPartialKey). A found row becomes current and AfterScroll fires, also when
  // it already was current; otherwise nothing moves and no event fires.
  bool Locate(const std::string& field_name, const Variant& value, TLocateOptions options);

  // The value of a field in the row at index (0-based, as RecNo - 1) without
  // moving the current row, for views that show every row at once. The current
  // row reads as through the field; in another row a deferred value is fetched
  // for the look and not kept, and a field that is no data field is null.
  // Null for an index outside the rows.
  Variant RecordValue(int index, const TField* field) const;

  // ---- blob streams
  // A stream over the field's value in the active buffer. Read mode reads the
  // value; write mode starts empty and needs edit or insert state ("Dataset not
  // in edit or insert mode") and a writable field ("Field 'x' cannot be
  // modified"); what was written becomes the field's value when the stream is
  // destroyed. The caller owns the stream.
  virtual std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode);

  // ---- master/detail
  TDataSource* MasterSource() const { return master_source_; }
  void SetMasterSource(TDataSource* source);
  const std::string& MasterFields() const { return master_fields_; }
  void SetMasterFields(const std::string& fields) { master_fields_ = fields; }
  // The parameters a master row fills; nullptr for a dataset without parameters.
  virtual TParams* DetailParams() { return nullptr; }

  // ---- events
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent OnCalcFields, OnNewRecord, BeforeRefresh, AfterRefresh;
  TDataSetErrorEvent OnDeleteError, OnEditError, OnPostError;

  // ---- field values (used by TField)
  Variant GetFieldValue(const TField* field) const;
  void SetFieldValue(TField* field, const Variant& value);
  Variant GetOldFieldValue(const TField* field) const;
  // Called by fields as they attach and detach.
  void AttachField(TField* field);
  void DetachField(TField* field);
  // Raises "Dataset not in edit or insert mode" unless editing or inserting.
  void CheckEditing() const;
  // Raises "Cannot perform this operation on a closed dataset".
  void CheckActive() const;
  // While editing or inserting: posts when a value was changed, cancels otherwise.
  void CheckBrowseMode();

  // Data sources that show this dataset register here (notified on row changes).
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);

 protected:
  // A row as the dataset keeps it: one value per column (by FieldNo - 1). A value
  // that a descendant chose not to keep is marked deferred and is asked for with
  // FetchDeferredValue when it is first touched; it is kept only while its row
  // is current.
  struct Record {
    std::vector<Variant> values;
    std::vector<bool> deferred;
  };

  // ---- hooks for descendants
  // Runs the query: fills FieldDefs (InitFieldDefs) and appends rows with AppendRecord.
  // The base clears FieldDefs and the rows before calling it.
  virtual void InternalOpen() = 0;
  virtual void InternalClose() {}
  // Reads FieldDefs afresh from the query without opening it.
  virtual void InternalInitFieldDefs() = 0;
  // Writes the active buffer (new values) over the current record (old values),
  // or as a new row when inserting. On success the base keeps the new values.
  virtual void InternalPost() = 0;
  virtual void InternalDelete() = 0;
  // The value of a deferred column of the current record.
  virtual Variant FetchDeferredValue(int record_index, int column);
  // Called when the current record changes (a deferred value is then released).
  virtual void CurrentRecordChanged() {}
  // The master's current row changed: take the parameters named in MasterFields
  // from it and run the query again.
  virtual void MasterChanged();

  // The steps that descendants extend; each fires its event.
  virtual void DoBeforeOpen();
  virtual void DoAfterOpen();
  virtual void DoBeforeClose();
  virtual void DoAfterClose();
  virtual void DoBeforePost();
  virtual void DoAfterPost();
  virtual void DoBeforeScroll();
  virtual void DoAfterScroll();
  // Creates one field per field definition (the dataset's default fields).
  virtual void CreateFields();

  void AppendRecord(Record record);
  // The record being shown (browse) or edited; nullptr when there is none.
  const Record* CurrentRecord() const;
  // Old values of the row being edited (the record as read); empty when inserting.
  const Record* OldRecord() const;
  // New values of the row being edited or inserted. A deferred value that was
  // not assigned is still marked deferred here; read it through the field.
  const Record& EditBuffer() const { return edit_buffer_; }
  // For InternalPost: values the server filled in (an identity, a default) can
  // be written into the row before the base keeps it.
  Record& MutableEditBuffer() { return edit_buffer_; }
  int CurrentIndex() const { return current_; }
  int RecordsFetched() const { return static_cast<int>(records_.size()); }
  // Notifies data sources and detail datasets that the current row changed.
  void DataChanged();

 private:
  friend class TDataSetBlobStream;
  friend class TDataSource;  // MasterChanged, detaching details
  friend class TFieldDefs;   // Update reads the definitions through InternalInitFieldDefs
  friend class TField;
  void SetState(TDataSetState state);
  // Insert (before the current row) and Append (at the end).
  void StartInsert(bool at_end);
  // After a failed open or refresh: closes the cursor (its own error dropped for
  // the one that stopped the open), drops the rows and the default fields.
  void AbandonOpen();
  void MoveTo(int index, bool fire_events);
  void ClearRecords();
  void DestroyDefaultFields();
  Variant& ActiveValue(const TField* field);
  const Variant& ReadValue(const TField* field) const;
  const Variant& DeferredValue(int column) const;
  void RunWithErrorEvent(TDataSetErrorEvent& event, void (TDataSet::*operation)());
  void DoPost();
  void DoDelete();
  void DoEdit();
  void BindFields();
  void OpenCursor();
  void ReleaseDeferred();
  void CurrentChanged();
  int ColumnCount() const;
  std::string Prefix() const;

  TDataSetState state_ = TDataSetState::dsInactive;
  std::vector<Record> records_;
  int current_ = -1;
  bool eof_ = true;
  bool bof_ = true;
  Record edit_buffer_;
  bool modified_ = false;
  int insert_index_ = -1;
  // The loaded deferred values of the current row (by column); nothing else is kept.
  mutable std::map<int, Variant> deferred_values_;
  mutable int deferred_record_ = -1;
  // Values of calculated and lookup fields for the current row.
  std::map<const TField*, Variant> calc_values_;

  std::vector<TField*> fields_;  // in field order; default fields are owned by the dataset
  bool default_fields_ = false;
  TFieldDefs field_defs_{*this};

  TDataSource* master_source_ = nullptr;
  std::string master_fields_;
  std::vector<TDataSource*> data_sources_;
};

}  // namespace tersify
