#include "client/providers/sqlite/sqlite_handles.h"

#include <string>

#include "client/errors.h"

namespace tersify::providers {

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
    message = sqlite3_errmsg(db);
  } else {
    message = sqlite3_errstr(rc);
  }
  throw EMSError(std::move(message), SqlStateOf(code), code);
}

}  // namespace tersify::providers
