#pragma once
// The exception family: every error of the system carries its message text.

#include <exception>
#include <string>

#include "framework/rtl/object.h"

namespace tersify {

class Exception : public TObject, public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}

  const std::string& Message() const { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

  // Why, beyond the message: a fixed message text stays exact, and whoever
  // reports the error shows the detail apart from it. Empty when there is none.
  const std::string& Detail() const { return detail_; }
  void SetDetail(std::string detail) { detail_ = std::move(detail); }

 private:
  std::string message_;
  std::string detail_;
};

// A silent exception: it ends an operation without an error report.
class EAbort : public Exception {
 public:
  explicit EAbort(std::string message = "Operation aborted") : Exception(std::move(message)) {}
};

class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

class EVariantError : public Exception {
 public:
  using Exception::Exception;
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

class EComponentError : public Exception {
 public:
  using Exception::Exception;
};

class EListError : public Exception {
 public:
  using Exception::Exception;
};

// printf-style formatting into a std::string, as the system's message texts use.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tersify
