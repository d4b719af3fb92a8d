#include "framework/data/dataset.h"

#include <algorithm>

#include "framework/data/blob_stream.h"
#include "framework/data/data_source.h"
#include "framework/rtl/exception.h"
#include "framework/rtl/platform.h"

namespace tersify {

namespace {

const Variant kNullValue;

template <class F>
struct ScopeExit {
  F run;
  ~ScopeExit() { run(); }
};
template <class F>
ScopeExit(F) -> ScopeExit<F>;

}  // namespace

TDataSet::TDataSet(TComponent* owner) : TComponent(owner) {}

TDataSet::~TDataSet() {
  Destroying();
  // The descendant is gone already: no hooks, no events, only our own state.
  state_ = TDataSetState::dsInactive;
  ClearRecords();
  DestroyDefaultFields();
  for (TField* field : fields_) field->dataset_ = nullptr;
  fields_.clear();
  if (master_source_) master_source_->RemoveDetail(this);
  master_source_ = nullptr;
  const std::vector<TDataSource*> sources = data_sources_;
  for (TDataSource* source : sources) source->DataSetDestroyed();
  data_sources_.clear();
}

std::string TDataSet::Prefix() const { return Name().empty() ? std::string() : Name() + ": "; }

// ---------------------------------------------------------------- state

void TDataSet::SetState(TDataSetState state) { state_ = state; }

void TDataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed dataset");
}

void TDataSet::CheckEditing() const {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert)
    throw EDatabaseError("Dataset not in edit or insert mode");
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) {
    if (modified_)
      Post();
    else
      Cancel();
  }
}

void TDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    DoBeforeOpen();
    OpenCursor();
    SetState(TDataSetState::dsBrowse);
    current_ = records_.empty() ? -1 : 0;
    bof_ = true;
    eof_ = records_.empty();
    CurrentChanged();
    DataChanged();
    DoAfterOpen();
  } else {
    const bool destroying = IsDestroying();
    if (!destroying) DoBeforeClose();
    {
      ScopeExit closed{[this] {
        ClearRecords();
        SetState(TDataSetState::dsInactive);
        DestroyDefaultFields();
      }};
      InternalClose();
    }
    if (!destroying) DoAfterClose();
  }
}

void TDataSet::OpenCursor() {
  field_defs_.Clear();
  ClearRecords();
  try {
    InternalOpen();
    if (fields_.empty()) {
      default_fields_ = true;
      CreateFields();
    }
    BindFields();
  } catch (...) {
    AbandonOpen();
    throw;
  }
}

void TDataSet::AbandonOpen() {
  try {
    InternalClose();
  } catch (...) {
    // the error that stopped the open is the one reported
  }
  ClearRecords();
  DestroyDefaultFields();
}

void TDataSet::BindFields() {
  for (TField* field : fields_) {
    if (field->FieldKind() != TFieldKind::fkData) continue;
    const TFieldDef* def = field_defs_.Find(field->FieldName());
    if (!def) throw EDatabaseError(Prefix() + Format("Field '%s' not found", field->FieldName().c_str()));
    field->SetFieldNo(def->FieldNo());
  }
}

void TDataSet::CreateFields() {
  for (int i = 0; i < field_defs_.Count(); ++i) {
    const TFieldDef& def = field_defs_.Items(i);
    if (def.DataType() == ftUnknown || (def.Attributes() & faHiddenCol)) continue;
    def.CreateField(*this);
  }
}

void TDataSet::DestroyDefaultFields() {
  if (!default_fields_) return;
  default_fields_ = false;
  const std::vector<TField*> made = fields_;
  for (TField* field : made) delete field;  // the dataset owns the fields it made; each detaches itself
}

void TDataSet::Refresh() {
  CheckActive();
  CheckBrowseMode();
  if (BeforeRefresh) BeforeRefresh(this);
  InternalClose();
  field_defs_.Clear();
  ClearRecords();
  try {
    InternalOpen();
    BindFields();
  } catch (...) {
    SetState(TDataSetState::dsInactive);
    AbandonOpen();
    throw;
  }
  current_ = records_.empty() ? -1 : 0;
  bof_ = true;
  eof_ = records_.empty();
  CurrentChanged();
  DataChanged();
  if (AfterRefresh) AfterRefresh(this);
}

void TDataSet::ClearRecords() {
  records_.clear();
  current_ = -1;
  eof_ = bof_ = true;
  edit_buffer_ = Record();
  modified_ = false;
  insert_index_ = -1;
  ReleaseDeferred();
  calc_values_.clear();
}

void TDataSet::ReleaseDeferred() {
  deferred_values_.clear();
  deferred_record_ = -1;
}

void TDataSet::CurrentChanged() {
  ReleaseDeferred();
  calc_values_.clear();
  CurrentRecordChanged();
  if (OnCalcFields && Active() && CurrentRecord()) {
    for (TField* field : fields_) {
      if (field->FieldKind() != TFieldKind::fkData) {
        OnCalcFields(this);
        break;
      }
    }
  }
}

// ---------------------------------------------------------------- events

void TDataSet::DoBeforeOpen() {
  if (BeforeOpen) BeforeOpen(this);
}
void TDataSet::DoAfterOpen() {
  if (AfterOpen) AfterOpen(this);
  if (!IsEmpty()) DoAfterScroll();
}
void TDataSet::DoBeforeClose() {
  if (BeforeClose) BeforeClose(this);
}
void TDataSet::DoAfterClose() {
  if (AfterClose) AfterClose(this);
}
void TDataSet::DoBeforePost() {
  if (BeforePost) BeforePost(this);
}
void TDataSet::DoAfterPost() {
  if (AfterPost) AfterPost(this);
}
void TDataSet::DoBeforeScroll() {
  if (BeforeScroll) BeforeScroll(this);
}
void TDataSet::DoAfterScroll() {
  if (AfterScroll) AfterScroll(this);
}

void TDataSet::DataChanged() {
  const std::vector<TDataSource*> sources = data_sources_;
  for (TDataSource* source : sources) source->NotifyDataChange(nullptr);
}

// ---------------------------------------------------------------- navigation

void TDataSet::MoveTo(int index, bool fire_events) {
  if (fire_events) DoBeforeScroll();
  if (index != current_) {
    current_ = index;
    CurrentChanged();
    DataChanged();
  }
  if (fire_events) DoAfterScroll();
}

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  if (!records_.empty()) MoveTo(0, false);
  bof_ = true;
  eof_ = records_.empty();
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  if (!records_.empty()) MoveTo(static_cast<int>(records_.size()) - 1, false);
  eof_ = true;
  bof_ = records_.empty();
  DoAfterScroll();
}

void TDataSet::Next() { MoveBy(1); }
void TDataSet::Prior() { MoveBy(-1); }

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  DoBeforeScroll();
  int moved = 0;
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    const int count = static_cast<int>(records_.size());
    const int64_t wanted = static_cast<int64_t>(current_) + distance;
    const int target = count == 0 ? -1 : static_cast<int>(std::clamp<int64_t>(wanted, 0, count - 1));
    if (distance > 0) {
      eof_ = wanted > count - 1;
      bof_ = false;
    } else {
      bof_ = wanted < 0;
      eof_ = false;
    }
    moved = target - current_;
    MoveTo(target, false);
    DoAfterScroll();
  }
  return moved;
}

void TDataSet::SetRecNo(int rec_no) {
  CheckBrowseMode();
  if (rec_no < 1 || rec_no > static_cast<int>(records_.size()) || rec_no == RecNo()) return;
  MoveTo(rec_no - 1, true);
  bof_ = eof_ = false;
}

int TDataSet::RecordCount() const { return static_cast<int>(records_.size()); }

// ---------------------------------------------------------------- editing

void TDataSet::RunWithErrorEvent(TDataSetErrorEvent& event, void (TDataSet::*operation)()) {
  for (;;) {
    try {
      (this->*operation)();
      return;
    } catch (EDatabaseError& error) {
      TDataAction action = TDataAction::daFail;
      if (event) event(this, error, action);
      if (action == TDataAction::daFail) throw;
      if (action == TDataAction::daAbort) throw EAbort();
      // daRetry: run the operation again
    }
  }
}

void TDataSet::DoEdit() { edit_buffer_ = records_.at(static_cast<size_t>(current_)); }
void TDataSet::DoPost() { InternalPost(); }
void TDataSet::DoDelete() { InternalDelete(); }

int TDataSet::ColumnCount() const {
  int count = field_defs_.Count();
  for (const TField* field : fields_) count = std::max(count, field->FieldNo());
  for (const Record& record : records_) count = std::max(count, static_cast<int>(record.values.size()));
  return count;
}

void TDataSet::Edit() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return;
  if (records_.empty()) {
    Insert();
    return;
  }
  if (BeforeEdit) BeforeEdit(this);
  RunWithErrorEvent(OnEditError, &TDataSet::DoEdit);
  modified_ = false;
  SetState(TDataSetState::dsEdit);
  if (AfterEdit) AfterEdit(this);
}

void TDataSet::Insert() { StartInsert(false); }

void TDataSet::Append() { StartInsert(true); }

void TDataSet::StartInsert(bool at_end) {
  CheckBrowseMode();
  if (BeforeInsert) BeforeInsert(this);
  DoBeforeScroll();
  insert_index_ = at_end ? static_cast<int>(records_.size()) : std::max(current_, 0);
  const size_t columns = static_cast<size_t>(ColumnCount());
  edit_buffer_ = Record{std::vector<Variant>(columns), std::vector<bool>(columns, false)};
  SetState(TDataSetState::dsInsert);
  CurrentChanged();
  try {
    if (OnNewRecord) OnNewRecord(this);
  } catch (...) {
    edit_buffer_ = Record();
    SetState(TDataSetState::dsBrowse);
    CurrentChanged();
    throw;
  }
  modified_ = false;
  DataChanged();
  if (AfterInsert) AfterInsert(this);
  DoAfterScroll();
}

void TDataSet::Post() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  DoBeforePost();
  RunWithErrorEvent(OnPostError, &TDataSet::DoPost);
  if (state_ == TDataSetState::dsInsert) {
    const int at = std::clamp(insert_index_, 0, static_cast<int>(records_.size()));
    Record& row = edit_buffer_;
    row.deferred.resize(row.values.size(), false);
    records_.insert(records_.begin() + at, std::move(row));
    current_ = at;
    ReleaseDeferred();
  } else {
    // A deferred column stays deferred in the kept rows: a value written to it
    // is kept as the current row's loaded value and released with it.
    Record& row = records_.at(static_cast<size_t>(current_));
    if (deferred_record_ != current_) {
      deferred_values_.clear();
      deferred_record_ = current_;
    }
    const size_t columns = edit_buffer_.values.size();
    if (row.values.size() < columns) row.values.resize(columns);
    row.deferred.resize(row.values.size(), false);
    for (size_t col = 0; col < columns; ++col) {
      const bool assigned = !(col < edit_buffer_.deferred.size() && edit_buffer_.deferred[col]);
      if (!assigned) continue;
      if (row.deferred[col])
        deferred_values_[static_cast<int>(col)] = std::move(edit_buffer_.values[col]);
      else
        row.values[col] = std::move(edit_buffer_.values[col]);
    }
  }
  edit_buffer_ = Record();
  modified_ = false;
  insert_index_ = -1;
  SetState(TDataSetState::dsBrowse);
  bof_ = eof_ = false;
  DataChanged();
  DoAfterPost();
}

void TDataSet::Cancel() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  if (BeforeCancel) BeforeCancel(this);
  const bool was_inserting = state_ == TDataSetState::dsInsert;
  edit_buffer_ = Record();
  modified_ = false;
  insert_index_ = -1;
  SetState(TDataSetState::dsBrowse);
  if (was_inserting) CurrentChanged();
  DataChanged();
  if (AfterCancel) AfterCancel(this);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert) {
    Cancel();
    return;
  }
  if (records_.empty()) throw EDatabaseError("Cannot perform this operation on an empty dataset");
  if (state_ == TDataSetState::dsEdit) {
    edit_buffer_ = Record();
    modified_ = false;
    SetState(TDataSetState::dsBrowse);
  }
  if (BeforeDelete) BeforeDelete(this);
  DoBeforeScroll();
  RunWithErrorEvent(OnDeleteError, &TDataSet::DoDelete);
  const bool was_last = current_ == static_cast<int>(records_.size()) - 1;
  records_.erase(records_.begin() + current_);
  if (current_ >= static_cast<int>(records_.size())) current_ = static_cast<int>(records_.size()) - 1;
  eof_ = records_.empty() || was_last;
  bof_ = records_.empty();
  CurrentChanged();
  DataChanged();
  if (AfterDelete) AfterDelete(this);
  DoAfterScroll();
}

// ---------------------------------------------------------------- records and values

void TDataSet::AppendRecord(Record record) {
  record.deferred.resize(record.values.size(), false);
  records_.push_back(std::move(record));
}

const TDataSet::Record* TDataSet::CurrentRecord() const {
  switch (state_) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert: return &edit_buffer_;
    case TDataSetState::dsBrowse:
      return current_ >= 0 && current_ < static_cast<int>(records_.size()) ? &records_[static_cast<size_t>(current_)]
                                                                           : nullptr;
    default: return nullptr;
  }
}

const TDataSet::Record* TDataSet::OldRecord() const {
  if (state_ != TDataSetState::dsEdit) return nullptr;
  return &records_.at(static_cast<size_t>(current_));
}

Variant TDataSet::FetchDeferredValue(int, int column) {
  throw EDatabaseError(Format("Value of column %d is not available", column + 1));
}

// The loaded value of a deferred column of the current row; loads it on first use.
const Variant& TDataSet::DeferredValue(int column) const {
  if (current_ < 0) return kNullValue;
  if (deferred_record_ != current_) {
    deferred_values_.clear();
    deferred_record_ = current_;
  }
  auto it = deferred_values_.find(column);
  if (it == deferred_values_.end()) {
    Variant value = const_cast<TDataSet*>(this)->FetchDeferredValue(current_, column);
    it = deferred_values_.emplace(column, std::move(value)).first;
  }
  return it->second;
}

const Variant& TDataSet::ReadValue(const TField* field) const {
  if (!Active()) return kNullValue;
  if (field->FieldKind() != TFieldKind::fkData || field->FieldNo() <= 0) {
    auto it = calc_values_.find(field);
    return it == calc_values_.end() ? kNullValue : it->second;
  }
  const Record* record = CurrentRecord();
  const size_t col = static_cast<size_t>(field->FieldNo() - 1);
  if (!record || col >= record->values.size()) return kNullValue;
  if (col < record->deferred.size() && record->deferred[col]) return DeferredValue(static_cast<int>(col));
  return record->values[col];
}

Variant& TDataSet::ActiveValue(const TField* field) {
  if (field->FieldKind() != TFieldKind::fkData || field->FieldNo() <= 0) {
    CheckActive();
    return calc_values_[field];
  }
  CheckEditing();
  const size_t col = static_cast<size_t>(field->FieldNo() - 1);
  if (edit_buffer_.values.size() <= col) edit_buffer_.values.resize(col + 1);
  if (edit_buffer_.deferred.size() < edit_buffer_.values.size())
    edit_buffer_.deferred.resize(edit_buffer_.values.size(), false);
  edit_buffer_.deferred[col] = false;
  return edit_buffer_.values[col];
}

Variant TDataSet::GetFieldValue(const TField* field) const { return ReadValue(field); }

void TDataSet::SetFieldValue(TField* field, const Variant& value) {
  ActiveValue(field) = value;
  if (field->FieldKind() == TFieldKind::fkData) modified_ = true;
  const std::vector<TDataSource*> sources = data_sources_;
  for (TDataSource* source : sources) source->NotifyDataChange(field);
}

Variant TDataSet::GetOldFieldValue(const TField* field) const {
  if (field->FieldKind() != TFieldKind::fkData || field->FieldNo() <= 0) return ReadValue(field);
  if (state_ == TDataSetState::dsInsert) return Variant();
  if (state_ != TDataSetState::dsEdit) return ReadValue(field);
  const Record& record = records_.at(static_cast<size_t>(current_));
  const size_t col = static_cast<size_t>(field->FieldNo() - 1);
  if (col >= record.values.size()) return Variant();
  if (col < record.deferred.size() && record.deferred[col]) return DeferredValue(static_cast<int>(col));
  return record.values[col];
}

// ---------------------------------------------------------------- fields

void TDataSet::AttachField(TField* field) {
  if (std::find(fields_.begin(), fields_.end(), field) == fields_.end()) fields_.push_back(field);
}

void TDataSet::DetachField(TField* field) {
  fields_.erase(std::remove(fields_.begin(), fields_.end(), field), fields_.end());
  calc_values_.erase(field);
}

TField* TDataSet::FindField(const std::string& name) const {
  for (TField* field : fields_)
    if (SameText(field->FieldName(), name)) return field;
  return nullptr;
}

TField* TDataSet::FieldByName(const std::string& name) const {
  TField* field = FindField(name);
  if (!field) throw EDatabaseError(Prefix() + Format("Field '%s' not found", name.c_str()));
  return field;
}

Variant TDataSet::FieldValues(const std::string& name) const { return FieldByName(name)->Value(); }

void TDataSet::SetFieldValues(const std::string& name, const Variant& value) {
  FieldByName(name)->SetValue(value);
}

// ---------------------------------------------------------------- blob streams

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  if (!field || field->DataSet() != this)
    throw EDatabaseError("Field does not belong to this dataset");
  return std::make_unique<TDataSetBlobStream>(*this, field, mode);
}

// ---------------------------------------------------------------- data sources, master/detail

void TDataSet::AddDataSource(TDataSource* source) {
  if (std::find(data_sources_.begin(), data_sources_.end(), source) == data_sources_.end())
    data_sources_.push_back(source);
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  data_sources_.erase(std::remove(data_sources_.begin(), data_sources_.end(), source), data_sources_.end());
}

void TDataSet::SetMasterSource(TDataSource* source) {
  if (source == master_source_) return;
  if (source && source->DataSet() == this) throw EDatabaseError("Circular datalinks are not allowed");
  if (master_source_) master_source_->RemoveDetail(this);
  master_source_ = source;
  if (source) source->AddDetail(this);
}

void TDataSet::MasterChanged() {
  if (!master_source_ || master_fields_.empty()) return;
  TDataSet* master = master_source_->DataSet();
  if (!master || !master->Active()) return;
  TParams* params = DetailParams();
  if (!params) return;
  size_t start = 0;
  while (start <= master_fields_.size()) {
    size_t end = master_fields_.find(';', start);
    if (end == std::string::npos) end = master_fields_.size();
    const std::string name = Trim(master_fields_.substr(start, end - start));
    if (!name.empty()) params->ParamByName(name).SetValue(master->FieldByName(name)->Value());
    start = end + 1;
  }
  if (Active()) {
    CheckBrowseMode();
    SetActive(false);
    SetActive(true);
  }
}

}  // namespace tersify

namespace tersify {

bool TDataSet::FieldChanged(const TField* field) const {
  if (state_ == TDataSetState::dsInsert) return !ReadValue(field).IsNull();
  if (state_ != TDataSetState::dsEdit) return false;
  if (field->FieldKind() == TFieldKind::fkData && field->FieldNo() > 0) {
    const size_t col = static_cast<size_t>(field->FieldNo() - 1);
    const Record& record = records_.at(static_cast<size_t>(current_));
    const bool was_deferred = col < record.deferred.size() && record.deferred[col];
    const bool untouched = col < edit_buffer_.deferred.size() && edit_buffer_.deferred[col];
    if (was_deferred && untouched) return false;
  }
  return GetOldFieldValue(field) != ReadValue(field);
}

}  // namespace tersify
