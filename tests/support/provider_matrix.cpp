#include "tests/support/provider_matrix.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace tersify::testing {

// The TDS test server serving the file, for "odbc" (filled in with the server).
struct TestDatabase::Server {};

std::vector<std::string> AvailableProviders() { return {"sqlite"}; }

TestDatabase::TestDatabase(const std::string& provider) : provider_(provider) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tersify-test-XXXXXX";
  int fd = mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("cannot create a test database file");
  close(fd);
  file_path_ = pattern;
  if (provider == "sqlite") {
    settings_.server = "sqlite";
    settings_.database = file_path_;
  } else {
    throw std::runtime_error("provider not available: " + provider);
  }
}

TestDatabase::~TestDatabase() {
  server_.reset();
  unlink(file_path_.c_str());
  unlink((file_path_ + "-journal").c_str());
}

void TestDatabase::ExecDirect(const std::string& sql) const {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file_path_.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    throw std::runtime_error(message);
  }
  char* error = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("set-up failed: " + message + " in: " + sql);
}

}  // namespace tersify::testing
