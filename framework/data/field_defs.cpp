#include "framework/data/field_defs.h"

#include "framework/data/dataset.h"
#include "framework/data/field.h"
#include "framework/rtl/platform.h"

namespace tersify {

TField* TFieldDef::CreateField(TDataSet& dataset) const {
  TField* field = CreateFieldOfType(&dataset, data_type_);
  field->SetFieldName(name_);
  field->SetSize(size_);
  field->SetRequired(Required());
  field->SetReadOnly(attributes_ & faReadonly);
  field->SetVisible(!(attributes_ & faHiddenCol));
  field->SetFieldNo(field_no_);
  field->SetDataSet(&dataset);
  return field;
}

TFieldDef& TFieldDefs::Add(const std::string& name, TFieldType type, int32_t size, bool required) {
  items_.push_back(std::make_unique<TFieldDef>(name, type, size, required, Count() + 1));
  return *items_.back();
}

int TFieldDefs::IndexOf(const std::string& name) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(items_[static_cast<size_t>(i)]->Name(), name)) return i;
  return -1;
}

TFieldDef* TFieldDefs::Find(const std::string& name) const {
  const int index = IndexOf(name);
  return index < 0 ? nullptr : items_[static_cast<size_t>(index)].get();
}

void TFieldDefs::Update() {
  Clear();
  dataset_.InternalInitFieldDefs();
}

}  // namespace tersify
