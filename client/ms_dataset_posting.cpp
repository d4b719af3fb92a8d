// Writing a row back: the application's SQLInsert/SQLUpdate/SQLDelete texts
// with ":name" and ":OLD_name" parameters, or, when a text is empty, a row
// statement built here that writes the changed columns of the query's table
// and finds the row by the table's primary key.

#include <algorithm>

#include "client/deferral_plan.h"
#include "client/ms_dataset.h"
#include "client/sql_text.h"
#include "framework/rtl/platform.h"

namespace tersify {

struct TCustomMSDataSet::RowStatement {
  std::string sql;                 // with '?' marks
  std::vector<std::string> marks;  // the parameter behind each mark, in order
  TParams params;                  // by name; handed to the update events
};

namespace {

const char* Verb(TStatementType kind) {
  switch (kind) {
    case stInsert: return "Insert";
    case stDelete: return "Delete";
    default: return "Update";
  }
}

const char* LowerVerb(TStatementType kind) {
  switch (kind) {
    case stInsert: return "insert";
    case stDelete: return "delete";
    default: return "update";
  }
}

bool IsBinaryType(TFieldType t) {
  return t == ftBlob || t == ftGraphic || t == ftTypedBinary || t == ftParadoxOle ||
         t == ftDBaseOle || t == ftOraBlob || t == ftBytes || t == ftVarBytes;
}

// A field that stands for a column of the query and may be written.
bool IsWritableColumn(const TField* field) {
  return field->FieldKind() == TFieldKind::fkData && field->FieldNo() > 0 && !field->ReadOnly();
}

bool StartsWithOld(const std::string& name) {
  return name.size() > 4 && LowerCase(name.substr(0, 4)) == "old_";
}

}  // namespace

Variant TCustomMSDataSet::BindableValue(const TField* field, const Variant& value) const {
  // Binary content travels as bytes so that providers bind it as binary, even
  // when it was assigned as text.
  if (IsBinaryType(field->DataType()) && value.Type() == TVarType::String)
    return Variant(TBytes{value.RawString()});
  return value;
}

bool TCustomMSDataSet::ColumnStillDeferred(const TField* field) const {
  const int column = field->FieldNo() - 1;
  const Record& buffer = EditBuffer();
  return column >= 0 && static_cast<size_t>(column) < buffer.deferred.size() &&
         buffer.deferred[static_cast<size_t>(column)];
}

std::string TCustomMSDataSet::TableToUpdate() const {
  if (!Trim(updating_table_).empty()) return updating_table_;
  const std::string table = AnalyzeSelect(ExpandMacros(sql_.Text(), macros_)).table;
  if (table.empty()) {
    throw EDatabaseError(
        "The table to update is not known: the SQL text names no table after FROM and "
        "UpdatingTable is empty");
  }
  return table;
}

void TCustomMSDataSet::InternalPost() {
  if (read_only_) throw EDatabaseError("Cannot modify a read-only dataset");
  const bool inserting = State() == TDataSetState::dsInsert;
  const TStatementType kind = inserting ? stInsert : stUpdate;
  const bool written = ApplyRowUpdate(inserting ? TUpdateKind::ukInsert : TUpdateKind::ukModify, [&] {
    // Read at each try: an OnUpdateError handler that retries may have mended it.
    const std::string custom = (inserting ? sql_insert_ : sql_update_).Text();
    return !Trim(custom).empty() ? RunCustomStatement(custom, kind) : RunGeneratedStatement(kind);
  });
  if (written) ReleasePostedBlobs();
  // The base keeps the edited values, also when no statement ran; an edited
  // row may have a new key, by which its blobs are found from now on.
  if (deferral_ && !inserting && CurrentIndex() >= 0 &&
      static_cast<size_t>(CurrentIndex()) < row_keys_.size()) {
    row_keys_[static_cast<size_t>(CurrentIndex())] = KeyValuesOf(EditBuffer());
  }
}

void TCustomMSDataSet::InternalDelete() {
  if (read_only_) throw EDatabaseError("Cannot modify a read-only dataset");
  ApplyRowUpdate(TUpdateKind::ukDelete, [&] {
    const std::string custom = sql_delete_.Text();
    return !Trim(custom).empty() ? RunCustomStatement(custom, stDelete) : RunGeneratedStatement(stDelete);
  });
  // The base removes the current row next (also when no statement ran).
  if (deferral_ && CurrentIndex() >= 0 &&
      static_cast<size_t>(CurrentIndex()) < row_keys_.size()) {
    row_keys_.erase(row_keys_.begin() + CurrentIndex());
  }
}

void TCustomMSDataSet::ReleasePostedBlobs() {
  // An inserted row would keep its blob values for as long as the dataset is
  // open; where the row can be found by its key they are read on demand like
  // those of every fetched row. (An edited row's written values are kept by
  // the base only while the row is current.)
  if (!deferral_ || State() != TDataSetState::dsInsert) return;
  const DeferralPlan& plan = *deferral_;
  Record& buffer = MutableEditBuffer();
  for (int key_column : plan.key_columns) {
    if (static_cast<size_t>(key_column) >= buffer.values.size() ||
        buffer.values[static_cast<size_t>(key_column)].IsNull()) {
      return;  // a key the server assigns: the row cannot be found again
    }
  }
  buffer.deferred.resize(buffer.values.size(), false);
  for (size_t column : plan.deferred_columns) {
    if (column >= buffer.values.size()) continue;
    buffer.values[column] = Variant();
    buffer.deferred[column] = true;
  }
}

bool TCustomMSDataSet::ApplyRowUpdate(TUpdateKind kind, const std::function<bool()>& write) {
  const char* verb = kind == TUpdateKind::ukInsert ? "Insert" : kind == TUpdateKind::ukDelete ? "Delete" : "Update";
  if (OnUpdateRecord) {
    for (;;) {
      TUpdateAction action = TUpdateAction::uaFail;
      OnUpdateRecord(this, kind, action);
      switch (action) {
        case TUpdateAction::uaApplied: return true;
        case TUpdateAction::uaSkip: return false;
        case TUpdateAction::uaAbort: throw EAbort();
        case TUpdateAction::uaRetry: continue;
        case TUpdateAction::uaFail: break;
      }
      throw EDatabaseError(Format("%s failed: OnUpdateRecord did not apply the row", verb));
    }
  }
  for (;;) {
    try {
      return write();
    } catch (ERowCountError&) {
      throw;  // rows were written that must not stay: never skipped or counted as applied
    } catch (EDatabaseError& error) {
      if (!OnUpdateError) throw;
      TUpdateAction action = TUpdateAction::uaFail;
      OnUpdateError(this, error, kind, action);
      switch (action) {
        case TUpdateAction::uaFail: throw;
        case TUpdateAction::uaAbort: throw EAbort();
        case TUpdateAction::uaSkip: return false;
        case TUpdateAction::uaApplied: return true;
        case TUpdateAction::uaRetry: break;
      }
    }
  }
}

bool TCustomMSDataSet::HoldsToOneRow(TStatementType kind, bool generated) {
  return generated || (options_.StrictUpdate && kind != stInsert);
}

bool TCustomMSDataSet::RunCustomStatement(const std::string& text, TStatementType kind) {
  ParsedSQL parsed = ParseSQLParams(text);
  RowStatement statement;
  statement.sql = std::move(parsed.sql);
  statement.marks = std::move(parsed.names);
  for (const std::string& name : statement.marks) {
    if (statement.params.FindParam(name)) continue;
    Variant value;
    TField* field = nullptr;
    if (StartsWithOld(name)) {
      field = FieldByName(name.substr(4));
      value = field->OldValue();
    } else {
      field = FieldByName(name);
      value = kind == stDelete ? field->Value() : field->NewValue();
    }
    statement.params.CreateParam(field->DataType(), name, TParamType::ptInput)
        .SetValue(BindableValue(field, value));
  }
  ExecuteRowStatement(statement, kind, false);
  return true;
}

bool TCustomMSDataSet::RunGeneratedStatement(TStatementType kind) {
  const std::string table = TableToUpdate();
  RowStatement statement;

  if (kind == stInsert) {
    std::string columns, marks;
    for (TField* field : FieldList()) {
      if (!IsWritableColumn(field)) continue;
      const Variant value = field->NewValue();
      if (value.IsNull()) continue;
      if (!columns.empty()) {
        columns += ",";
        marks += ",";
      }
      columns += QuoteName(field->FieldName());
      marks += "?";
      statement.marks.push_back(field->FieldName());
      statement.params.CreateParam(field->DataType(), field->FieldName(), TParamType::ptInput)
          .SetValue(BindableValue(field, value));
    }
    statement.sql = columns.empty()
                        ? "insert into " + table + " default values"
                        : "insert into " + table + " (" + columns + ") values (" + marks + ")";
    if (!PerformStatement(StatementSet(kind))) return false;
    ExecuteRowStatement(statement, kind, true);
    return true;
  }

  // The changed columns of an edited row; an unchanged row writes nothing.
  std::string set_list;
  if (kind == stUpdate) {
    for (TField* field : FieldList()) {
      if (!IsWritableColumn(field) || ColumnStillDeferred(field)) continue;
      const Variant old_value = field->OldValue();
      const Variant new_value = field->NewValue();
      if (old_value == new_value) continue;
      if (!set_list.empty()) set_list += ",";
      set_list += QuoteName(field->FieldName()) + "=?";
      statement.marks.push_back(field->FieldName());
      statement.params.CreateParam(field->DataType(), field->FieldName(), TParamType::ptInput)
          .SetValue(BindableValue(field, new_value));
    }
    if (set_list.empty()) return false;
  }

  // The row is found by the table's key, with the key values as they were read.
  const std::vector<std::string> keys = ActiveConnection().PrimaryKeyOf(table);
  if (keys.empty()) {
    throw EDatabaseError(Format("Table '%s' has no primary key: the row to %s cannot be identified",
                                table.c_str(), LowerVerb(kind)));
  }
  std::string where;
  for (const std::string& key : keys) {
    TField* field = FindField(key);
    if (!field || field->FieldKind() != TFieldKind::fkData || field->FieldNo() <= 0) {
      throw EDatabaseError(Format(
          "Key column '%s' of table '%s' is not among the query's columns: the row to %s "
          "cannot be identified",
          key.c_str(), table.c_str(), LowerVerb(kind)));
    }
    const Variant old_value = kind == stDelete ? field->Value() : field->OldValue();
    if (!where.empty()) where += " and ";
    where += QuoteName(key);
    if (old_value.IsNull()) {
      where += " is null";
      continue;
    }
    where += "=?";
    const std::string name = "OLD_" + field->FieldName();
    statement.marks.push_back(name);
    // Bound exactly as read: the provider hands a key out in the form that finds its row.
    statement.params.CreateParam(field->DataType(), name, TParamType::ptInput).SetValue(old_value);
  }

  statement.sql = kind == stDelete ? "delete from " + table + " where " + where
                                   : "update " + table + " set " + set_list + " where " + where;
  if (!PerformStatement(StatementSet(kind))) return false;
  ExecuteRowStatement(statement, kind, true);
  return true;
}

void TCustomMSDataSet::ExecuteRowStatement(RowStatement& statement, TStatementType kind,
                                           bool generated) {
  TMSConnection& connection = ActiveConnection();
  const TMSConnection::StatementTimeout limit(connection, CommandTimeout());
  providers::Provider& provider = connection.GetProvider();
  const TStatementTypes kinds = StatementSet(kind);
  if (BeforeUpdateExecute) BeforeUpdateExecute(this, kinds, statement.params);

  std::vector<Variant> values;
  values.reserve(statement.marks.size());
  for (const std::string& mark : statement.marks) values.push_back(statement.params.ParamByName(mark).Value());

  int64_t rows = -1;
  {
    std::unique_ptr<providers::Cursor> cursor = provider.Execute(statement.sql, values);
    while (cursor->Next()) {
    }
    rows = cursor->RowsAffected();
  }
  if (HoldsToOneRow(kind, generated) && rows >= 0 && rows != 1) {
    throw ERowCountError(Format("%s failed. Found %lld records", Verb(kind), static_cast<long long>(rows)));
  }
  AfterRowStatement(this, kinds, statement.params);
}

}  // namespace tersify
