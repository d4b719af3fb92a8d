#include "tests/support/provider_matrix.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <memory>
#include <stdexcept>

#include "tests/support/tds_server/served_file.h"
#include "tests/support/tds_server/server_sql.h"
#include "tests/support/tds_server/tds_test_server.h"

namespace tersify::testing {

namespace {

// The database, login and password every "odbc" test database is served
// under. The password holds ';' and '}' so that connection-string escaping is
// exercised by every test that connects.
const char kOdbcDatabase[] = "tersify_test";
const char kOdbcUser[] = "tersify";
const char kOdbcPassword[] = "Tds;Pass}word1";

std::string OdbcDriverName() {
  const char* name = std::getenv("TERSIFY_ODBC_DRIVER");
  return name && *name ? name : "FreeTDS";
}

// Whether unixODBC knows the driver by name (odbcinst.ini), asked through SQLDrivers.
bool OdbcDriverRegistered(const std::string& driver) {
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return false;
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  bool found = false;
  SQLCHAR name[256], attributes[1024];
  SQLSMALLINT name_length, attributes_length;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (!found && SQL_SUCCEEDED(SQLDrivers(env, direction, name, sizeof name, &name_length,
                                            attributes, sizeof attributes, &attributes_length))) {
    found = strcasecmp(reinterpret_cast<const char*>(name), driver.c_str()) == 0;
    direction = SQL_FETCH_NEXT;
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return found;
}

}  // namespace

// The TDS test server serving the file, for "odbc" and "odbc-tls".
struct TestDatabase::Server {
  Server(const std::string& file, tds::Encryption encryption, bool record_wire,
         const TdsServerRules& rules)
      : server(file, kOdbcDatabase, kOdbcUser, kOdbcPassword, 0,
               [this](const std::string& line) {
                 std::lock_guard<std::mutex> lock(mutex);
                 log.push_back(line);
               },
               Tls(encryption, record_wire), rules),
        collation(tds::DatabaseCollation::Parse(rules.collation)) {}
  TdsTlsOptions Tls(tds::Encryption encryption, bool record_wire) {
    TdsTlsOptions tls;
    tls.encryption = encryption;
    if (record_wire) {
      tls.wire_tap = [this](std::string_view bytes) {
        std::lock_guard<std::mutex> lock(mutex);
        wire.append(bytes);
      };
    }
    return tls;
  }
  std::mutex mutex;
  std::string wire;  // guarded by mutex
  std::vector<std::string> log;  // guarded by mutex
  TdsTestServer server;
  tds::DatabaseCollation collation;
};

std::vector<std::string> AvailableProviders() {
  static const std::vector<std::string> providers = [] {
    std::vector<std::string> list = {"sqlite"};
    if (OdbcDriverRegistered(OdbcDriverName())) list.push_back("odbc");
    return list;
  }();
  return providers;
}

bool ProviderAvailable(const std::string& name) {
  const std::vector<std::string> providers = AvailableProviders();
  return std::find(providers.begin(), providers.end(), name) != providers.end();
}

std::vector<std::string> AvailableProvidersWithTls() {
  std::vector<std::string> list = AvailableProviders();
  if (std::find(list.begin(), list.end(), "odbc") != list.end()) list.push_back("odbc-tls");
  return list;
}

TestDatabase::TestDatabase(const std::string& provider, bool record_wire) : provider_(provider) {
  Start(record_wire, TdsServerRules());
}

TestDatabase::TestDatabase(const std::string& provider, const TdsServerRules& rules, bool record_wire)
    : provider_(provider) {
  Start(record_wire, rules);
}

void TestDatabase::Start(bool record_wire, const TdsServerRules& rules) {
  const std::string& provider = provider_;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tersify-test-XXXXXX";
  int fd = mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("cannot create a test database file");
  close(fd);
  file_path_ = pattern;
  if (provider == "sqlite") {
    settings_.server = "sqlite";
    settings_.database = file_path_;
  } else if (provider == "odbc" || provider == "odbc-tls") {
    try {
      server_ = std::make_unique<Server>(
          file_path_, provider == "odbc-tls" ? tds::Encryption::Required : tds::Encryption::Off, record_wire,
          rules);
    } catch (...) {
      unlink(file_path_.c_str());
      throw;
    }
    settings_.server = "127.0.0.1";
    settings_.port = server_->server.Port();
    settings_.database = kOdbcDatabase;
    settings_.username = kOdbcUser;
    settings_.password = kOdbcPassword;
  } else {
    unlink(file_path_.c_str());
    throw std::runtime_error("provider not available: " + provider);
  }
}

namespace {

[[noreturn]] void NoServer(const std::string& provider) {
  throw std::logic_error("the " + provider + " test database has no TDS test server");
}

}  // namespace

void TestDatabase::SetServerFrozen(bool frozen) {
  if (!server_) NoServer(provider_);
  server_->server.SetFrozen(frozen);
}

void TestDatabase::StopServer() {
  if (provider_ != "odbc") NoServer(provider_);
  server_.reset();
}

void TestDatabase::FailNextServerRead(const std::string& containing) {
  if (!server_) NoServer(provider_);
  server_->server.FailNextRead(containing);
}

void TestDatabase::MarkServerTable(const std::string& table, const tds::TableMarks& marks) {
  if (!server_) NoServer(provider_);
  server_->server.MarkTable(table, marks);
}

void TestDatabase::DeadlockNextServerWrite(const std::string& containing, int skip, int times) {
  if (!server_) NoServer(provider_);
  server_->server.DeadlockNextWrite(containing, skip, times);
}

void TestDatabase::DeadlockNextServerStatement(const std::string& containing, int skip, int times) {
  if (!server_) NoServer(provider_);
  server_->server.DeadlockNextStatement(containing, skip, times);
}

tds::RequestCounts TestDatabase::ServerRequests() const {
  if (!server_) NoServer(provider_);
  return server_->server.Requests();
}

void TestDatabase::CountServerRowsSentFor(const std::string& containing) {
  if (!server_) NoServer(provider_);
  server_->server.CountRowsSentFor(containing);
}

uint64_t TestDatabase::ServerRowsSentFor() const {
  if (!server_) NoServer(provider_);
  return server_->server.RowsSentFor();
}

TestDatabase::~TestDatabase() {
  server_.reset();
  unlink(file_path_.c_str());
  unlink((file_path_ + "-journal").c_str());
}

std::vector<std::string> TestDatabase::ServerLog() const {
  if (!server_) NoServer(provider_);
  std::lock_guard<std::mutex> lock(server_->mutex);
  return server_->log;
}

std::string TestDatabase::WireBytes() const {
  if (!server_) return {};
  std::lock_guard<std::mutex> lock(server_->mutex);
  return server_->wire;
}

void TestDatabase::ExecDirect(const std::string& sql) const {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file_path_.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    throw std::runtime_error(message);
  }
  sqlite3_busy_timeout(db, 5000);  // a served connection may hold the file for a moment
  tds::PrepareServedConnection(db);
  const std::string run = server_ ? tds::DeclareColumnRules(sql, server_->collation) : sql;
  char* error = nullptr;
  int rc = sqlite3_exec(db, run.c_str(), nullptr, nullptr, &error);
  std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("set-up failed: " + message + " in: " + sql);
}

std::string ReadStoredBytes(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot open the test database " + file);
  }
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> guard(db, sqlite3_close);
  sqlite3_busy_timeout(db, 5000);
  tds::PrepareServedConnection(db);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
    throw std::runtime_error(std::string("cannot prepare: ") + sqlite3_errmsg(db));
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
  if (sqlite3_step(raw) != SQLITE_ROW) throw std::runtime_error("no row: " + sql);
  const void* bytes = sqlite3_column_blob(raw, 0);
  const int size = sqlite3_column_bytes(raw, 0);
  return bytes ? std::string(static_cast<const char*>(bytes), static_cast<size_t>(size)) : std::string();
}

}  // namespace tersify::testing
