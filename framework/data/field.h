#pragma once
// Fields: one per column of a dataset's current row. A field reads and writes
// its value through its dataset's active buffer (the current row while
// browsing, the edit buffer while editing or inserting).

#include <cstdint>
#include <memory>
#include <string>

#include "framework/data/field_type.h"
#include "framework/rtl/component.h"
#include "framework/rtl/method.h"
#include "framework/rtl/stream.h"
#include "framework/rtl/variant.h"

namespace tersify {

class TDataSet;
class TField;

enum class TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };
enum class TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

using TFieldNotifyEvent = TMethod<void(TField* sender)>;
using TFieldGetTextEvent = TMethod<void(TField* sender, std::string& text, bool display_text)>;
using TFieldSetTextEvent = TMethod<void(TField* sender, const std::string& text)>;

class TField : public TComponent {
 public:
  // A field of the given type; attach it to a dataset with SetDataSet (the
  // dataset's default fields are made and attached by the dataset itself).
  TField(TComponent* owner, TFieldType type);
  ~TField() override;

  TDataSet* DataSet() const { return dataset_; }
  // Adds the field to dataset's field list (removing it from a previous one).
  void SetDataSet(TDataSet* dataset);

  const std::string& FieldName() const { return field_name_; }
  void SetFieldName(const std::string& name) { field_name_ = name; }
  TFieldType DataType() const { return data_type_; }
  TFieldKind FieldKind() const { return kind_; }
  void SetFieldKind(TFieldKind kind) { kind_ = kind; }
  // Position in the query's columns (1-based), 0 for fields that are no column.
  int FieldNo() const { return field_no_; }
  void SetFieldNo(int no) { field_no_ = no; }
  int32_t Size() const { return size_; }
  void SetSize(int32_t size) { size_ = size; }
  int Index() const;  // position in the dataset's field list

  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool v) { read_only_ = v; }
  bool Required() const { return required_; }
  void SetRequired(bool v) { required_ = v; }
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { visible_ = v; }
  // The display label; the field name when none was set.
  std::string DisplayLabel() const { return display_label_.empty() ? field_name_ : display_label_; }
  void SetDisplayLabel(const std::string& v) { display_label_ = v; }
  const std::string& DisplayFormat() const { return display_format_; }
  void SetDisplayFormat(const std::string& v) { display_format_ = v; }
  const std::string& EditFormat() const { return edit_format_; }
  void SetEditFormat(const std::string& v) { edit_format_ = v; }
  const std::string& EditMask() const { return edit_mask_; }
  void SetEditMask(const std::string& v) { edit_mask_ = v; }
  const std::string& Origin() const { return origin_; }
  void SetOrigin(const std::string& v) { origin_ = v; }
  TDataSet* LookupDataSet() const { return lookup_dataset_; }
  void SetLookupDataSet(TDataSet* v) { lookup_dataset_ = v; }

  TFieldNotifyEvent OnChange;
  TFieldNotifyEvent OnValidate;
  TFieldGetTextEvent OnGetText;
  TFieldSetTextEvent OnSetText;

  // The value in the dataset's active buffer (null without a dataset or row).
  Variant Value() const;
  // Checks the dataset's state and the field's ReadOnly, converts the value to
  // the field's type, fires OnValidate, stores it, fires OnChange.
  void SetValue(const Variant& value);
  // The value of the row as it was read (null while inserting).
  Variant OldValue() const;
  // The value being edited (the same as Value while editing or inserting).
  Variant NewValue() const;
  bool IsNull() const { return Value().IsNull(); }
  void Clear() { SetValue(Variant()); }

  virtual std::string AsString() const;
  virtual void SetAsString(const std::string& value);
  // Typed reads give 0 / false for a null value; text that does not read as
  // the type raises EConvertError.
  int32_t AsInteger() const;
  void SetAsInteger(int32_t value) { SetValue(value); }
  int64_t AsLargeInt() const;
  void SetAsLargeInt(int64_t value) { SetValue(static_cast<long long>(value)); }
  double AsFloat() const;
  void SetAsFloat(double value) { SetValue(value); }
  bool AsBoolean() const;
  void SetAsBoolean(bool value) { SetValue(value); }
  TDateTime AsDateTime() const;
  void SetAsDateTime(TDateTime value) { SetValue(TDateTime{value}); }
  Variant AsVariant() const { return Value(); }
  void SetAsVariant(const Variant& value) { SetValue(value); }

  // Text shown (DisplayText) and edited (Text): OnGetText when assigned, else
  // the field's own formatting.
  std::string DisplayText() const;
  std::string Text() const;
  // The text-entry path: OnSetText when assigned, else the field's own conversion.
  void SetText(const std::string& text);

  // Converts a value to the representation this field stores (text to a number
  // for numeric fields, ...); raises EConvertError for text that does not fit.
  virtual Variant ConvertValue(const Variant& value) const;

 protected:
  virtual std::string FormatText(bool display) const;

 private:
  friend class TDataSet;  // a dataset destroyed first leaves its fields detached
  TDataSet* dataset_ = nullptr;
  std::string field_name_;
  TFieldType data_type_;
  TFieldKind kind_ = TFieldKind::fkData;
  int field_no_ = 0;
  int32_t size_ = 0;
  bool read_only_ = false;
  bool required_ = false;
  bool visible_ = true;
  std::string display_label_;
  std::string display_format_;
  std::string edit_format_;
  std::string edit_mask_;
  std::string origin_;
  TDataSet* lookup_dataset_ = nullptr;
};

class TStringField : public TField {
 public:
  explicit TStringField(TComponent* owner, TFieldType type = ftString) : TField(owner, type) {}
};
class TWideStringField : public TStringField {
 public:
  explicit TWideStringField(TComponent* owner, TFieldType type = ftWideString) : TStringField(owner, type) {}
};
class TNumericField : public TField {
 public:
  using TField::TField;
};
class TIntegerField : public TNumericField {
 public:
  explicit TIntegerField(TComponent* owner, TFieldType type = ftInteger) : TNumericField(owner, type) {}
};
class TSmallintField : public TIntegerField {
 public:
  explicit TSmallintField(TComponent* owner) : TIntegerField(owner, ftSmallint) {}
};
class TWordField : public TIntegerField {
 public:
  explicit TWordField(TComponent* owner) : TIntegerField(owner, ftWord) {}
};
class TAutoIncField : public TIntegerField {
 public:
  explicit TAutoIncField(TComponent* owner) : TIntegerField(owner, ftAutoInc) {}
};
class TLargeintField : public TNumericField {
 public:
  explicit TLargeintField(TComponent* owner) : TNumericField(owner, ftLargeint) {}
};
class TFloatField : public TNumericField {
 public:
  explicit TFloatField(TComponent* owner, TFieldType type = ftFloat) : TNumericField(owner, type) {}
};
class TCurrencyField : public TFloatField {
 public:
  explicit TCurrencyField(TComponent* owner) : TFloatField(owner, ftCurrency) {}
};
class TBCDField : public TNumericField {
 public:
  explicit TBCDField(TComponent* owner, TFieldType type = ftBCD) : TNumericField(owner, type) {}
};
class TFMTBCDField : public TBCDField {
 public:
  explicit TFMTBCDField(TComponent* owner) : TBCDField(owner, ftFMTBcd) {}
};
class TBooleanField : public TField {
 public:
  explicit TBooleanField(TComponent* owner) : TField(owner, ftBoolean) {}
};
class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(TComponent* owner, TFieldType type = ftDateTime) : TField(owner, type) {}
};
class TDateField : public TDateTimeField {
 public:
  explicit TDateField(TComponent* owner) : TDateTimeField(owner, ftDate) {}
};
class TTimeField : public TDateTimeField {
 public:
  explicit TTimeField(TComponent* owner) : TDateTimeField(owner, ftTime) {}
};
class TBytesField : public TField {
 public:
  explicit TBytesField(TComponent* owner, TFieldType type = ftBytes) : TField(owner, type) {}
};

// Binary and text blobs. Their value is read and written through the dataset's
// blob streams: AsString opens a read stream, SetAsString a write stream.
class TBlobField : public TField {
 public:
  explicit TBlobField(TComponent* owner, TFieldType type = ftBlob) : TField(owner, type) {}
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
  int64_t BlobSize() const;

 protected:
  // Display text "(BLOB)"/"(MEMO)" ("(Blob)"/"(Memo)" when null); edit text the content.
  std::string FormatText(bool display) const override;
};
class TMemoField : public TBlobField {
 public:
  explicit TMemoField(TComponent* owner, TFieldType type = ftMemo) : TBlobField(owner, type) {}
};
class TWideMemoField : public TMemoField {
 public:
  explicit TWideMemoField(TComponent* owner) : TMemoField(owner, ftWideMemo) {}
};
class TGraphicField : public TBlobField {
 public:
  explicit TGraphicField(TComponent* owner) : TBlobField(owner, ftGraphic) {}
};

// A field whose value is a nested dataset.
class TDataSetField : public TField {
 public:
  explicit TDataSetField(TComponent* owner) : TField(owner, ftDataSet) {}
  TDataSet* NestedDataSet() const { return nested_; }
  void SetNestedDataSet(TDataSet* dataset) { nested_ = dataset; }

 private:
  TDataSet* nested_ = nullptr;
};

// A new field of the class that fits type (TBlobField for ftBlob, TMemoField for
// ftMemo, ...), owned by owner (by the caller when owner is null).
TField* CreateFieldOfType(TComponent* owner, TFieldType type);

// Destroys a field whatever owns it: it leaves its owner's components and its
// dataset's fields (for rebuilding a dataset's fields).
void DestroyField(TField* field);

}  // namespace tersify
