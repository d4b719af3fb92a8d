#pragma once
// What the server makes of a client's T-SQL before SQLite runs it, where
// SQL Server's rules differ from SQLite's and the tool relies on them:
//
//   - CREATE TABLE: every char/varchar/nchar/nvarchar column gets the
//     database's collation (collation.h) unless it names one, and every
//     sized string or binary column a check of its size, so that a longer
//     value fails as "String or binary data would be truncated".
//   - CREATE TABLE while SET ANSI_PADDING is OFF: every varbinary column is
//     marked unpadded (a constraint "tds_unpadded_<column>"); such a column
//     loses the trailing 0x00 bytes of what is stored in it (served_file.h).
//   - sys.<view>, in any letter case and quoted or not, names the session's
//     view tds_sys_<view> (catalog_views.h): sys.tables, sys.columns,
//     sys.types, sys.indexes, sys.dm_db_log_space_usage and the others the
//     tool reads.
//   - Names: dbo.t, [dbo].[t], db.dbo.t and db..t in the current database
//     name the table t.
//   - @@VERSION, SERVERPROPERTY('ProductVersion' / 'ProductMajorVersion' /
//     'ProductLevel' / 'Edition') answer the server's version.
//   - CONVERT(type, expression) runs as CAST(expression AS type).
//   - COUNT_BIG(...) runs as count(...).
//   - @@ROWCOUNT is the count of rows the last statement wrote.
//   - Before 2016 (major version below 13), CAST(x AS varbinary(max)) = y
//     ignores trailing 0x00 bytes on both sides, as those servers compare
//     varbinary values.
//   - N'...' is text that compares under the Unicode collation, as an
//     nvarchar parameter does (sql_parameters.h).
//
// Quoted text, quoted names and comments are left alone.

#include <optional>
#include <string>
#include <vector>

#include "tests/support/tds_server/collation.h"
#include "tests/support/tds_server/database_access.h"
#include "tests/support/tds_server/product_version.h"

namespace tersify::testing::tds {

// The name of the constraint that marks an unpadded varbinary column, before
// the column's name.
inline constexpr const char* kUnpaddedMark = "tds_unpadded_";

struct SqlRules {
  std::string database;  // the current database's name
  DatabaseCollation collation;
  ProductVersion version;
  int spid = 0;  // the session's, for messages that name it
  DatabaseAccess access = DatabaseAccess::ReadWrite;
  bool nocount = false;  // the session starts with NOCOUNT on (the server's 'user options')
  bool ansi_padding = true;  // SET ANSI_PADDING: a varbinary column created while off is unpadded
};

// The statement (or batch) as SQLite should run it.
std::string ServerSql(const std::string& sql, const SqlRules& rules);

// Only the CREATE TABLE part of ServerSql: for set-up statements run on the
// served file past the server.
std::string DeclareColumnRules(const std::string& sql, const DatabaseCollation& collation);

// The session options a batch sets, wherever its SET statements stand.
struct SessionOptions {
  std::optional<bool> nocount;
  std::optional<bool> ansi_padding;
  std::optional<int> lock_timeout_ms;  // -1: wait for ever
  std::optional<int64_t> textsize;     // 0: the server's default
};

// The batch without its SET statements of session options (NOCOUNT,
// XACT_ABORT, LOCK_TIMEOUT, TRANSACTION ISOLATION LEVEL, TEXTSIZE, ROWCOUNT,
// ANSI_* and the like), which SQLite does not know; what they set goes to
// `options`. A batch of nothing but such statements comes back unchanged.
std::string TakeSetStatements(const std::string& sql, SessionOptions& options);

// T-SQL's transaction statements as SQLite's: BEGIN TRAN[SACTION] [name],
// COMMIT [TRAN[SACTION] [name] | WORK], SAVE TRAN[SACTION] name, and
// ROLLBACK [TRAN[SACTION] [name] | WORK] (to the savepoint when name is one
// of `savepoints`, which SAVE TRANSACTION adds to).
std::string TransactionStatements(const std::string& sql, std::vector<std::string>& savepoints);

// Whether the text is one statement (nothing follows a ';' but blanks and comments).
bool IsSingleStatement(const std::string& sql);

// Whether the text is an EXEC of a procedure (its arguments are the
// provider's to read, so they are left exactly as sent).
bool IsExec(const std::string& sql);

}  // namespace tersify::testing::tds
