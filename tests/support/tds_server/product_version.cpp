#include "tests/support/tds_server/product_version.h"

#include <cstdio>
#include <stdexcept>

namespace tersify::testing::tds {

ProductVersion ProductVersion::Parse(const std::string& text) {
  ProductVersion v;
  int consumed = 0;
  if (std::sscanf(text.c_str(), "%d.%d.%d.%d%n", &v.major, &v.minor, &v.build, &v.revision,
                  &consumed) != 4 ||
      static_cast<size_t>(consumed) != text.size() || v.major < 7 || v.major > 255 ||
      v.minor < 0 || v.minor > 255 || v.build < 0 || v.build > 65535 || v.revision < 0)
    throw std::invalid_argument("a product version is four numbers such as 11.0.2100.60, not '" +
                                text + "'");
  return v;
}

std::string ProductVersion::Text() const {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build) + "." +
         std::to_string(revision);
}

uint32_t ProductVersion::WireVersion() const {
  return (static_cast<uint32_t>(major) << 24) | (static_cast<uint32_t>(minor) << 16) |
         static_cast<uint32_t>(build);
}

std::string ProductVersion::Banner() const {
  const char* year = major <= 9    ? "2005"
                     : major == 10 ? "2008"
                     : major == 11 ? "2012"
                     : major == 12 ? "2014"
                     : major == 13 ? "2016"
                     : major == 14 ? "2017"
                     : major == 15 ? "2019"
                                   : "2022";
  return std::string("Microsoft SQL Server ") + year + " (RTM) - " + Text() +
         " (X64) Developer Edition (64-bit) on Linux (tds-test-server)";
}

}  // namespace tersify::testing::tds
