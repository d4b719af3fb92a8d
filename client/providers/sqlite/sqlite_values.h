#pragma once
// Values between the framework's Variant and SQLite: binding parameters,
// reading columns by field type, function arguments and results.

#include <sqlite3.h>

#include <string>

#include "framework/data/field_type.h"
#include "framework/rtl/variant.h"

namespace tersify::providers {

// "YYYY-MM-DD HH:MM:SS" with ".mmm" when there are milliseconds; always with the time.
std::string FormatSqliteDateTime(TDateTime value);

// Binds one parameter (1-based index); raises EMSError when SQLite refuses it.
// Text and bytes are copied, unless borrow is set: then the statement reads
// them where they are, and the caller keeps value alive and unchanged until the
// statement is finished (for statements that run to their end at once).
void BindVariant(sqlite3_stmt* stmt, int index, const Variant& value, bool borrow = false);

// The column of the current row as the field type wants it: blob types give
// TBytes, text types strings, date and time types TDateTime (text that is no
// date stays a string), booleans bool. A value whose storage class is not the
// column's kind (text in a blob column, a blob or a number in a text column,
// an integer in a numeric one) comes as it is stored, so that a key read from
// it binds back to exactly the stored value; ftUnknown decides by storage too.
Variant ColumnValue(sqlite3_stmt* stmt, int column, TFieldType type);

// The field type a value's storage class suggests, for columns without a
// declared type: INTEGER -> ftLargeint, REAL -> ftFloat, TEXT -> ftString,
// BLOB -> ftBlob, NULL -> ftUnknown.
TFieldType FieldTypeOfStorage(int storage_class);

Variant FunctionArgument(sqlite3_value* value);
void SetFunctionResult(sqlite3_context* context, const Variant& value);

}  // namespace tersify::providers
