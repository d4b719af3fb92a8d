#include "client/providers/sqlite/sqlite_handles.h"

#include <string>

#include "client/errors.h"
#include "client/providers/sqlite/sqlite_busy_wait.h"

namespace tersify::providers {

void SqliteConnectionCloser::operator()(sqlite3* db) const noexcept {
  ForgetBusyWait(db);
  sqlite3_close_v2(db);
}

const char* SqlStateOf(int extended_code) {
  switch (extended_code & 0xff) {
    case SQLITE_CONSTRAINT: return "23000";
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB: return "08001";
    default: return "HY000";
  }
}

void RaiseSqliteError(sqlite3* db, int rc) {
  int code = rc;
  std::string message;
  if (db != nullptr) {
    const int extended = sqlite3_extended_errcode(db);
    if (extended != SQLITE_OK) code = extended;
    if ((code & 0xff) == SQLITE_BUSY) throw EMSError(LockedMessage(db), "HYT00", code);
    message = sqlite3_errmsg(db);
  } else {
    message = sqlite3_errstr(rc);
  }
  throw EMSError(std::move(message), SqlStateOf(code), code);
}

}  // namespace tersify::providers
