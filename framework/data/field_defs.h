#pragma once
// Field definitions: what the open query says about its columns.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/data/field_type.h"
#include "framework/rtl/object.h"

namespace tersify {

class TDataSet;
class TField;

enum TFieldAttribute : uint32_t {
  faHiddenCol = 1u << 0,
  faReadonly = 1u << 1,
  faRequired = 1u << 2,
  faLink = 1u << 3,
  faUnNamed = 1u << 4,
  faFixed = 1u << 5,
};

class TFieldDef : public TObject {
 public:
  TFieldDef(std::string name, TFieldType type, int32_t size, bool required, int field_no)
      : name_(std::move(name)), data_type_(type), size_(size), field_no_(field_no) {
    if (required) attributes_ |= faRequired;
  }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  TFieldType DataType() const { return data_type_; }
  int32_t Size() const { return size_; }
  bool Required() const { return attributes_ & faRequired; }
  void SetRequired(bool required) {
    attributes_ = required ? (attributes_ | faRequired) : (attributes_ & ~uint32_t{faRequired});
  }
  uint32_t Attributes() const { return attributes_; }
  void SetAttributes(uint32_t attributes) { attributes_ = attributes; }
  // 1-based position of the column in the query.
  int FieldNo() const { return field_no_; }
  // A new field of the class that fits the type, owned by dataset, with this
  // definition's name, size, required and read-only flags and column number,
  // added to dataset's fields.
  TField* CreateField(TDataSet& dataset) const;

 private:
  std::string name_;
  TFieldType data_type_;
  int32_t size_;
  uint32_t attributes_ = 0;
  int field_no_;
};

class TFieldDefs : public TObject {
 public:
  explicit TFieldDefs(TDataSet& dataset) : dataset_(dataset) {}
  int Count() const { return static_cast<int>(items_.size()); }
  TFieldDef& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }
  TFieldDef& Add(const std::string& name, TFieldType type, int32_t size = 0, bool required = false);
  int IndexOf(const std::string& name) const;  // case-insensitive, -1 when missing
  TFieldDef* Find(const std::string& name) const;
  void Clear() { items_.clear(); }
  // Reads the definitions afresh from the dataset's query, without opening it.
  void Update();

 private:
  TDataSet& dataset_;
  std::vector<std::unique_ptr<TFieldDef>> items_;
};

}  // namespace tersify
