#pragma once
// A dataset filter in its text form: comparisons of a field with a literal,
// joined by "and" and "or", negated by "not", grouped by parentheses:
//
//   acCode = 'A1' or (anQty >= 10 and not acName = 'x*')
//
// A field is a name (letters, digits, _ $ # @, dots) or a bracketed name; a
// literal is a quoted text ('' stands for one quote), a number or NULL. The
// operators are = <> < > <= >=, and "is null" / "is not null". A text
// compares as text, a number as a number; NULL equals only a null value, and a
// null value passes no other comparison. A text ending in * matches every
// value that begins with the rest (= and <>), unless foNoPartialCompare is
// set; foCaseInsensitive ignores letter case in text comparisons. Keywords are
// read in any letter case.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/rtl/variant.h"

namespace tersify {

// Filter options of a dataset (a set: foCaseInsensitive | foNoPartialCompare).
enum TFilterOption : uint8_t { foCaseInsensitive = 1, foNoPartialCompare = 2 };
using TFilterOptions = uint8_t;

class TFilterExpression {
 public:
  // Raises EDatabaseError ("Filter expression incorrect: ...") when the text
  // cannot be read.
  TFilterExpression(const std::string& text, TFilterOptions options);
  ~TFilterExpression();
  TFilterExpression(TFilterExpression&&) noexcept;
  TFilterExpression& operator=(TFilterExpression&&) noexcept;

  // Whether a row passes; value_of gives a field's value by name (and raises
  // for a name the row does not have).
  bool Matches(const std::function<Variant(const std::string& field)>& value_of) const;

  struct Node;

 private:
  std::unique_ptr<Node> root_;
  TFilterOptions options_;
};

}  // namespace tersify
