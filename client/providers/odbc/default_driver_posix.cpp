#include "client/providers/odbc/connection_string.h"

namespace tersify::providers::odbc {

const std::string& DefaultDriver() {
  static const std::string driver = "FreeTDS";
  return driver;
}

bool EmptyUserMeansWindowsLogin() { return false; }

}  // namespace tersify::providers::odbc
