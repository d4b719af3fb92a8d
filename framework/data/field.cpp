#include "framework/data/field.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "framework/data/dataset.h"
#include "framework/data/db_error.h"
#include "framework/data/field_conversions.h"
#include "framework/rtl/exception.h"
#include "framework/rtl/platform.h"

namespace tersify {

namespace {

bool IsIntegerType(TFieldType t) {
  return t == ftSmallint || t == ftInteger || t == ftWord || t == ftAutoInc || t == ftLargeint;
}
bool IsFloatType(TFieldType t) {
  return t == ftFloat || t == ftCurrency || t == ftBCD || t == ftFMTBcd;
}
bool IsDateTimeType(TFieldType t) { return t == ftDate || t == ftTime || t == ftDateTime || t == ftTimeStamp; }
bool IsBinaryType(TFieldType t) {
  return t == ftBytes || t == ftVarBytes || t == ftBlob || t == ftGraphic || t == ftParadoxOle ||
         t == ftDBaseOle || t == ftTypedBinary || t == ftOraBlob;
}
bool IsTextBlobType(TFieldType t) {
  return t == ftMemo || t == ftFmtMemo || t == ftOraClob || t == ftWideMemo;
}

void CheckRange(const TField& field, int64_t v) {
  int64_t low = 0, high = 0;
  switch (field.DataType()) {
    case ftSmallint: low = INT16_MIN; high = INT16_MAX; break;
    case ftWord: low = 0; high = UINT16_MAX; break;
    case ftInteger:
    case ftAutoInc: low = INT32_MIN; high = INT32_MAX; break;
    default: return;
  }
  if (v < low || v > high)
    throw EDatabaseError(Format("%lld is not a valid value for field '%s'. The allowed range is %lld to %lld",
                                static_cast<long long>(v), field.FieldName().c_str(),
                                static_cast<long long>(low), static_cast<long long>(high)));
}

}  // namespace

// ---- text <-> number in the locale's form

bool TextToInt64(const std::string& text, int64_t& out) {
  const std::string t = Trim(text);
  if (t.empty()) return false;
  const char* first = t.data();
  const char* last = t.data() + t.size();
  if (*first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, last, out);
  return ec == std::errc() && ptr == last;
}

bool TextToFloat(const std::string& text, double& out) {
  std::string t = Trim(text);
  if (t.empty()) return false;
  const char decimal = DecimalSeparator();
  for (char& c : t) {
    if (c == decimal) c = '.';
    else if (c == '.') return false;  // a point that is not the locale's separator
  }
  const char* first = t.data();
  const char* last = t.data() + t.size();
  if (*first == '+') ++first;
  if (first == last || *first == '+') return false;
  // Only plain decimal notation with an optional exponent (no "inf", "nan", hex).
  for (const char* p = first; p != last; ++p)
    if (!((*p >= '0' && *p <= '9') || *p == '.' || *p == '-' || *p == 'e' || *p == 'E')) return false;
  auto [ptr, ec] = std::from_chars(first, last, out, std::chars_format::general);
  return ec == std::errc() && ptr == last && std::isfinite(out);
}

std::string FloatToText(double value) {
  char buf[64];
  auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  std::string s(buf, ec == std::errc() ? ptr : buf);
  const char decimal = DecimalSeparator();
  if (decimal != '.') std::replace(s.begin(), s.end(), '.', decimal);
  return s;
}

// ---- TField

TField::TField(TComponent* owner, TFieldType type) : TComponent(owner), data_type_(type) {}

TField::~TField() {
  if (dataset_) dataset_->DetachField(this);
}

void TField::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if ((dataset && dataset->Active()) || (dataset_ && dataset_->Active()))
    throw EDatabaseError("Cannot perform this operation on an open dataset");
  if (dataset_) dataset_->DetachField(this);
  dataset_ = nullptr;
  if (dataset) {
    dataset->AttachField(this);
    dataset_ = dataset;
  }
}

int TField::Index() const {
  if (!dataset_) return -1;
  for (int i = 0; i < dataset_->FieldCount(); ++i)
    if (dataset_->Fields(i) == this) return i;
  return -1;
}

Variant TField::Value() const { return dataset_ ? dataset_->GetFieldValue(this) : Variant(); }

void TField::SetValue(const Variant& value) {
  if (!dataset_) throw EDatabaseError(Format("Field '%s' has no dataset", field_name_.c_str()));
  if (kind_ == TFieldKind::fkData) dataset_->CheckEditing();
  if (read_only_) throw EDatabaseError(Format("Field '%s' cannot be modified", field_name_.c_str()));
  const Variant converted = ConvertValue(value);
  if (OnValidate) OnValidate(this);
  dataset_->SetFieldValue(this, converted);
  if (OnChange) OnChange(this);
}

Variant TField::OldValue() const { return dataset_ ? dataset_->GetOldFieldValue(this) : Variant(); }
Variant TField::NewValue() const { return Value(); }

std::string TField::AsString() const {
  const Variant v = Value();
  if (v.IsNull()) return {};
  switch (v.Type()) {
    case TVarType::Float: return FloatToText(v.AsFloat());
    case TVarType::DateTime: return DateTimeToStr(v.AsDateTime());
    default: return v.AsString();
  }
}

void TField::SetAsString(const std::string& value) { SetValue(value); }

int32_t TField::AsInteger() const {
  const int64_t v = AsLargeInt();
  if (v < INT32_MIN || v > INT32_MAX)
    throw EConvertError(Format("'%lld' is not a valid integer value", static_cast<long long>(v)));
  return static_cast<int32_t>(v);
}

int64_t TField::AsLargeInt() const {
  const Variant v = Value();
  switch (v.Type()) {
    case TVarType::Null: return 0;
    case TVarType::String:
    case TVarType::Bytes: {
      int64_t n;
      if (!TextToInt64(v.RawString(), n))
        throw EConvertError(Format("'%s' is not a valid integer value", v.RawString().c_str()));
      return n;
    }
    default: return v.AsInt64();
  }
}

double TField::AsFloat() const {
  const Variant v = Value();
  switch (v.Type()) {
    case TVarType::Null: return 0;
    case TVarType::String:
    case TVarType::Bytes: {
      double d;
      if (!TextToFloat(v.RawString(), d))
        throw EConvertError(Format("'%s' is not a valid floating point value", v.RawString().c_str()));
      return d;
    }
    default: return v.AsFloat();
  }
}

bool TField::AsBoolean() const {
  const Variant v = Value();
  if (v.IsNull()) return false;
  try {
    return v.AsBoolean();
  } catch (const EVariantError&) {
    throw EConvertError(Format("'%s' is not a valid boolean value", v.AsString().c_str()));
  }
}

TDateTime TField::AsDateTime() const {
  const Variant v = Value();
  if (v.IsNull()) return TDateTime{};
  if (v.Type() == TVarType::String) {
    try {
      return StrToDateTime(v.RawString());
    } catch (const EConvertError&) {
      throw EConvertError(Format("'%s' is not a valid date and time", v.RawString().c_str()));
    }
  }
  try {
    return v.AsDateTime();
  } catch (const EVariantError& e) {
    throw EConvertError(e.Message());
  }
}

std::string TField::DisplayText() const {
  if (OnGetText) {
    std::string text;
    OnGetText(const_cast<TField*>(this), text, true);
    return text;
  }
  return FormatText(true);
}

std::string TField::Text() const {
  if (OnGetText) {
    std::string text;
    OnGetText(const_cast<TField*>(this), text, false);
    return text;
  }
  return FormatText(false);
}

void TField::SetText(const std::string& text) {
  if (OnSetText)
    OnSetText(this, text);
  else
    SetAsString(text);
}

std::string TField::FormatText(bool display) const {
  const TFieldType t = data_type_;
  if (IsIntegerType(t) || IsFloatType(t)) {
    const std::string& format = display ? display_format_ : edit_format_;
    const Variant v = Value();
    if (v.IsNull()) return {};
    if (!format.empty()) return FormatFloat(format, AsFloat());
    return AsString();
  }
  if (IsDateTimeType(t)) {
    const Variant v = Value();
    if (v.IsNull()) return {};
    if (display && !display_format_.empty()) return FormatDateTime(display_format_, AsDateTime());
    return AsString();
  }
  return AsString();
}

Variant TField::ConvertValue(const Variant& value) const {
  if (value.IsNull()) return value;
  const TFieldType t = data_type_;
  const bool textual = value.Type() == TVarType::String || value.Type() == TVarType::Bytes;
  if (IsIntegerType(t)) {
    int64_t n;
    if (textual) {
      const std::string& text = value.RawString();
      if (Trim(text).empty()) return Variant();
      if (!TextToInt64(text, n))
        throw EConvertError(Format("'%s' is not a valid integer value", text.c_str()));
    } else {
      try {
        n = value.AsInt64();
      } catch (const EVariantError&) {
        throw EConvertError(Format("'%s' is not a valid integer value", value.AsString().c_str()));
      }
    }
    CheckRange(*this, n);
    return Variant(static_cast<long long>(n));
  }
  if (IsFloatType(t)) {
    if (textual) {
      const std::string& text = value.RawString();
      if (Trim(text).empty()) return Variant();
      double d;
      if (!TextToFloat(text, d))
        throw EConvertError(Format("'%s' is not a valid floating point value", text.c_str()));
      return Variant(d);
    }
    try {
      return Variant(value.AsFloat());
    } catch (const EVariantError&) {
      throw EConvertError(Format("'%s' is not a valid floating point value", value.AsString().c_str()));
    }
  }
  if (t == ftBoolean) {
    if (textual) {
      const std::string text = Trim(value.RawString());
      if (text.empty()) return Variant();
      const std::string upper = UpperCase(text);
      if (upper == "TRUE" || upper == "T" || upper == "YES" || upper == "Y" || upper == "1") return Variant(true);
      if (upper == "FALSE" || upper == "F" || upper == "NO" || upper == "N" || upper == "0") return Variant(false);
      throw EConvertError(Format("'%s' is not a valid boolean value", value.RawString().c_str()));
    }
    try {
      return Variant(value.AsBoolean());
    } catch (const EVariantError&) {
      throw EConvertError(Format("'%s' is not a valid boolean value", value.AsString().c_str()));
    }
  }
  if (IsDateTimeType(t)) {
    TDateTime dt;
    if (textual) {
      const std::string& text = value.RawString();
      if (Trim(text).empty()) return Variant();
      if (!TextToDateTime(text, t, dt)) {
        const char* what = t == ftDate ? "date" : t == ftTime ? "time" : "date and time";
        throw EConvertError(Format("'%s' is not a valid %s", text.c_str(), what));
      }
    } else {
      try {
        dt = value.AsDateTime();
      } catch (const EVariantError&) {
        throw EConvertError(Format("'%s' is not a valid date and time", value.AsString().c_str()));
      }
    }
    if (t == ftDate) dt.value = std::trunc(dt.value);
    return Variant(dt);
  }
  if (IsBinaryType(t)) {
    if (value.Type() == TVarType::Bytes) return value;
    return Variant(TBytes{value.AsString()});
  }
  if (value.Type() == TVarType::String) return value;
  if (value.Type() == TVarType::Float) return Variant(FloatToText(value.AsFloat()));
  if (value.Type() == TVarType::DateTime) return Variant(DateTimeToStr(value.AsDateTime()));
  return Variant(value.AsString());
}

// ---- blob fields

std::string TBlobField::AsString() const {
  if (!DataSet()) return {};
  auto stream = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), TBlobStreamMode::bmRead);
  return stream->ReadAll();
}

void TBlobField::SetAsString(const std::string& value) {
  if (!DataSet()) throw EDatabaseError(Format("Field '%s' has no dataset", FieldName().c_str()));
  auto stream = DataSet()->CreateBlobStream(this, TBlobStreamMode::bmWrite);
  stream->WriteString(value);
  stream->Flush();  // store now, so that an error reaches the caller
  stream.reset();
}

void TBlobField::LoadFromStream(TStream& stream) {
  if (!DataSet()) throw EDatabaseError(Format("Field '%s' has no dataset", FieldName().c_str()));
  auto blob = DataSet()->CreateBlobStream(this, TBlobStreamMode::bmWrite);
  blob->CopyFrom(stream, 0);
  blob->Flush();
  blob.reset();
}

void TBlobField::SaveToStream(TStream& stream) const {
  if (!DataSet()) return;
  auto blob = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), TBlobStreamMode::bmRead);
  stream.CopyFrom(*blob, 0);
}

int64_t TBlobField::BlobSize() const {
  if (!DataSet()) return 0;
  auto blob = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), TBlobStreamMode::bmRead);
  return blob->Size();
}

std::string TBlobField::FormatText(bool display) const {
  if (!display) return AsString();
  const bool text = IsTextBlobType(DataType());
  if (IsNull()) return text ? "(Memo)" : "(Blob)";
  return text ? "(MEMO)" : "(BLOB)";
}

// ---- field classes by type

TField* CreateFieldOfType(TComponent* owner, TFieldType type) {
  auto make = [owner](auto* tag, auto... args) -> TField* {
    using T = std::remove_pointer_t<decltype(tag)>;
    if (owner) return MakeComponent<T>(owner, args...);
    return std::make_unique<T>(nullptr, args...).release();  // the caller owns it
  };
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftGuid: return make(static_cast<TStringField*>(nullptr), type);
    case ftWideString:
    case ftFixedWideChar: return make(static_cast<TWideStringField*>(nullptr), type);
    case ftSmallint: return make(static_cast<TSmallintField*>(nullptr));
    case ftInteger: return make(static_cast<TIntegerField*>(nullptr), ftInteger);
    case ftWord: return make(static_cast<TWordField*>(nullptr));
    case ftAutoInc: return make(static_cast<TAutoIncField*>(nullptr));
    case ftLargeint: return make(static_cast<TLargeintField*>(nullptr));
    case ftBoolean: return make(static_cast<TBooleanField*>(nullptr));
    case ftFloat: return make(static_cast<TFloatField*>(nullptr), ftFloat);
    case ftCurrency: return make(static_cast<TCurrencyField*>(nullptr));
    case ftBCD: return make(static_cast<TBCDField*>(nullptr), ftBCD);
    case ftFMTBcd: return make(static_cast<TFMTBCDField*>(nullptr));
    case ftDate: return make(static_cast<TDateField*>(nullptr));
    case ftTime: return make(static_cast<TTimeField*>(nullptr));
    case ftDateTime:
    case ftTimeStamp: return make(static_cast<TDateTimeField*>(nullptr), type);
    case ftBytes:
    case ftVarBytes: return make(static_cast<TBytesField*>(nullptr), type);
    case ftBlob:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob: return make(static_cast<TBlobField*>(nullptr), type);
    case ftGraphic: return make(static_cast<TGraphicField*>(nullptr));
    case ftMemo:
    case ftFmtMemo:
    case ftOraClob: return make(static_cast<TMemoField*>(nullptr), type);
    case ftWideMemo: return make(static_cast<TWideMemoField*>(nullptr));
    case ftDataSet: return make(static_cast<TDataSetField*>(nullptr));
    default: return make(static_cast<TField*>(nullptr), type);
  }
}

}  // namespace tersify

namespace tersify {

void DestroyField(TField* field) {
  delete field;  // ownership type: the field leaves its owner's list and its dataset itself
}

}  // namespace tersify
