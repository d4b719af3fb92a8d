#pragma once
// The key a pass starts after (/FROM=): the user's text read in the key
// column's own type, so that the server compares it with the stored keys as
// it compares two keys (text by its collation, numbers as numbers), exactly
// as it compares the last key of one page with the keys of the next.

#include <string>

#include "client/providers/provider.h"
#include "framework/rtl/exception.h"
#include "framework/rtl/variant.h"

namespace tersify {

struct TPassTarget;
struct TRecompressOptions;

// The text cannot be read as a key of the column's type.
class EStartKeyError : public Exception {
 public:
  using Exception::Exception;
};

// text as a value of the key column: whole numbers for integer columns,
// numbers for the others that hold numbers, 0x and hex digits for binary
// columns, a date and time for date columns, UTF-8 text for text columns. A
// column without a declared type takes a number when the text is one, else
// the text. Raises EStartKeyError for text of another form.
Variant StartKeyFrom(const std::string& text, const providers::ColumnInfo& key_column);

// The options' /FROM= key for the target's key column; NULL when none is given.
Variant StartKeyOf(const TPassTarget& target, const TRecompressOptions& options);

}  // namespace tersify
