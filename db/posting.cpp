// The posting path of TvrDataset: Post with its own transaction and the
// AfterPostEx report, the before-post step, and the generated insert and
// update statements that stamp the audit columns anUserIns, adTimeIns,
// anUserChg and adTimeChg.

#include <string>
#include <vector>

#include "db/database.h"
#include "db/dataset.h"
#include "framework/data/db_error.h"
#include "framework/rtl/platform.h"

namespace tersify {

namespace {

// The longest where clause an update takes over from the previous SQLUpdate.
constexpr size_t kMaxWhereClause = 4000;

bool IsInsertAudit(const std::string& name) { return SameText(name, "anUserIns") || SameText(name, "adTimeIns"); }
bool IsChangeAudit(const std::string& name) { return SameText(name, "anUserChg") || SameText(name, "adTimeChg"); }

// A field's value in an insert: the server's clock for the two time columns,
// the user id for the two user columns, the field's parameter otherwise.
std::string InsertValue(const std::string& name, const std::string& user_id) {
  if (SameText(name, "adTimeIns") || SameText(name, "adTimeChg")) return "GetDate()";
  if (SameText(name, "anUserIns") || SameText(name, "anUserChg")) return user_id;
  return ":" + name;
}

// One item of an update's set list.
std::string SetItem(const std::string& name, const std::string& user_id) {
  if (SameText(name, "adTimeChg")) return name + "=GetDate()";
  if (SameText(name, "anUserChg")) return name + "=" + user_id;
  return name + "=:" + name;
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += ",";
    text += item;
  }
  return text;
}

}  // namespace

void TvrDataset::DoAfterPostEx(TDataSet* dataset, bool from_error) {
  if (AfterPostEx) AfterPostEx(dataset, from_error);
}

void TvrDataset::Post() {
  TvrDatabase* database = database_;
  // A statement the layer generates is checked to have written one row before
  // it commits, so such a post always runs in a transaction, its own when none
  // is open. InTransaction is false on a database that is not connected.
  const bool owns_transaction =
      (auto_transact_on_post_ || GeneratesPostStatements()) && database && !database->InTransaction();
  if (owns_transaction) database->StartTransaction();
  try {
    TCustomMSDataSet::Post();
  } catch (...) {
    // A failing Rollback replaces the post's error, and AfterPostEx is not fired.
    if (owns_transaction) database->Rollback();
    DoAfterPostEx(this, true);
    throw;
  }
  if (owns_transaction) {
    try {
      database->Commit();
    } catch (...) {
      // A refused commit can leave the transaction open (a deferred constraint):
      // it is rolled back so that nothing later runs inside it. The commit's
      // error is the one reported.
      try {
        if (database->InTransaction()) database->Rollback();
      } catch (...) {
      }
      throw;
    }
  }
  DoAfterPostEx(this, false);
}

bool TvrDataset::GeneratesPostStatements() {
  return !Options().UpdateAllFields && (Tag() & tgGenerateSQL) != 0 && !table_name_.empty();
}

bool TvrDataset::HoldsToOneRow(TStatementType kind, bool generated) {
  return kind == layer_statement_ || TCustomMSDataSet::HoldsToOneRow(kind, generated);
}

void TvrDataset::DoBeforePost() { BeforePostStep(); }

void TvrDataset::BeforePostStep() {
  layer_statement_ = stQuery;
  MarkChangedKeys();
  TCustomMSDataSet::DoBeforePost();
  if (GeneratesPostStatements()) BuildPostStatement();
}

void TvrDataset::BuildPostStatement() {
  const bool inserting = State() == TDataSetState::dsInsert;
  const bool editing = State() == TDataSetState::dsEdit;
  std::vector<std::string> columns;
  std::vector<std::string> set_list;

  auto select_fields = [&](bool all_fields) {
    for (TField* field : FieldList()) {
      if (field->FieldKind() != TFieldKind::fkData) continue;
      if ((field->Tag() & tgNoSQL) != 0) continue;
      if (field->ReadOnly() && field->Tag() != tgWriteReadOnly) continue;
      const std::string& name = field->FieldName();
      const bool taken = all_fields || IsChangeAudit(name) || (inserting && IsInsertAudit(name)) ||
                         FieldChanged(field);
      if (!taken) continue;
      columns.push_back(name);
      if ((field->Tag() & tgKeyChanged) == 0) set_list.push_back(name);
    }
  };
  select_fields(false);
  if (columns.empty()) select_fields(true);

  const std::string user_id = std::to_string(database_ ? database_->anUserID() : 0);

  if (inserting) {
    std::string statement;
    if (!columns.empty()) {
      std::vector<std::string> values;
      values.reserve(columns.size());
      for (const std::string& name : columns) values.push_back(InsertValue(name, user_id));
      statement = "insert into " + table_name_ + "(" + Joined(columns) + ") values(" + Joined(values) + ")";
    }
    // Empty: the client library writes the row with a statement of its own.
    SQLInsert().SetText(statement);
    if (!statement.empty()) layer_statement_ = stInsert;
  } else if (editing) {
    std::vector<std::string> items;
    items.reserve(set_list.size());
    for (const std::string& name : set_list) items.push_back(SetItem(name, user_id));

    // The condition is the text after the first " where " of the previous update.
    const std::string previous = SQLUpdate().Text();
    std::string where;
    const size_t at = previous.find(" where ");
    if (at != std::string::npos) {
      where = previous.substr(at + 7);
      // A condition cut short could select other rows than the one being
      // posted; such an update is refused instead of being run.
      if (where.size() > kMaxWhereClause) {
        throw EDatabaseError(Format("The where clause of the update of %s is longer than %zu characters",
                                    table_name_.c_str(), kMaxWhereClause));
      }
    }
    std::string statement = "update " + table_name_ + " set " + Joined(items) + " where " + where;
    // No column to set: the client library writes the row with a statement of its own.
    if (statement.find(" set  where ") != std::string::npos) statement.clear();
    SQLUpdate().SetText(statement);
    if (!statement.empty()) layer_statement_ = stUpdate;
  }
}

}  // namespace tersify
