#include "tests/support/tds_server/server_errors.h"

#include <strings.h>

#include <algorithm>
#include <cctype>

#include "client/errors.h"

namespace tersify::testing::tds {
namespace {

constexpr int32_t kUserError = 50000;

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

std::string After(const std::string& text, const char* prefix) {
  return text.substr(std::char_traits<char>::length(prefix));
}

// "main.t" -> "t"; "t.k" -> "k" with what = the last part.
std::string LastPart(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(dot + 1);
}
std::string FirstPart(const std::string& name) {
  const size_t dot = name.find('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// "t.a, t.b" -> table t, columns a, b.
void ConstraintColumns(const std::string& list, std::string& table, std::vector<std::string>& columns) {
  size_t at = 0;
  while (at < list.size()) {
    size_t end = list.find(", ", at);
    if (end == std::string::npos) end = list.size();
    const std::string item = list.substr(at, end - at);
    table = FirstPart(item);
    columns.push_back(LastPart(item));
    at = end + 2;
  }
}

bool SameColumns(std::vector<std::string> a, std::vector<std::string> b) {
  auto lower = [](std::vector<std::string>& v) {
    for (std::string& s : v)
      for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::sort(v.begin(), v.end());
  };
  lower(a);
  lower(b);
  return a == b;
}

bool IsUpdate(const std::string& sql) {
  const size_t at = sql.find_first_not_of(" \t\r\n");
  return at != std::string::npos && strncasecmp(sql.c_str() + at, "update", 6) == 0;
}

SqlServerError Make(int32_t number, uint8_t severity, uint8_t state, std::string message,
                    bool terminates = false) {
  SqlServerError e;
  e.number = number;
  e.severity = severity;
  e.state = state;
  e.message = std::move(message);
  e.terminates_statement = terminates;
  return e;
}

SqlServerError FromSqlite(const std::string& message, int code, const ErrorContext& context) {
  if (StartsWith(message, "no such table: "))
    return Make(208, 16, 1, "Invalid object name '" + LastPart(After(message, "no such table: ")) + "'.");
  if (StartsWith(message, "no such column: "))
    return Make(207, 16, 1, "Invalid column name '" + LastPart(After(message, "no such column: ")) + "'.");
  if (StartsWith(message, "UNIQUE constraint failed: ") || StartsWith(message, "PRIMARY KEY must be unique")) {
    std::string table;
    std::vector<std::string> columns;
    ConstraintColumns(After(message, "UNIQUE constraint failed: "), table, columns);
    std::vector<std::string> key;
    if (context.primary_key) {
      try {
        key = context.primary_key(table);
      } catch (const std::exception&) {
      }
    }
    if (!key.empty() && SameColumns(key, columns))
      return Make(2627, 14, 1,
                  "Violation of PRIMARY KEY constraint 'PK_" + table +
                      "'. Cannot insert duplicate key in object 'dbo." + table + "'.",
                  true);
    std::string index = "UQ_" + table;
    for (const std::string& column : columns) index += "_" + column;
    return Make(2601, 14, 1,
                "Cannot insert duplicate key row in object 'dbo." + table + "' with unique index '" +
                    index + "'.",
                true);
  }
  if (StartsWith(message, "NOT NULL constraint failed: ")) {
    const std::string item = After(message, "NOT NULL constraint failed: ");
    return Make(515, 16, 2,
                "Cannot insert the value NULL into column '" + LastPart(item) + "', table '" +
                    context.database + ".dbo." + FirstPart(item) + "'; column does not allow nulls. " +
                    (IsUpdate(context.sql) ? "UPDATE" : "INSERT") + " fails.",
                true);
  }
  if (StartsWith(message, "CHECK constraint failed: tds_size_"))
    return Make(8152, 16, 30, "String or binary data would be truncated.", true);
  if (StartsWith(message, "near \"")) {
    const size_t close = message.find("\": syntax error");
    if (close != std::string::npos)
      return Make(102, 15, 1, "Incorrect syntax near '" + message.substr(6, close - 6) + "'.");
  }
  if (message == "incomplete input") return Make(102, 15, 1, "Incorrect syntax near the end of the statement.");
  if ((code & 0xff) == 8 /* SQLITE_READONLY */ && context.access == DatabaseAccess::ReadOnlyLogin)
    return Make(229, 14, 5,
                "The UPDATE permission was denied on the object, database '" + context.database +
                    "', schema 'dbo'.");
  if ((code & 0xff) == 8 /* SQLITE_READONLY */ && context.access == DatabaseAccess::ReadOnlyDatabase)
    return Make(3906, 16, 1,
                "Failed to update database \"" + context.database + "\" because the database is read-only.");
  if ((code & 0xff) == 5 /* SQLITE_BUSY */ || (code & 0xff) == 6 /* SQLITE_LOCKED */) {
    // Waiting could never have ended (each session waits for the other): a deadlock.
    if (!context.lock_timed_out) {
      SqlServerError e = Make(1205, 13, 51,
                              "Transaction (Process ID " + std::to_string(context.spid) +
                                  ") was deadlocked on lock resources with another process and has "
                                  "been chosen as the deadlock victim. Rerun the transaction.");
      e.ends_transaction = true;
      return e;
    }
    return Make(1222, 16, 51, "Lock request time out period exceeded.");
  }
  return Make(kUserError, 16, 1, message);
}

}  // namespace

SqlServerError ToSqlServerError(const std::exception& error, const ErrorContext& context) {
  if (auto* server = dynamic_cast<const ServerError*>(&error)) {
    SqlServerError e = Make(server->Number(), server->Severity(), server->State(), server->what());
    e.ends_transaction = server->Number() == 1205;
    return e;
  }
  const std::string message = error.what();
  if (StartsWith(message, "String or binary data would be truncated"))
    return Make(8152, 16, 30, "String or binary data would be truncated.", true);
  if (StartsWith(message, "Arithmetic overflow error converting expression to data type"))
    return Make(8115, 16, 2, message);
  if (auto* database = dynamic_cast<const EDAError*>(&error)) {
    const int code = database->NativeError();
    // SQLite's codes keep their primary code in the low byte (at most 28);
    // anything else is already a SQL Server number.
    if (code != 0 && (code & 0xff) > 28) return Make(code, 16, 1, message);
    return FromSqlite(message, code, context);
  }
  return Make(kUserError, 16, 1, message);
}

}  // namespace tersify::testing::tds
