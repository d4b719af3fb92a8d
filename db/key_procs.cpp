// Key discovery and key-change procedures of TvrDataset. The application
// database describes, per table, its key fields and the procedure that carries
// a change of each key value into the rows referring to it
// (fQZ_GetPksFieldsAndProc). A dataset loads that description once into its
// KeyProcMap (key field -> procedure, both upper case, "NULL" for none), marks
// changed key fields before each post, and after the row's own update runs the
// procedures of the changed keys with the old and new key values.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "db/database.h"
#include "db/dataset.h"
#include "db/registries.h"
#include "db/script.h"
#include "framework/rtl/platform.h"
#include "log/vr_log.h"

namespace tersify {

namespace {

constexpr const char* kServerVersionQuery =
    "select convert(tinyint, parsename(cast(serverproperty('ProductVersion') as varchar(30)), 4))";
constexpr const char* kKeyFunctionQuery = "select Object_ID('fQZ_GetPksFieldsAndProc')";
constexpr const char* kNoProcedure = "NULL";

// Procedures bracketed by the two pQZ_SysSetConInfoRC calls.
bool IsSpecialProcedure(const std::string& name) {
  for (const char* special : {"PHE_SETSUBJ_01", "PHR_PRSN_01", "PHE_SETACCOUNT_01", "PHE_COSTDRV_01",
                              "pHE_SetCurrency_01"}) {
    if (SameText(name, special)) return true;
  }
  return false;
}

// A text as a T-SQL string literal's content: every ' doubled.
std::string QuotedContent(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

bool NamesProcedure(const std::string& value) { return !value.empty() && value != kNoProcedure; }

void ExecOnDefaultDatabase(const char* sql) {
  if (TvrDatabase* database = DefaultDatabase.load()) database->ExecSQL(sql);
}

}  // namespace

void TvrDataset::LoadKeyProcMap() {
  TvrDatabase* database = database_;
  if (!database) return;
  if (database->KeyProcSupport() == kpsUnknown) {
    // Absent from the start: a probe that fails is not tried again.
    database->SetKeyProcSupport(kpsAbsent);
    if (database->SelectInteger(kServerVersionQuery, 0) >= 9 &&
        database->SelectInteger(kKeyFunctionQuery + DualTableSuffix(), 0) != 0) {
      database->SetKeyProcSupport(kpsPresent);
    }
  }
  if (database->KeyProcSupport() != kpsPresent || table_name_.empty() || key_proc_map_) return;

  // Created before the query: a failed load leaves the map empty for good.
  key_proc_map_ = std::make_unique<TStringList>();
  auto query = std::make_unique<TvrDataset>(nullptr);  // on the default database
  query->SetSQLText("select acFieldName, acProcName from fQZ_GetPksFieldsAndProc('" +
                    QuotedContent(table_name_) + "')");
  query->Open();
  for (query->First(); !query->Eof(); query->Next()) {
    const std::string field = query->FieldByName("acFieldName")->AsString();
    std::string procedure = query->FieldByName("acProcName")->AsString();
    if (procedure.empty()) procedure = "Null";
    // A later row for the same field replaces the earlier one.
    key_proc_map_->SetValue(UpperCase(field), UpperCase(procedure));
  }
}

void TvrDataset::MarkChangedKeys() {
  LoadKeyProcMap();
  TStringList* map = key_proc_map_.get();
  if (!map) return;
  SetTag(Tag() & ~tgKeyChanged);
  for (int i = 0; i < map->Count(); ++i) {
    if (!NamesProcedure(map->ValueFromIndex(i))) continue;
    TField* field = FieldByName(map->Names(i));
    field->SetTag(field->Tag() & ~tgKeyChanged);
    if (FieldChanged(field)) {
      field->SetTag(field->Tag() | tgKeyChanged);
      SetTag(Tag() | tgKeyChanged);
    }
  }
}

void TvrDataset::RunKeyChangeProcs() {
  TStringList* map = key_proc_map_.get();
  if (!map) return;

  // The procedures of the changed key fields, each once, in map order.
  std::vector<std::string> procedures;
  for (int i = 0; i < map->Count(); ++i) {
    const std::string procedure = map->ValueFromIndex(i);
    if (!NamesProcedure(procedure) || !FieldChanged(FieldByName(map->Names(i)))) continue;
    if (std::find(procedures.begin(), procedures.end(), procedure) == procedures.end())
      procedures.push_back(procedure);
  }

  for (const std::string& procedure : procedures) {
    auto proc = std::make_unique<TvrStoredProc>(nullptr);  // on the default database
    proc->SetStoredProcName(procedure);
    // Every key field of the procedure, changed or not, gives its old and new value.
    TField* key_field = nullptr;
    for (int i = 0; i < map->Count(); ++i) {
      if (map->ValueFromIndex(i) != procedure) continue;
      const std::string name = map->Names(i);
      key_field = FieldByName(name);
      proc->ParamByName("p_" + name).SetValue(key_field->OldValue());
      proc->ParamByName("p_" + name + "_NEW").SetValue(key_field->NewValue());
    }

    auto close_bracket = [&proc] {
      if (IsSpecialProcedure(proc->StoredProcName())) ExecOnDefaultDatabase("exec pQZ_SysSetConInfoRC 2, 0");
    };
    try {
      if (IsSpecialProcedure(proc->StoredProcName())) ExecOnDefaultDatabase("exec pQZ_SysSetConInfoRC 2, 1");
      proc->ExecProc();
      // The two procedures that carry a subject and a worker key call each
      // other, with the values of the procedure's own key field.
      const char* companion = nullptr;
      const char* companion_param = nullptr;
      if (SameText(proc->StoredProcName(), "PHE_SETSUBJ_01")) {
        companion = "PHR_PRSN_01";
        companion_param = "p_acworker";
      } else if (SameText(proc->StoredProcName(), "PHR_PRSN_01")) {
        companion = "PHE_SETSUBJ_01";
        companion_param = "p_acsubject";
      }
      if (companion && key_field) {
        proc->SetStoredProcName(companion);
        proc->ParamByName(companion_param).SetValue(key_field->OldValue());
        proc->ParamByName(std::string(companion_param) + "_NEW").SetValue(key_field->NewValue());
        proc->ExecProc();
      }
    } catch (...) {
      // The procedure's error is the one to report; an error of the closing
      // call goes to the diagnostic log instead of replacing it.
      try {
        close_bracket();
      } catch (const Exception& e) {
        LogError(e, this, "KeyChangeBracketClose", proc->StoredProcName());
      } catch (...) {
      }
      throw;
    }
    close_bracket();
  }
}

}  // namespace tersify
