// TCustomMSDataSet: parameters and macros of the SQL text, running it through
// the connection's provider, the rows it returns, and blob values that are
// read only when touched (deferred) wherever the row can be found again by
// its table's primary key.

#include "client/ms_dataset.h"

#include <algorithm>

#include "client/deferral_plan.h"
#include "client/sql_text.h"
#include "framework/rtl/platform.h"

namespace tersify {

namespace {

bool IsBinaryType(TFieldType t) {
  return t == ftBlob || t == ftGraphic || t == ftTypedBinary || t == ftParadoxOle ||
         t == ftDBaseOle || t == ftOraBlob || t == ftBytes || t == ftVarBytes;
}

bool IsFixedChar(const providers::ColumnInfo& c) {
  return c.declared_type.starts_with("char") || c.declared_type.starts_with("nchar") ||
         c.declared_type.starts_with("character(") || c.declared_type == "character";
}

void TrimTrailingBlanks(Variant& v) {
  if (v.Type() != TVarType::String) return;
  const std::string& s = v.RawString();
  size_t end = s.size();
  while (end > 0 && s[end - 1] == ' ') --end;
  if (end != s.size()) v = Variant(s.substr(0, end));
}

}  // namespace

TCustomMSDataSet::TCustomMSDataSet(TComponent* owner) : TDataSet(owner) {}

TCustomMSDataSet::~TCustomMSDataSet() {
  Destroying();
  try {
    if (Active()) Close();
  } catch (...) {
    // Closing keeps nothing on the server; a failing close handler cannot be
    // reported from a destructor.
  }
  if (connection_) connection_->DetachDataSet(this);
}

void TCustomMSDataSet::SetConnection(TMSConnection* connection) {
  if (connection == connection_) return;
  if (Active()) Close();
  if (connection_) connection_->DetachDataSet(this);
  connection_ = connection;
  if (connection_) connection_->AttachDataSet(this);
}

void TCustomMSDataSet::SetSQLText(const std::string& text) {
  if (Active()) Close();
  sql_.SetText(text);
  SyncParams();
}

void TCustomMSDataSet::SyncParams() {
  if (!param_check_) return;
  std::string text = ExpandMacros(sql_.Text(), macros_);
  if (text == parsed_text_) return;
  ParsedSQL parsed = ParseSQLParams(text);

  struct Kept {
    std::string name;
    TFieldType type;
    TParamType param_type;
    bool bound;
    Variant value;
  };
  std::vector<Kept> fresh;
  for (const std::string& name : parsed.names) {
    const bool seen = std::any_of(fresh.begin(), fresh.end(), [&](const Kept& k) {
      return LowerCase(k.name) == LowerCase(name);
    });
    if (seen) continue;
    Kept k{name, ftUnknown, TParamType::ptInput, false, Variant()};
    if (const TParam* old = params_.FindParam(name)) {
      k.type = old->DataType();
      k.param_type = old->ParamType();
      k.bound = old->Bound();
      k.value = old->Value();
    }
    fresh.push_back(std::move(k));
  }
  params_.Clear();
  for (const Kept& k : fresh) {
    TParam& p = params_.CreateParam(k.type, k.name, k.param_type);
    if (k.bound) p.SetValue(k.value);
  }
  parsed_text_ = std::move(text);
  parsed_ = std::move(parsed);
}

std::vector<Variant> TCustomMSDataSet::ParamValues() {
  std::vector<Variant> values;
  values.reserve(parsed_.names.size());
  for (const std::string& name : parsed_.names) {
    const TParam& p = params_.ParamByName(name);
    if (IsBinaryType(p.DataType()) && p.Value().Type() == TVarType::String)
      values.emplace_back(TBytes{p.Value().RawString()});
    else
      values.push_back(p.Value());
  }
  return values;
}

TMSConnection& TCustomMSDataSet::ActiveConnection() {
  if (!connection_) throw EDatabaseError("Connection is not defined");
  if (!connection_->Connected()) connection_->Open();
  return *connection_;
}

std::unique_ptr<providers::Cursor> TCustomMSDataSet::OpenCursor() {
  TMSConnection& connection = ActiveConnection();
  const TMSConnection::StatementTimeout limit(connection, command_timeout_);
  std::string sql;
  std::vector<Variant> values;
  if (param_check_) {
    SyncParams();
    sql = parsed_.sql;
    values = ParamValues();
  } else {
    sql = ExpandMacros(sql_.Text(), macros_);
  }
  if (Trim(sql).empty()) throw EDatabaseError("SQL statement is empty");
  PlanDeferral(sql);
  return connection.GetProvider().Execute(sql, values);
}

void TCustomMSDataSet::PlanDeferral(const std::string& sql) {
  deferral_.reset();
  SelectShape shape = AnalyzeSelect(sql);
  if (!shape.single_table) return;
  if (!updating_table_.empty() && LowerCase(updating_table_) != LowerCase(shape.table)) return;
  std::vector<std::string> keys;
  try {
    keys = connection_->PrimaryKeyOf(shape.table);
  } catch (const EMSError& e) {
    // Asking again with the query would only wait as long once more.
    if (e.IsTimeoutOrLostConnection()) throw;
    return;  // as below
  } catch (const EDatabaseError&) {
    // Not a table the server can describe (a view, a function): its blobs are
    // simply kept. The query itself reports any real fault.
    return;
  }
  if (keys.empty()) return;
  auto plan = std::make_unique<DeferralPlan>();
  plan->table = shape.table;
  plan->keys = std::move(keys);
  plan->shape = std::move(shape);
  deferral_ = std::move(plan);
}

void TCustomMSDataSet::FillFieldDefs(const std::vector<providers::ColumnInfo>& columns) {
  FieldDefs().Clear();
  for (const providers::ColumnInfo& c : columns) {
    // A column whose type nothing tells (an expression of an empty result) reads as text.
    const TFieldType type = c.type == ftUnknown ? ftString : c.type;
    FieldDefs().Add(c.name, type, c.size, false);
  }
}

void TCustomMSDataSet::FetchRows(providers::Cursor& cursor) {
  const std::vector<providers::ColumnInfo>& columns = cursor.Columns();
  const size_t n = columns.size();
  std::vector<bool> deferred(n, false);

  if (deferral_) {
    DeferralPlan& plan = *deferral_;
    plan.columns.clear();
    for (const providers::ColumnInfo& c : columns) plan.columns.push_back(c.name);
    plan.key_columns.clear();
    plan.deferred_columns.clear();
    for (const std::string& key : plan.keys) {
      int found = -1;
      for (size_t i = 0; i < n; ++i) {
        if (LowerCase(columns[i].name) == LowerCase(key)) {
          found = static_cast<int>(i);
          break;
        }
      }
      if (found < 0 || !plan.shape.NamesTableColumn(key)) {
        plan.key_columns.clear();
        break;
      }
      plan.key_columns.push_back(found);
    }
    bool any = false;
    if (!plan.key_columns.empty()) {
      for (size_t i = 0; i < n; ++i) {
        // A key column is never deferred, whatever its type: it is how rows are found again.
        const bool is_key = std::find(plan.key_columns.begin(), plan.key_columns.end(),
                                      static_cast<int>(i)) != plan.key_columns.end();
        if (IsBlobType(columns[i].type) && !is_key && plan.shape.NamesTableColumn(columns[i].name)) {
          deferred[i] = true;
          plan.deferred_columns.push_back(i);
          any = true;
        }
      }
    }
    if (!any) deferral_.reset();
  }

  std::vector<bool> trim(n, false);
  for (size_t i = 0; i < n; ++i) {
    const TFieldType t = columns[i].type;
    if (t != ftString && t != ftWideString && t != ftFixedChar && t != ftFixedWideChar) continue;
    trim[i] = IsFixedChar(columns[i]) ? options_.TrimFixedChar : options_.TrimVarChar;
  }

  row_keys_.clear();
  while (cursor.Next()) {
    Record record;
    record.values.resize(n);
    record.deferred = deferred;
    for (size_t i = 0; i < n; ++i) {
      if (deferred[i]) continue;  // never read from the cursor
      Variant v = cursor.TakeValue(static_cast<int>(i));
      if (trim[i]) TrimTrailingBlanks(v);
      record.values[i] = std::move(v);
    }
    if (deferral_) row_keys_.push_back(KeyValuesOf(record));
    AppendRecord(std::move(record));
  }
}

void TCustomMSDataSet::InternalOpen() {
  std::unique_ptr<providers::Cursor> cursor = std::move(pending_cursor_);
  if (!cursor) cursor = OpenCursor();
  if (cursor->Columns().empty()) {
    deferral_.reset();
    throw EDatabaseError("SQL statement doesn't return rows");
  }
  FillFieldDefs(cursor->Columns());
  FetchRows(*cursor);
  cursor.reset();
  CursorDone();
}

void TCustomMSDataSet::InternalClose() {
  pending_cursor_.reset();
  deferral_.reset();
  row_keys_.clear();
}

std::vector<Variant> TCustomMSDataSet::KeyValuesOf(const Record& record) const {
  std::vector<Variant> keys;
  for (int column : deferral_->key_columns) {
    const size_t c = static_cast<size_t>(column);
    keys.push_back(c < record.values.size() ? record.values[c] : Variant());
  }
  return keys;
}

void TCustomMSDataSet::DoAfterPost() {
  // The base has just placed an inserted row at the current index.
  if (deferral_ && row_keys_.size() + 1 == static_cast<size_t>(RecordsFetched()) && CurrentRecord()) {
    row_keys_.insert(row_keys_.begin() + CurrentIndex(), KeyValuesOf(*CurrentRecord()));
  }
  TDataSet::DoAfterPost();
}

void TCustomMSDataSet::InternalInitFieldDefs() {
  std::unique_ptr<providers::Cursor> cursor = OpenCursor();
  deferral_.reset();
  FillFieldDefs(cursor->Columns());
}

Variant TCustomMSDataSet::FetchDeferredValue(int record_index, int column) {
  if (!deferral_ || !connection_) return TDataSet::FetchDeferredValue(record_index, column);
  const DeferralPlan& plan = *deferral_;
  // The row's key as it was read: while editing, the stored record holds the
  // old values, and the key may be changing in the edit buffer. Another row
  // (Locate looks at every row) is found by the keys kept for it.
  std::vector<Variant> keys;
  if (record_index == CurrentIndex()) {
    const Record* record =
        State() == TDataSetState::dsEdit && OldRecord() ? OldRecord() : CurrentRecord();
    if (!record) throw EDatabaseError("No current row to read a blob value of");
    keys = KeyValuesOf(*record);
  } else {
    if (record_index < 0 || static_cast<size_t>(record_index) >= row_keys_.size() ||
        row_keys_.size() != static_cast<size_t>(RecordsFetched())) {
      throw EDatabaseError("The key of the row is not known: its blob value cannot be read");
    }
    keys = row_keys_[static_cast<size_t>(record_index)];
  }

  std::string sql = "select " + QuoteName(plan.columns.at(static_cast<size_t>(column))) +
                    " from " + plan.table + " where ";
  std::vector<Variant> key_values;
  for (size_t k = 0; k < plan.keys.size(); ++k) {
    if (k > 0) sql += " and ";
    sql += QuoteName(plan.keys[k]);
    if (keys[k].IsNull()) {
      sql += " is null";
    } else {
      sql += "=?";
      key_values.push_back(keys[k]);
    }
  }
  TMSConnection& connection = ActiveConnection();
  const TMSConnection::StatementTimeout limit(connection, command_timeout_);
  std::unique_ptr<providers::Cursor> cursor = connection.GetProvider().Execute(sql, key_values);
  if (!cursor->Next()) {
    throw EDatabaseError(Format("Row not found in table '%s' by its key: it was deleted or its key changed",
                                plan.table.c_str()));
  }
  Variant value = cursor->TakeValue(0);
  while (cursor->Next()) {
  }
  return value;
}

void TCustomMSDataSet::Execute() {
  if (Active()) Close();
  std::unique_ptr<providers::Cursor> cursor = OpenCursor();
  if (!cursor->Columns().empty()) {
    pending_cursor_ = std::move(cursor);
    try {
      Open();
    } catch (...) {
      pending_cursor_.reset();
      throw;
    }
  } else {
    while (cursor->Next()) {
    }
    rows_affected_ = cursor->RowsAffected();
    deferral_.reset();
    CursorDone();
  }
  if (AfterExecute) AfterExecute(this, true);
}

bool TCustomMSDataSet::PerformStatement(TStatementTypes) { return true; }

void TCustomMSDataSet::AfterRowStatement(TDataSet* sender, TStatementTypes kinds, TParams& params) {
  if (AfterUpdateExecute) AfterUpdateExecute(sender, kinds, params);
}

}  // namespace tersify
