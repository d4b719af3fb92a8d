#pragma once
// Numeric text input: the text functions behind TvrDataset::NumericSetText.
// Text typed into a numeric field is cleaned into plain number text: the
// locale's separators are sorted out, decoration before and after the number
// (currency symbols, blanks) is dropped, and a trailing minus sign or enclosing
// parentheses become a leading minus sign.

#include <memory>
#include <string>
#include <vector>

#include "db/dataset.h"

namespace tersify {

// Whether the field gets the dataset's numeric set-text handler: a writable
// data field of type ftInteger, ftFloat, ftCurrency, ftBCD or ftLargeint.
bool TakesNumericSetText(const TField* field);

// The cleaned form of Text. Separators are the locale's, read at each call.
// An integer-only field loses every thousands separator; any other field keeps
// only its rightmost separator, as the decimal one, when it is the decimal
// separator or when both kinds occur in the text. A decimal separator in an
// integer-only field stays, so that the field's conversion rejects the text
// instead of storing a number ten or more times too large.
std::string NormalizeNumericText(const std::string& Text, bool IntegerOnly);

// The part of S from its first to its last number character ("(", ")", "+",
// "-", digits, "E", the locale's separators). The front scan never looks at the
// last character, so a text without any number character keeps its last one.
std::string TrimToNumber(const std::string& S);

// TrimToNumber of S with a leading "-" (unless empty or already negative).
std::string MakeNegative(const std::string& S);

// The SavedOnSetText of the first helper whose Field is field; unassigned when none.
TFieldSetTextEvent FindSetTextHelper(const std::vector<std::unique_ptr<TSetTextHelper>>& helpers,
                                     const TField* field);

}  // namespace tersify
