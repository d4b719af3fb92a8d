#pragma once

#include "framework/rtl/exception.h"

namespace tersify {

// The framework's database error ("Field 'x' not found", state errors, ...).
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace tersify
