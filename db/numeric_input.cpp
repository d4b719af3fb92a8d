#include "db/numeric_input.h"

#include <algorithm>

#include "framework/rtl/platform.h"

namespace tersify {

namespace {

bool IsNumberChar(char c, char decimal, char thousand) {
  return c == '(' || c == ')' || c == '+' || c == '-' || (c >= '0' && c <= '9') || c == 'E' || c == decimal ||
         c == thousand;
}

// The code part that every dataset's NumericSetText binding shares.
const void* NumericSetTextCode() { return TFieldSetTextEvent::CodeOf<&TvrDataset::NumericSetText, TvrDataset>(); }

bool IsNumericSetText(const TFieldSetTextEvent& handler) {
  return handler.Assigned() && handler.Code() == NumericSetTextCode();
}

}  // namespace

bool TakesNumericSetText(const TField* field) {
  switch (field->DataType()) {
    case ftInteger:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftLargeint: return !field->ReadOnly() && field->FieldKind() == TFieldKind::fkData;
    default: return false;
  }
}

std::string TrimToNumber(const std::string& S) {
  if (S.empty()) return {};
  const char decimal = DecimalSeparator();
  const char thousand = ThousandSeparator();
  const size_t n = S.size();
  size_t i = 0;  // 0-based; the front scan stops before the last character
  while (i + 1 < n && !IsNumberChar(S[i], decimal, thousand)) ++i;
  size_t j = n - 1;
  while (j > i && !IsNumberChar(S[j], decimal, thousand)) --j;
  return S.substr(i, j - i + 1);
}

std::string MakeNegative(const std::string& S) {
  std::string r = TrimToNumber(S);
  if (!r.empty() && r.front() != '-') r.insert(r.begin(), '-');
  return r;
}

std::string NormalizeNumericText(const std::string& Text, bool IntegerOnly) {
  const char decimal = DecimalSeparator();
  const char thousand = ThousandSeparator();
  std::string r = Trim(Text);

  const bool both_kinds =
      Text.find(decimal) != std::string::npos && Text.find(thousand) != std::string::npos;
  bool seen = IntegerOnly;
  for (size_t k = r.size(); k-- > 0;) {
    const char c = r[k];
    if (c != decimal && c != thousand) continue;
    if (IntegerOnly) {
      // Grouping goes; a decimal separator is left for the conversion to refuse.
      if (c != decimal) r.erase(k, 1);
    } else if (seen) {
      r.erase(k, 1);
    } else {
      if (both_kinds)
        r[k] = decimal;
      else if (c == thousand)
        r.erase(k, 1);
      seen = true;
    }
  }
  if (r.empty()) return r;

  r = TrimToNumber(r);
  const size_t n = r.size();
  if (r.back() == '+') {
    r.pop_back();
  } else if (r.back() == '-') {
    r = MakeNegative(r.substr(0, n - 1));
  } else if (r.front() == '-') {
    r = MakeNegative(r.substr(1));
  } else if (r.front() == '(' && r.back() == ')') {
    r = MakeNegative(n >= 2 ? r.substr(1, n - 2) : std::string());
  }
  return r;
}

TFieldSetTextEvent FindSetTextHelper(const std::vector<std::unique_ptr<TSetTextHelper>>& helpers,
                                     const TField* field) {
  for (const auto& helper : helpers)
    if (helper->Field == field) return helper->SavedOnSetText;
  return {};
}

void TvrDataset::InstallNumericHandlers() {
  set_text_helpers_.clear();
  const TFieldSetTextEvent own = TFieldSetTextEvent::Bind<&TvrDataset::NumericSetText>(this);
  for (TField* field : FieldList()) {
    if (!TakesNumericSetText(field)) continue;
    if (!field->OnSetText.Assigned()) {
      field->OnSetText = own;
    } else if (!IsNumericSetText(field->OnSetText)) {
      auto helper = std::make_unique<TSetTextHelper>();
      helper->SavedOnSetText = field->OnSetText;
      helper->Field = field;
      field->OnSetText = own;
      set_text_helpers_.push_back(std::move(helper));  // a failed append releases the helper
    }
  }
}

void TvrDataset::RemoveNumericHandlers() {
  const std::vector<TField*> fields = FieldList();
  for (const auto& helper : set_text_helpers_) {
    // A field destroyed while the dataset was open has left the field list;
    // its helper then points at nothing and is only released.
    if (std::find(fields.begin(), fields.end(), helper->Field) == fields.end()) continue;
    helper->Field->OnSetText = helper->SavedOnSetText;
  }
  set_text_helpers_.clear();
  for (TField* field : fields)
    if (IsNumericSetText(field->OnSetText)) field->OnSetText.Clear();
}

void TvrDataset::NumericSetText(TField* Sender, const std::string& Text) {
  const TFieldType type = Sender->DataType();
  const bool integer_only = type == ftInteger || type == ftWord || type == ftLargeint;
  const std::string clean = NormalizeNumericText(Text, integer_only);
  if (const TFieldSetTextEvent saved = FindSetTextHelper(set_text_helpers_, Sender); saved.Assigned())
    saved(Sender, clean);
  else
    Sender->SetAsString(clean);
}

}  // namespace tersify
