#include <cstring>

#include "framework/data/dataset.h"
#include "framework/rtl/platform.h"

namespace tersify {

namespace {

bool IsStringType(TFieldType t) {
  return t == ftString || t == ftWideString || t == ftFixedChar || t == ftFixedWideChar || t == ftMemo ||
         t == ftFmtMemo || t == ftWideMemo || t == ftOraClob || t == ftGuid;
}

// Text comparison of a row's value with the key text.
bool TextMatches(const Variant& row, const std::string& key, TLocateOptions options) {
  if (row.IsNull()) return false;
  const std::string& text = row.Type() == TVarType::String || row.Type() == TVarType::Bytes
                                ? row.RawString()
                                : row.AsString();
  const bool insensitive = options & loCaseInsensitive;
  if (options & loPartialKey) {
    if (key.empty()) return text.empty();
    if (text.size() < key.size()) return false;
    const std::string head = text.substr(0, key.size());
    return insensitive ? AnsiCompareText(head, key) == 0 : head == key;
  }
  return insensitive ? AnsiCompareText(text, key) == 0 : text == key;
}

}  // namespace

bool TDataSet::Locate(const std::string& field_name, const Variant& value, TLocateOptions options) {
  CheckBrowseMode();
  const TField* field = FieldByName(field_name);
  const bool as_text = IsStringType(field->DataType()) && !value.IsNull();
  const std::string key = as_text ? value.AsString() : std::string();
  const Variant wanted = as_text || value.IsNull() ? value : field->ConvertValue(value);

  const int count = static_cast<int>(records_.size());
  const bool column = field->FieldKind() == TFieldKind::fkData && field->FieldNo() > 0;
  const size_t col = column ? static_cast<size_t>(field->FieldNo() - 1) : 0;
  for (int i = 0; i < count; ++i) {
    const Record& record = records_[static_cast<size_t>(i)];
    Variant fetched;
    const Variant* row = &fetched;
    if (i == current_ || !column) {
      if (i != current_) continue;  // calculated values exist for the current row only
      row = &ReadValue(field);
    } else if (col < record.values.size()) {
      if (col < record.deferred.size() && record.deferred[col])
        fetched = FetchDeferredValue(i, static_cast<int>(col));  // looked at, not kept
      else
        row = &record.values[col];
    }
    const bool match = as_text ? TextMatches(*row, key, options) : *row == wanted;
    if (match) {
      DoBeforeScroll();
      MoveTo(i, false);
      bof_ = eof_ = false;
      DoAfterScroll();
      return true;
    }
  }
  return false;
}

Variant TDataSet::RecordValue(int index, const TField* field) const {
  if (!Active() || index < 0 || index >= static_cast<int>(records_.size())) return Variant();
  if (index == current_) return ReadValue(field);
  if (field->FieldKind() != TFieldKind::fkData || field->FieldNo() <= 0) return Variant();
  const Record& record = records_[static_cast<size_t>(index)];
  const size_t col = static_cast<size_t>(field->FieldNo() - 1);
  if (col >= record.values.size()) return Variant();
  if (col < record.deferred.size() && record.deferred[col])
    return const_cast<TDataSet*>(this)->FetchDeferredValue(index, static_cast<int>(col));
  return record.values[col];
}

}  // namespace tersify
