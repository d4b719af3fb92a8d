#include "log/log_values.h"

namespace tersify {

std::string SQLValue(const std::string& text, bool comma) {
  std::string result;
  result.reserve(text.size() + 3);
  for (char c : text) {
    if (c == '\0') continue;
    if (result.empty()) result += '"';
    if (c == '"') result += '"';
    result += c;
  }
  if (result.empty()) {
    result = "NULL";
  } else {
    result += '"';
  }
  if (comma) result += ',';
  return result;
}

namespace {

// FormName, ControlName, SenderName, ObjectName, AppName, BuildNo and the tick
// count, as both statements begin their values.
std::string LeadingValues(const TLogRow& row) {
  return SQLValue(row.FormName, true) + SQLValue(row.ControlName, true) + SQLValue(row.SenderName, true) +
         SQLValue(row.ObjectName, true) + SQLValue(row.AppName, true) + SQLValue(row.BuildNo, true) +
         std::to_string(row.TickCount) + ", ";
}

std::string DescribedObject(const TLogRow& row) {
  return SQLValue(row.FormName, true) + SQLValue(row.ControlName, true) + SQLValue(row.SenderName, true) +
         SQLValue(row.ObjectName, true);
}

}  // namespace

std::string TraceInsertStatement(const TLogRow& row) {
  return " insert into log (FormName, ControlName, SenderName, ObjectName, AppName, BuildNo, TickCount, "
         "Operation, SenderProp)  values (" +
         LeadingValues(row) + SQLValue(row.Operation, true) + SQLValue(row.SenderProp, false) + "); ";
}

std::string ErrorInsertStatement(const TLogRow& row) {
  return " insert into log (FormName, ControlName, SenderName, ObjectName, AppName, BuildNo, TickCount, "
         "Operation, ExceptObject, Error, SenderProp)  values (" +
         LeadingValues(row) + SQLValue(row.Operation, true) + SQLValue(row.ExceptObject, true) +
         SQLValue(row.Error, true) + SQLValue(row.SenderProp, false) + "); ";
}

std::string TraceDebugText(const TLogRow& row) {
  return DescribedObject(row) + SQLValue(row.Operation, true) + SQLValue(row.SenderProp, false);
}

std::string ErrorDebugText(const TLogRow& row) {
  return DescribedObject(row) + SQLValue(row.Operation, true) + SQLValue(row.ExceptObject, true) +
         SQLValue(row.Error, true) + SQLValue(row.SenderProp, false);
}

}  // namespace tersify
