#include "framework/data/params.h"

#include "framework/data/db_error.h"
#include "framework/rtl/exception.h"
#include "framework/rtl/platform.h"

namespace tersify {

namespace {

TFieldType TypeOfValue(const Variant& value) {
  switch (value.Type()) {
    case TVarType::Null: return ftUnknown;
    case TVarType::Boolean: return ftBoolean;
    case TVarType::Integer: {
      const int64_t v = value.AsInt64();
      return (v < INT32_MIN || v > INT32_MAX) ? ftLargeint : ftInteger;
    }
    case TVarType::Float: return ftFloat;
    case TVarType::DateTime: return ftDateTime;
    case TVarType::String: return ftString;
    case TVarType::Bytes: return ftBlob;
  }
  return ftUnknown;
}

bool IsNameChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c == '#' || c == '@' || u >= 0x80;
}

}  // namespace

void TParam::SetValue(const Variant& value) {
  value_ = value;
  bound_ = true;
  if (data_type_ == ftUnknown) data_type_ = TypeOfValue(value);
}

TParam& TParams::CreateParam(TFieldType type, const std::string& name, TParamType param_type) {
  auto param = std::make_unique<TParam>(name, param_type);
  param->SetDataType(type);
  items_.push_back(std::move(param));
  return *items_.back();
}

TParam* TParams::FindParam(const std::string& name) const {
  for (const auto& param : items_)
    if (SameText(param->Name(), name)) return param.get();
  return nullptr;
}

TParam& TParams::ParamByName(const std::string& name) const {
  TParam* param = FindParam(name);
  if (!param) throw EDatabaseError(Format("Parameter '%s' not found", name.c_str()));
  return *param;
}

void TParams::Assign(const TParams& source) {
  if (&source == this) return;
  items_.clear();
  for (const auto& item : source.items_) items_.push_back(std::make_unique<TParam>(*item));
}

void TParams::AssignValues(const TParams& source) {
  for (const auto& item : items_) {
    const TParam* from = source.FindParam(item->Name());
    if (!from || from == item.get()) continue;
    const std::string name = item->Name();
    const TParamType param_type = item->ParamType();
    *item = *from;
    item->SetName(name);
    item->SetParamType(param_type);
  }
}

ParsedSQL ParseSQLParams(const std::string& sql) {
  ParsedSQL result;
  std::string& out = result.sql;
  out.reserve(sql.size());
  const size_t n = sql.size();
  size_t i = 0;
  // Copies from i up to and including the closing character (or to the end).
  auto copy_quoted = [&](char close) {
    out += sql[i++];
    while (i < n) {
      const char c = sql[i++];
      out += c;
      if (c == close) {
        if (i < n && sql[i] == close) {  // doubled: an escaped closing character
          out += sql[i++];
          continue;
        }
        return;
      }
    }
  };
  while (i < n) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      copy_quoted(c);
    } else if (c == '[') {
      copy_quoted(']');
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      const size_t end = sql.find('\n', i);
      const size_t stop = end == std::string::npos ? n : end;
      out.append(sql, i, stop - i);
      i = stop;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      const size_t end = sql.find("*/", i + 2);
      const size_t stop = end == std::string::npos ? n : end + 2;
      out.append(sql, i, stop - i);
      i = stop;
    } else if (c == ':') {
      if (i + 1 < n && sql[i + 1] == ':') {
        out += ':';
        i += 2;
      } else if (i + 1 < n && sql[i + 1] == '"') {
        const size_t end = sql.find('"', i + 2);
        if (end == std::string::npos) {  // an unclosed quoted name is no parameter
          out.append(sql, i, n - i);
          i = n;
        } else {
          result.names.push_back(sql.substr(i + 2, end - i - 2));
          out += '?';
          i = end + 1;
        }
      } else if (i + 1 < n && IsNameChar(sql[i + 1])) {
        size_t j = i + 1;
        while (j < n && IsNameChar(sql[j])) ++j;
        result.names.push_back(sql.substr(i + 1, j - i - 1));
        out += '?';
        i = j;
      } else {
        out += c;
        ++i;
      }
    } else {
      out += c;
      ++i;
    }
  }
  return result;
}

}  // namespace tersify
