// TMSStoredProc: a stored procedure's parameters read from the server, calls
// with output values written back, and procedures that return rows.

#include "client/ms_dataset.h"
#include "framework/rtl/platform.h"

namespace tersify {
namespace {

TParamType ParamTypeOf(providers::ParamDirection direction) {
  switch (direction) {
    case providers::ParamDirection::Output: return TParamType::ptOutput;
    case providers::ParamDirection::InputOutput: return TParamType::ptInputOutput;
    case providers::ParamDirection::Result: return TParamType::ptResult;
    case providers::ParamDirection::Input: break;
  }
  return TParamType::ptInput;
}

// What a call that gives no result set reads as.
class NoRows final : public providers::Cursor {
 public:
  const std::vector<providers::ColumnInfo>& Columns() const override { return columns_; }
  bool Next() override { return false; }
  Variant Value(int) override { return Variant(); }
  int64_t RowsAffected() const override { return -1; }

 private:
  std::vector<providers::ColumnInfo> columns_;
};

bool ReceivesValue(TParamType type) {
  return type == TParamType::ptOutput || type == TParamType::ptInputOutput ||
         type == TParamType::ptResult;
}

}  // namespace

TMSStoredProc::TMSStoredProc(TComponent* owner) : TCustomMSDataSet(owner) {
  // The parameters come from the server, not from an SQL text.
  SetParamCheck(false);
}

void TMSStoredProc::SetStoredProcName(const std::string& name) {
  if (name == stored_proc_name_) return;
  if (Active()) Close();
  stored_proc_name_ = name;
  prepared_ = false;
  if (Connection() && Connection()->Connected()) PrepareSQL();
}

void TMSStoredProc::PrepareSQL() {
  if (Trim(stored_proc_name_).empty()) throw EDatabaseError("Stored procedure name is not defined");
  TMSConnection& connection = ActiveConnection();
  const TMSConnection::StatementTimeout limit(connection, CommandTimeout());
  const std::vector<providers::ProcParamInfo> infos =
      connection.GetProvider().ProcedureParams(stored_proc_name_);

  // Values already given to parameters that the procedure still has are kept.
  TParams& params = Params();
  struct Kept {
    std::string name;
    Variant value;
  };
  std::vector<Kept> kept;
  for (int i = 0; i < params.Count(); ++i)
    if (params[i].Bound()) kept.push_back({params[i].Name(), params[i].Value()});
  params.Clear();
  for (const providers::ProcParamInfo& info : infos) {
    TParam& p = params.CreateParam(info.type, info.name, ParamTypeOf(info.direction));
    for (const Kept& k : kept)
      if (LowerCase(k.name) == LowerCase(info.name)) p.SetValue(k.value);
  }
  prepared_ = true;
}

std::vector<Variant> TMSStoredProc::CallValues() const {
  std::vector<Variant> values;
  TParams& params = const_cast<TMSStoredProc*>(this)->Params();
  for (int i = 0; i < params.Count(); ++i) {
    const TParam& p = params[i];
    if (p.ParamType() == TParamType::ptOutput || p.ParamType() == TParamType::ptResult)
      values.emplace_back();
    else
      values.push_back(p.Value());
  }
  return values;
}

void TMSStoredProc::WriteOutputs() {
  TParams& params = Params();
  for (int i = 0; i < params.Count() && static_cast<size_t>(i) < call_values_.size(); ++i) {
    if (ReceivesValue(params[i].ParamType())) params[i].SetValue(call_values_[static_cast<size_t>(i)]);
  }
}

std::unique_ptr<providers::Cursor> TMSStoredProc::OpenCursor() {
  if (!prepared_) PrepareSQL();
  TMSConnection& connection = ActiveConnection();
  const TMSConnection::StatementTimeout limit(connection, CommandTimeout());
  call_values_ = CallValues();
  std::unique_ptr<providers::Cursor> cursor =
      connection.GetProvider().ExecuteProcedure(stored_proc_name_, call_values_);
  if (!cursor) cursor = std::make_unique<NoRows>();
  return cursor;
}

void TMSStoredProc::CursorDone() { WriteOutputs(); }

void TMSStoredProc::ExecProc() {
  if (Active()) Close();
  std::unique_ptr<providers::Cursor> cursor = OpenCursor();
  // Output values are final once every result of the call has been read.
  while (cursor->Next()) {
  }
  const int64_t rows = cursor->RowsAffected();
  cursor.reset();
  SetRowsAffected(rows);
  WriteOutputs();
  if (AfterExecute) AfterExecute(this, true);
}

}  // namespace tersify
