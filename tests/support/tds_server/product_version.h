#pragma once
// The SQL Server version the test server claims to be: in PRELOGIN, in
// LOGINACK (what a driver reports as the server's version), in @@VERSION and
// in SERVERPROPERTY('ProductVersion').

#include <cstdint>
#include <string>

namespace tersify::testing::tds {

struct ProductVersion {
  int major = 16, minor = 0, build = 1000, revision = 6;  // SQL Server 2022 RTM

  // Four dot-separated numbers, "11.0.2100.60". Raises std::invalid_argument otherwise.
  static ProductVersion Parse(const std::string& text);
  std::string Text() const;  // "16.0.1000.6"
  // major, minor and build as LOGINACK and PRELOGIN carry them (big-endian: major first).
  uint32_t WireVersion() const;
  // What @@VERSION answers: "Microsoft SQL Server 2022 (RTM) - 16.0.1000.6 (X64) ...".
  std::string Banner() const;
};

}  // namespace tersify::testing::tds
