#pragma once
// The loop a DBA would write against SQL Server through plain ODBC, with the
// driver and connection keywords the tool uses: every row selected into
// memory first (FreeTDS runs one statement at a time on a connection), then
// one prepared UPDATE per rewritten row with bound parameters, in autocommit
// or inside one transaction.

#include <string>

namespace tersify::bench {

struct OdbcTarget {
  std::string server;  // host, host,port or host\instance
  std::string database;
  std::string user;
  std::string password;
};

// One compress or decompress pass over tqz_reports; prints
// "rows N rewritten M seconds S". Throws on any failure, and when an update
// writes no row or several.
void OdbcPass(const OdbcTarget& target, bool compress, bool transaction);

}  // namespace tersify::bench
