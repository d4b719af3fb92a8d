#pragma once
// The texts of the diagnostic log: how one value is written into an insert
// statement, and the insert statement and debugger line of a trace row and of
// an error row.

#include <cstdint>
#include <string>

namespace tersify {

// The values of one row of table Log, as gathered when the entry is made.
struct TLogRow {
  std::string FormName;
  std::string ControlName;
  std::string SenderName;
  std::string ObjectName;
  std::string AppName;
  std::string BuildNo;
  uint32_t TickCount = 0;
  std::string Operation;
  std::string ExceptObject;  // error rows only
  std::string Error;         // error rows only
  std::string SenderProp;
};

// One value as the statements write it: NUL characters removed; nothing left
// gives the bare word NULL, anything else goes between double quotes with each
// double quote doubled. With comma, a comma follows directly.
std::string SQLValue(const std::string& text, bool comma);

// The insert statement of a trace row (no ExceptObject, no Error).
std::string TraceInsertStatement(const TLogRow& row);
// The insert statement of an error row.
std::string ErrorInsertStatement(const TLogRow& row);

// What the WINDBG switch sends to the debugger output for a trace row and for
// an error row.
std::string TraceDebugText(const TLogRow& row);
std::string ErrorDebugText(const TLogRow& row);

}  // namespace tersify
