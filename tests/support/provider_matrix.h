#pragma once
// The provider matrix: every suite that touches a database runs once per
// provider. "sqlite" reaches a fresh SQLite file directly; "odbc" reaches the
// same kind of file through FreeTDS's ODBC driver and the TDS test server;
// "odbc-tls" does the same with a server that requires encryption, reached
// with the driver's default settings.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/providers/provider.h"
#include "tests/support/tds_server/server_state.h"
#include "tests/support/tds_server/tds_test_server.h"

namespace tersify::testing {

// The providers this machine can test: always "sqlite"; "odbc" when FreeTDS's
// ODBC driver is installed.
std::vector<std::string> AvailableProviders();
// Whether name is among AvailableProviders().
bool ProviderAvailable(const std::string& name);
// The same and "odbc-tls" when "odbc" is there: for the suites that run the
// program's console cases once more over an encrypted connection.
std::vector<std::string> AvailableProvidersWithTls();

// The first column of the first row of sql in the SQLite file, as stored
// (bytes of a blob, text as written, empty for NULL); raises when there is no row.
std::string ReadStoredBytes(const std::string& file, const std::string& sql);

// X'..' literal of bytes, for set-up statements.
inline std::string HexLiteral(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out = "X'";
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out + "'";
}

// A fresh database for one test: a temporary SQLite file and, for "odbc", a TDS
// test server on 127.0.0.1 serving it. Removed when destroyed.
class TestDatabase {
 public:
  // record_wire keeps every byte the test server reads from its clients'
  // sockets, before any decryption ("odbc", "odbc-tls").
  explicit TestDatabase(const std::string& provider, bool record_wire = false);
  // "odbc" and "odbc-tls" serve the file under these rules (collation,
  // product version); "sqlite" ignores them.
  TestDatabase(const std::string& provider, const TdsServerRules& rules, bool record_wire = false);
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  const std::string& Provider() const { return provider_; }
  // What a client passes to connect (server, database, user, password, port).
  const providers::ConnectionSettings& Settings() const { return settings_; }
  // The SQLite file behind the database.
  const std::string& FilePath() const { return file_path_; }
  // Runs set-up statements (several, separated by ';') straight on the SQLite
  // file, outside the connection under test. A served file's tables are
  // created as the server creates them (its collations, its size checks).
  void ExecDirect(const std::string& sql) const;
  // The first column of the first row of sql, as SQLite stores it, read past
  // the connection under test; raises when there is no row.
  std::string StoredBytes(const std::string& sql) const { return ReadStoredBytes(file_path_, sql); }
  // What reached the server's sockets so far, when recorded.
  std::string WireBytes() const;

  // "odbc" only (raise for "sqlite"): the TDS test server stops answering while
  // every socket stays open, or answers again.
  void SetServerFrozen(bool frozen);
  // "odbc" only: the server goes away as a killed one would, closing every
  // connection; nothing answers on its port afterwards.
  void StopServer();
  // "odbc" only: the next query whose text holds `containing` fails with
  // SQL Server's error 601, once.
  void FailNextServerRead(const std::string& containing);
  // "odbc" only: of the requests whose text holds `containing`, the `times`
  // after `skip` others fail with SQL Server's error 1205 (deadlock victim).
  void DeadlockNextServerWrite(const std::string& containing, int skip = 0, int times = 1);
  // "odbc" only: the same for single statements, counted across requests:
  // the one chosen fails as it is about to run, after the statements of its
  // request before it ran (TdsTestServer::DeadlockNextStatement).
  void DeadlockNextServerStatement(const std::string& containing, int skip = 0, int times = 1);
  // "odbc" only: what the server's catalogue views say of a table beyond what
  // SQLite knows (tds_server/catalog_views.h).
  void MarkServerTable(const std::string& table, const tds::TableMarks& marks);
  // "odbc" only: the lines the server logged so far, one per request (its
  // text), login and error.
  std::vector<std::string> ServerLog() const;
  // "odbc" only: the requests the server has received so far.
  tds::RequestCounts ServerRequests() const;
  // The rows the test server sent for statements holding `containing`
  // (TdsTestServer::CountRowsSentFor).
  void CountServerRowsSentFor(const std::string& containing);
  uint64_t ServerRowsSentFor() const;

 private:
  struct Server;
  void Start(bool record_wire, const TdsServerRules& rules);
  std::string provider_;
  std::string file_path_;
  providers::ConnectionSettings settings_;
  std::unique_ptr<Server> server_;
};

// Names a parameterised test after its provider.
struct ProviderName {
  std::string operator()(const ::testing::TestParamInfo<std::string>& info) const {
    std::string name = info.param;  // test names take letters, digits and '_' only
    for (char& c : name)
      if (c == '-') c = '_';
    return name;
  }
};

}  // namespace tersify::testing
