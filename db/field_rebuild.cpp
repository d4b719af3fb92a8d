// TvrDataset::RebuildFields: the data fields are thrown away and made again
// from field definitions read afresh from the query; what the program had set
// on the old fields (formats, labels, handlers) is carried over by name.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "db/dataset.h"
#include "framework/data/db_error.h"
#include "framework/rtl/platform.h"

namespace tersify {

namespace {

struct TMyFormats {
  std::string EditFormat;
  std::string DisplayFormat;
};

struct TMyEvents {
  std::string DisplayLabel;
  std::string Origin;
  TDataSet* LookupDataSet = nullptr;  // not owned
  TFieldNotifyEvent OnChange;
  TFieldSetTextEvent OnSetText;
  TFieldGetTextEvent OnGetText;
  TFieldNotifyEvent OnValidate;
};

// The three groups of types whose formats are carried over.
enum class FormatGroup { None, String, Numeric, DateTime };

FormatGroup GroupOf(TFieldType type) {
  switch (type) {
    case ftString:
    case ftWideString: return FormatGroup::String;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftLargeint:
    case ftFMTBcd: return FormatGroup::Numeric;
    case ftDate:
    case ftTime:
    case ftDateTime: return FormatGroup::DateTime;
    default: return FormatGroup::None;
  }
}

// A list of records kept under field names, matched without regard to case;
// the first record under a name wins.
template <class T>
class NamedRecords {
 public:
  void Add(const std::string& name, T record) { items_.emplace_back(name, std::move(record)); }
  const T* Find(const std::string& name) const {
    for (const auto& [key, record] : items_)
      if (SameText(key, name)) return &record;
    return nullptr;
  }

 private:
  std::vector<std::pair<std::string, T>> items_;
};

std::optional<TMyFormats> FormatsOf(const TField& field) {
  switch (GroupOf(field.DataType())) {
    case FormatGroup::String: return TMyFormats{field.EditMask(), {}};
    case FormatGroup::Numeric: return TMyFormats{field.EditFormat(), field.DisplayFormat()};
    case FormatGroup::DateTime: return TMyFormats{field.EditMask(), field.DisplayFormat()};
    case FormatGroup::None: break;
  }
  return std::nullopt;
}

void ApplyFormats(TField& field, const TMyFormats& formats) {
  switch (GroupOf(field.DataType())) {
    case FormatGroup::String: field.SetEditMask(formats.EditFormat); break;
    case FormatGroup::Numeric:
      field.SetDisplayFormat(formats.DisplayFormat);
      field.SetEditFormat(formats.EditFormat);
      break;
    case FormatGroup::DateTime:
      field.SetDisplayFormat(formats.DisplayFormat);
      field.SetEditMask(formats.EditFormat);
      break;
    case FormatGroup::None: break;
  }
}

}  // namespace

void TvrDataset::RebuildFields() {
  // Fields of an open dataset are in use (rows, numeric handlers): destroying
  // them would leave dangling references.
  if (Active()) throw EDatabaseError("Cannot perform this operation on an open dataset");

  NamedRecords<TMyFormats> formats;
  NamedRecords<TMyEvents> events;

  const std::vector<TField*> old_fields = FieldList();
  for (auto it = old_fields.rbegin(); it != old_fields.rend(); ++it) {
    TField* field = *it;
    if (field->FieldKind() != TFieldKind::fkData) continue;     // calculated and lookup fields stay
    if (dynamic_cast<TDataSetField*>(field) != nullptr) continue;  // nested datasets stay
    events.Add(field->FieldName(), TMyEvents{field->DisplayLabel(), field->Origin(), field->LookupDataSet(),
                                             field->OnChange, field->OnSetText, field->OnGetText,
                                             field->OnValidate});
    if (std::optional<TMyFormats> f = FormatsOf(*field)) formats.Add(field->FieldName(), std::move(*f));
    DestroyField(field);
  }

  FieldDefs().Update();

  for (int i = 0; i < FieldDefs().Count(); ++i) {
    TFieldDef& def = FieldDefs().Items(i);
    if (def.DataType() == ftDataSet || (def.Attributes() & faHiddenCol)) continue;
    def.SetAttributes(0);
    def.SetRequired(false);
    if (FieldNamesToUpperCase()) def.SetName(UpperCase(def.Name()));
    TField* field = def.CreateField(*this);
    if (!Name().empty()) field->SetName(Name() + def.Name());
    if (const TMyEvents* e = events.Find(field->FieldName())) {
      field->SetDisplayLabel(e->DisplayLabel);
      field->SetOrigin(e->Origin);
      field->SetLookupDataSet(e->LookupDataSet);
      field->OnChange = e->OnChange;
      field->OnGetText = e->OnGetText;
      field->OnSetText = e->OnSetText;
      field->OnValidate = e->OnValidate;
    }
    if (const TMyFormats* f = formats.Find(field->FieldName())) ApplyFormats(*field, *f);
  }
}

}  // namespace tersify
