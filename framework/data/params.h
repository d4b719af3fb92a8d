#pragma once
// Parameters of a statement: ":name" marks in SQL text, and the values bound to them.

#include <memory>
#include <string>
#include <vector>

#include "framework/data/field_type.h"
#include "framework/rtl/object.h"
#include "framework/rtl/variant.h"

namespace tersify {

enum class TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

class TParam : public TObject {
 public:
  TParam() = default;
  TParam(std::string name, TParamType param_type = TParamType::ptInput)
      : name_(std::move(name)), param_type_(param_type) {}

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  TFieldType DataType() const { return data_type_; }
  void SetDataType(TFieldType type) { data_type_ = type; }
  TParamType ParamType() const { return param_type_; }
  void SetParamType(TParamType type) { param_type_ = type; }

  const Variant& Value() const { return value_; }
  // Setting a value marks the parameter bound; its data type follows the value
  // when none was set.
  void SetValue(const Variant& value);
  bool IsNull() const { return value_.IsNull(); }
  bool Bound() const { return bound_; }
  void Clear() { value_ = Variant(); }

  std::string AsString() const { return value_.AsString(); }
  void SetAsString(const std::string& v) { SetValue(v); }
  int32_t AsInteger() const { return value_.AsInteger(); }
  void SetAsInteger(int32_t v) { SetValue(v); }
  double AsFloat() const { return value_.AsFloat(); }
  void SetAsFloat(double v) { SetValue(v); }
  bool AsBoolean() const { return value_.AsBoolean(); }
  void SetAsBoolean(bool v) { SetValue(v); }
  TDateTime AsDateTime() const { return value_.AsDateTime(); }
  void SetAsDateTime(TDateTime v) { SetValue(v); }
  // Blob content as bytes (binds as binary).
  void SetAsBlob(const std::string& bytes) { SetValue(TBytes{bytes}); }

 private:
  std::string name_;
  TFieldType data_type_ = ftUnknown;
  TParamType param_type_ = TParamType::ptInput;
  Variant value_;
  bool bound_ = false;
};

class TParams : public TObject {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TParam& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }
  TParam& operator[](int index) const { return Items(index); }

  TParam& CreateParam(TFieldType type, const std::string& name, TParamType param_type);
  TParam* FindParam(const std::string& name) const;  // case-insensitive
  // Raises EDatabaseError "Parameter 'name' not found".
  TParam& ParamByName(const std::string& name) const;
  void Clear() { items_.clear(); }
  // Copies names, types and values.
  void Assign(const TParams& source);
  // Keeps the values of parameters that are still named after a re-parse.
  void AssignValues(const TParams& source);

 private:
  std::vector<std::unique_ptr<TParam>> items_;
};

// The ":name" marks of a SQL text, in order, with the text in which each mark is
// replaced by '?'. Marks inside quoted strings, [bracketed] or "quoted" names and
// comments are not parameters; "::" stands for a literal ':'. A name is made of
// letters, digits, '_', '$', '#', '@', or is itself quoted (:"a b").
struct ParsedSQL {
  std::string sql;                 // with '?' marks
  std::vector<std::string> names;  // in order of the marks; a name may repeat
};
ParsedSQL ParseSQLParams(const std::string& sql);

}  // namespace tersify
