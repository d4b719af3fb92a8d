#include "db/dataset.h"

#include "db/database.h"
#include "db/registries.h"
#include "db/report_adapter.h"
#include "framework/rtl/platform.h"
#include "log/vr_log.h"

namespace tersify {

TvrDataset::TvrDataset(TComponent* owner) : TCustomMSDataSet(owner) {
  tersify_ = false;
  compression_alg_ = caZLIB;
  compression_level_ = clNormal;
  FRefusedStatements = 0;
  sl_tag_ = std::make_unique<TStringList>();
  SetDatabase(DefaultDatabase.load());
  RegisterIn(DatasetRegistry, this);
  AddReportCompanion();
  table_name_.clear();
  Options().QueryRecCount = false;
  SetTrimFixedChar(true);
  Options().StrictUpdate = false;
  SetTrimVarChar(true);
  ora_compatibility_ = true;
  rebuild_fields_before_open_ = false;
  field_names_to_upper_case_ = false;
  OnDeleteError = TDataSetErrorEvent::Bind<&TvrDataset::DefaultDeleteError>(this);
  // A dataset being edited in a designer without a database gets the developer
  // settings' default database as its connection (Database stays nil).
  if (IsDesigning() && !database_) {
    LoadDesignTimeDefaultDatabase();
    if (TvrDatabase* loaded = DefaultDatabase.load()) SetConnection(loaded->ClientConnection());
  }
  set_text_helpers_.clear();
}

TvrDataset::~TvrDataset() {
  // Marked as being destroyed first: the close that follows skips the
  // before-close step.
  Destroying();
  key_proc_map_.reset();
  // The close during destruction skips the before-close step: fields that
  // outlive the dataset get their own handlers back instead of this dataset's.
  RemoveNumericHandlers();
  set_text_helpers_.clear();
  sl_tag_.reset();
  UnregisterFrom(DatasetRegistry, this);
  if (ReportCompanions) {
    if (TfrxDBDataset* adapter = ReportCompanions->FindByDataSet(this)) ReportCompanions->Release(adapter);
  }
}

void TvrDataset::AddReportCompanion() {
  if (!ReportCompanions) ReportCompanions = std::make_unique<TReportCompanions>();
  auto adapter = std::make_unique<TfrxDBDataset>();
  adapter->SetDataSet(this);
  adapter->SetName(Name());
  ReportCompanions->Add(std::move(adapter));
}

void TvrDataset::SetName(const std::string& name) {
  TCustomMSDataSet::SetName(name);  // validates; may raise
  if (name.empty()) return;
  TfrxDBDataset* adapter = ReportCompanions ? ReportCompanions->FindByDataSet(this) : nullptr;
  if (adapter)
    adapter->SetName(name);
  else
    AddReportCompanion();
}

void TvrDataset::Loaded() { TCustomMSDataSet::Loaded(); }

int TvrDataset::RecordCount() const { return TCustomMSDataSet::RecordCount(); }

void TvrDataset::SetDatabase(TvrDatabase* database) {
  database_ = database;
  if (!database) return;  // Connection keeps its value
  database->PrepareConnection();
  SetConnection(database->ClientConnection());
}

void TvrDataset::TraceOpen(const char* operation) {
  LogOperation(this, operation, "SQL --> " + SQL().Text());
}

void TvrDataset::SetActive(bool value) {
  const bool was_active = Active();
  const bool opening = value && !was_active;
  if (opening && SQLTraceEnabled) TraceOpen("BeforeOpen");
  TCustomMSDataSet::SetActive(value);
  if (opening && SQLTraceEnabled) TraceOpen("AfterOpen");
}

void TvrDataset::DoBeforeOpen() {
  if (!Active() && !database_) {
    if (IsDesigning() && !DefaultDatabase.load()) LoadDesignTimeDefaultDatabase();
    if (TvrDatabase* fallback = DefaultDatabase.load()) {
      fallback->SetConnected(true);
      SetDatabase(fallback);
    }
  }
  if (database_) {
    switch (database_->FetchMode()) {
      case 1:
        SetFetchAll(false);
        break;
      case 2:
        SetFetchAll(true);
        break;
      default:
        break;
    }
    if (rebuild_fields_before_open_) RebuildFields();
  }
  TCustomMSDataSet::DoBeforeOpen();
}

void TvrDataset::DoAfterOpen() {
  TCustomMSDataSet::DoAfterOpen();
  if (!IsDesigning()) InstallNumericHandlers();
}

void TvrDataset::DoBeforeClose() {
  TCustomMSDataSet::DoBeforeClose();
  RemoveNumericHandlers();
}

void TvrDataset::CreateFields() {
  TCustomMSDataSet::CreateFields();
  if (!database_ || !field_names_to_upper_case_) return;
  for (int i = 0; i < FieldCount(); ++i) Fields(i)->SetFieldName(UpperCase(Fields(i)->FieldName()));
}

void TvrDataset::SetFetchAll(bool value) {
  if (value || (database_ && database_->PartialFetchAllowed())) TCustomMSDataSet::SetFetchAll(value);
}

bool TvrDataset::PerformStatement(TStatementTypes kinds) {
  for (int kind = stQuery; kind <= stBatchUpdate; ++kind) {
    const auto type = static_cast<TStatementType>(kind);
    if (!Includes(kinds, type)) continue;
    if (Includes(FRefusedStatements, type)) return false;
    return TCustomMSDataSet::PerformStatement(kinds);
  }
  return false;  // none of the kinds the library knows
}

void TvrDataset::AfterRowStatement(TDataSet* sender, TStatementTypes kinds, TParams& params) {
  if (Includes(kinds, stUpdate) && (Tag() & tgKeyChanged) && State() == TDataSetState::dsEdit)
    RunKeyChangeProcs();
  TCustomMSDataSet::AfterRowStatement(sender, kinds, params);
}

void TvrDataset::DefaultDeleteError(TDataSet* dataset, EDatabaseError& error, TDataAction& action) {
  if (!DeleteErrorHook) return;
  bool handled = false;
  DeleteErrorHook(dataset, error, handled);
  if (handled) action = TDataAction::daAbort;
}

}  // namespace tersify
