#include "db/script.h"

#include "db/database.h"
#include "db/registries.h"
#include "framework/rtl/platform.h"
#include "framework/rtl/variant.h"
#include "log/vr_log.h"

namespace tersify {

// ---------------------------------------------------------------- TvrScript

TvrScript::TvrScript(TComponent* owner) : TComponent(owner) {
  const TvrconnType type = CreatingScript.Active ? CreatingScript.ConnectionType : DefaultConnectionType;
  if (type == ctSDAC) query_ = MakeComponent<TMSQuery>(this);
  if (TvrDatabase* database = DefaultDatabase.load()) SetDatabase(database);
  RegisterIn(ScriptRegistry, this);
  ora_compatibility_ = false;
}

TvrScript::~TvrScript() {
  Destroying();
  UnregisterFrom(ScriptRegistry, this);
  // The base destroys the internal query with the other owned components.
}

bool TvrScript::Debug() const { return query_ != nullptr && debug_; }

void TvrScript::SetDebug(bool value) {
  if (query_) debug_ = value;
}

TStrings* TvrScript::Macros() const { return query_ ? &query_->Macros() : nullptr; }

TStrings* TvrScript::SQL() const { return query_ ? &query_->SQL() : nullptr; }

void TvrScript::SetSQL(const TStrings& lines) {
  if (query_) query_->SetSQLText(lines.Text());
}

void TvrScript::SetDatabase(TvrDatabase* database) {
  database_ = database;
  if (database != nullptr && query_ != nullptr) query_->SetConnection(database->IntConnectionMS());
}

std::string TvrScript::TraceDetail() const {
  return "SQL --> " + (query_ ? query_->SQL().Text() : std::string());
}

void TvrScript::Execute() {
  if (SQLTraceEnabled) LogOperation(this, "BeforeExecute", TraceDetail());
  if (query_) query_->Execute();
  if (SQLTraceEnabled) LogOperation(this, "AfterExecute", TraceDetail());
}

// ------------------------------------------------------------ TvrStoredProc

namespace {

// The client procedure of a TvrStoredProc: keeps the rows its filter passes.
class TFilteredStoredProc : public TMSStoredProc {
 public:
  TFilteredStoredProc(TComponent* owner, const std::optional<TFilterExpression>& filter)
      : TMSStoredProc(owner), filter_(filter) {}

 protected:
  bool AcceptRow(const std::vector<providers::ColumnInfo>& columns, const std::vector<Variant>& values) override {
    if (!filter_) return true;
    return filter_->Matches([&](const std::string& name) -> Variant {
      for (size_t i = 0; i < columns.size() && i < values.size(); ++i)
        if (SameText(columns[i].name, name)) return values[i];
      throw EDatabaseError(Format("Field '%s' not found", name.c_str()));
    });
  }

 private:
  const std::optional<TFilterExpression>& filter_;  // the owning TvrStoredProc's
};

}  // namespace

TvrStoredProc::TvrStoredProc(TComponent* owner) : TComponent(owner) {
  TvrDatabase* default_database = DefaultDatabase.load();
  if (default_database) default_database->PrepareConnection();
  proc_ = MakeComponent<TFilteredStoredProc>(this, active_filter_);
  params_interface_ = std::make_unique<TvrParamsInterface>(this);
  RegisterIn(StoredProcRegistry, this);  // last step that may fail: the destructor leaves it again
  SetTrimVarChar(true);
  SetTrimFixedChar(true);
  // The procedure gets its client connection from the first write of
  // StoredProcName or Database, not here.
  database_ = default_database;
}

TvrStoredProc::~TvrStoredProc() {
  Destroying();
  UnregisterFrom(StoredProcRegistry, this);
  params_interface_.reset();
  // The base destroys the internal procedure with the other owned components.
}

bool TvrStoredProc::Active() const { return proc_->Active(); }
void TvrStoredProc::SetActive(bool value) { proc_->SetActive(value); }
bool TvrStoredProc::CachedUpdates() const { return proc_->CachedUpdates(); }
void TvrStoredProc::SetCachedUpdates(bool value) { proc_->SetCachedUpdates(value); }

void TvrStoredProc::SetDatabase(TvrDatabase* database) {
  database_ = database;
  if (database == nullptr) return;
  database->PrepareConnection();
  proc_->SetConnection(database->IntConnectionMS());
}

bool TvrStoredProc::FetchAll() const { return proc_->FetchAll(); }

void TvrStoredProc::SetFetchAll(bool value) {
  // Without several active result sets on the connection, a procedure that
  // leaves rows unread would block the connection's next statement.
  const bool mars = database_ != nullptr && database_->MultipleActiveResultSets();
  proc_->SetFetchAll(mars ? value : true);
}

int TvrStoredProc::FetchRows() const { return proc_->FetchRows(); }
void TvrStoredProc::SetFetchRows(int value) { proc_->SetFetchRows(value); }

TParams& TvrStoredProc::Params() const { return proc_->Params(); }
void TvrStoredProc::SetParams(const TParams& params) { proc_->Params().Assign(params); }

bool TvrStoredProc::ReadOnly() const { return proc_->ReadOnly(); }
void TvrStoredProc::SetReadOnly(bool value) { proc_->SetReadOnly(value); }

TStrings& TvrStoredProc::SQLDelete() const { return proc_->SQLDelete(); }
void TvrStoredProc::SetSQLDelete(const TStrings& lines) { proc_->SQLDelete().Assign(lines); }
TStrings& TvrStoredProc::SQLInsert() const { return proc_->SQLInsert(); }
void TvrStoredProc::SetSQLInsert(const TStrings& lines) { proc_->SQLInsert().Assign(lines); }
TStrings& TvrStoredProc::SQLRefresh() const { return proc_->SQLRefresh(); }
void TvrStoredProc::SetSQLRefresh(const TStrings& lines) { proc_->SQLRefresh().Assign(lines); }
TStrings& TvrStoredProc::SQLUpdate() const { return proc_->SQLUpdate(); }
void TvrStoredProc::SetSQLUpdate(const TStrings& lines) { proc_->SQLUpdate().Assign(lines); }

const std::string& TvrStoredProc::StoredProcName() const { return proc_->StoredProcName(); }

void TvrStoredProc::SetStoredProcName(const std::string& name) {
  if (proc_->Connection() == nullptr && !name.empty() && database_ != nullptr) {
    // Detach while connecting: a failed connect leaves the component without a
    // database (and the name unset), as does a database that cannot connect.
    TvrDatabase* database = database_;
    SetDatabase(nullptr);
    if (!database->Connected()) database->SetConnected(true);
    if (database->Connected()) SetDatabase(database);
  }
  proc_->SetStoredProcName(name);
}

void TvrStoredProc::UpdateFilter(std::string text, bool filtered, TFilterOptions options) {
  std::optional<TFilterExpression> compiled;
  if (filtered) compiled.emplace(text, options);  // raises before anything changes
  filter_ = std::move(text);
  filtered_ = filtered;
  filter_options_ = options;
  active_filter_ = std::move(compiled);
  if (proc_->Active()) {
    proc_->Close();
    proc_->Open();
  }
}

bool TvrStoredProc::UniDirectional() const { return proc_->UniDirectional(); }
void TvrStoredProc::SetUniDirectional(bool value) { proc_->SetUniDirectional(value); }
TMSCursorType TvrStoredProc::MSCursorType() const { return proc_->CursorType(); }
void TvrStoredProc::SetMSCursorType(TMSCursorType value) { proc_->SetCursorType(value); }
int TvrStoredProc::MSCommandTimeout() const { return proc_->CommandTimeout(); }
void TvrStoredProc::SetMSCommandTimeout(int seconds) { proc_->SetCommandTimeout(seconds); }
const std::string& TvrStoredProc::MSUpdatingTable() const { return proc_->UpdatingTable(); }
void TvrStoredProc::SetMSUpdatingTable(const std::string& table) { proc_->SetUpdatingTable(table); }
bool TvrStoredProc::TrimFixedChar() const { return proc_->Options().TrimFixedChar; }
void TvrStoredProc::SetTrimFixedChar(bool value) { proc_->Options().TrimFixedChar = value; }
bool TvrStoredProc::TrimVarChar() const { return proc_->Options().TrimVarChar; }
void TvrStoredProc::SetTrimVarChar(bool value) { proc_->Options().TrimVarChar = value; }

void TvrStoredProc::ExecProc() {
  if (SQLTraceEnabled) {
    LogOperation(this, "BeforeExecProc",
                 "Sp. name --> " + StoredProcName() + "\r\n" + "Parameters -->" + ParamsText());
  }
  proc_->ExecProc();
  if (SQLTraceEnabled) LogOperation(this, "AfterExecProc", "Sp. name --> " + StoredProcName());
}

TParam& TvrStoredProc::ParamByName(const std::string& name) const { return proc_->ParamByName(name); }

namespace {

std::string ParamValueText(const TParam& param) {
  const Variant& value = param.Value();
  switch (value.Type()) {
    case TVarType::Null: return std::string();
    case TVarType::Bytes:  // a blob: its stored content
    case TVarType::String: return value.RawString();
    case TVarType::DateTime: return DateTimeToStr(value.AsDateTime());
    default: break;
  }
  const TFieldType type = param.DataType();
  if (type == ftDate || type == ftDateTime || type == ftTimeStamp) return DateTimeToStr(value.AsDateTime());
  return value.AsString();
}

}  // namespace

std::string TvrStoredProc::ParamsText() const {
  std::string text;
  const TParams& params = proc_->Params();
  for (int i = 0; i < params.Count(); ++i) {
    if (!text.empty()) text += "\r\n";
    text += "@" + params[i].Name() + " := " + ParamValueText(params[i]);
  }
  return text;
}

}  // namespace tersify
